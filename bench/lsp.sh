#!/usr/bin/env bash
# The language server's latency: builds the bench preset, generates a script of
# 1,000 rooms (about 400 KB) in a folder of its own, and times, for 15 changes of
# one character each, how long mavo-check --lsp takes to publish the script's new
# diagnostics; prints each time and the median (the target: 30 ms).
#
#   bench/lsp.sh [--no-build] [--rooms N] [--changes N]
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="$ROOT/build/bench"
ROOMS=1000
CHANGES=15
BUILD_FIRST=true
while [[ $# -gt 0 ]]; do
  case $1 in
    --no-build) BUILD_FIRST=false; shift ;;
    --rooms) ROOMS=$2; shift 2 ;;
    --changes) CHANGES=$2; shift 2 ;;
    *) echo "usage: bench/lsp.sh [--no-build] [--rooms N] [--changes N]" >&2; exit 2 ;;
  esac
done
command -v node > /dev/null || { echo "bench/lsp.sh: node is needed" >&2; exit 2; }
if [[ $BUILD_FIRST == true ]]; then
  (cd "$ROOT" && cmake --preset bench > /dev/null && cmake --build --preset bench --target mavo-check gen_script > /dev/null)
fi
work="$BUILD/lsp"
rm -rf "$work"
mkdir -p "$work"
"$BUILD/bench/gen_script" "$ROOMS" > "$work/rooms.qst"
node "$ROOT/bench/lsp_bench.js" "$BUILD/mavo-check" "$work/rooms.qst" "$CHANGES"
