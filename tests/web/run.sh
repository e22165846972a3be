#!/usr/bin/env bash
# The tests of mavo-urqw.js (CI runs this after the test suite):
#   1. builds it with the "web" preset (Debian's emscripten, installed when missing),
#      the program with the "release" preset and the script generator with "bench",
#      where they are not built yet;
#   2. under node: expand against the program, character for character, in cp1251
#      and UTF-8, on the examples, the fuzz corpus and regressions and the 40,000-room
#      script of the benchmark; a script whose result is gigabytes runs out of memory
#      and leaves the text as it was;
#   3. under node: the time of expand on the 1,000-room script (400 KB), median of 21
#      runs against the target of 50 ms (reported, not failed: a busy machine);
#   4. in a real browser: UrqW's app (URQW_APP, by default ../shared/urqw/app beside
#      the checkout) played by Debian's chromium through puppeteer-core (both installed
#      here when missing); skipped with one line where the app or chromium is missing.
# Exits non-zero when a test fails. Reads no input.
set -euo pipefail
exec </dev/null
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$root"
source scripts/apt.sh
export DEBIAN_FRONTEND=noninteractive

step() { echo "-- $* ($(date -u +%H:%M:%S))"; }

step "mavo-urqw.js (preset web), mavo (release) and the script generator (bench)"
cmake --preset web >/dev/null
cmake --build --preset web
[[ -x build/release/mavo ]] || { cmake --preset release >/dev/null && cmake --build --preset release --target mavo; }
[[ -x build/bench/bench/gen_script ]] || { cmake --preset bench >/dev/null && cmake --build --preset bench --target gen_script; }
module=build/web/src/web/mavo-urqw.js
work="$(mktemp -d "${TMPDIR:-/tmp}/mavo-web.XXXXXX")"
trap 'rm -rf "$work"' EXIT
build/bench/bench/gen_script 40000 >"$work/rooms-40000.qst"
build/bench/bench/gen_script 1000 >"$work/rooms-1000.qst"

app="${URQW_APP:-$root/../shared/urqw/app}"
step "expand against the program under node"
node tests/web/expand_test.js "$module" build/release/mavo "$( [[ -f "$app/js/tools.js" ]] && echo "$app" || echo -)" \
  --out-of-memory fuzz/regressions/explosive-output.qst \
  examples fuzz/corpus fuzz/regressions/checker-*.qst "$work/rooms-40000.qst"

step "the time of expand under node"
node tests/web/bench.js "$module" "$work/rooms-1000.qst"

step "UrqW in chromium"
if [[ ! -f "$app/index.html" ]]; then
  echo "skipped: no UrqW app at $app (set URQW_APP)"
  exit 0
fi
command -v chromium >/dev/null || apt_install chromium || true
if ! command -v chromium >/dev/null; then
  echo "skipped: chromium is missing and could not be installed"
  exit 0
fi
(cd tests/web && npm ci --no-audit --no-fund --loglevel=error)
cp -r "$app" "$work/urqw"
chmod -R u+w "$work/urqw"
(cd "$work/urqw" && npm ci --omit=dev --no-audit --no-fund --loglevel=error)
node tests/web/browser_test.js "$module" build/release/mavo "$work/urqw" "$(command -v chromium)"
