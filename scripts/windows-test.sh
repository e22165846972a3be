#!/usr/bin/env bash
# Builds the 32-bit Windows console program (build/mingw32/mavo.exe) with Debian's
# mingw-w64 and tests it under wine on this Linux machine:
#   1. installs the cross compiler and wine when they are missing;
#   2. makes a quiet, headless wine prefix in build/wine;
#   3. configures and builds the mingw32 preset and runs its unit tests under wine;
#   4. builds the command-line suite natively and runs it against mavo.exe via wine;
#   5. runs the Linux mavo and mavo.exe on the examples and on inputs with CR LF,
#      LF, lone CR, Ctrl-Z and NUL bytes, each in a fresh folder, and compares the
#      mavo.qst they write byte for byte;
#   6. packs the Windows .zip and checks what it holds.
# Reads no input and asks nothing. A failed install or build stops it at once; the
# test steps all run, and it exits non-zero at the end when any of them failed.
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive
export CI="${CI:-true}"
exec </dev/null

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

script_start=$SECONDS
phase_start=$SECONDS
phase() {
  if [[ -n "${phase_name:-}" ]]; then
    echo "== ${phase_name}: $((SECONDS - phase_start)) s"
  fi
  phase_name="$1"
  phase_start=$SECONDS
  [[ -n "$phase_name" ]] && echo "== ${phase_name}"
  return 0
}
fail() {
  echo "windows-test: $*" >&2
  exit 1
}
failures=()
failed_step() {
  echo "windows-test: FAILED: $*" >&2
  failures+=("$*")
}

# ---- 1. packages ----------------------------------------------------------------
phase "packages"
as_root() {
  if [[ "$(id -u)" -eq 0 ]]; then "$@"; else sudo -n "$@"; fi
}
missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
[[ -f /usr/src/googletest/CMakeLists.txt ]] || missing+=(googletest)  # built for Windows
[[ -f /usr/include/gtest/gtest.h ]] || missing+=(libgtest-dev)        # the native build's
command -v i686-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-i686)
command -v wine >/dev/null || missing+=(wine)
[[ -x /usr/lib/wine/wine ]] || missing+=(wine32)  # the loader of 32-bit programs
if ((${#missing[@]} > 0)); then
  echo "installing: ${missing[*]}"
  install_start=$SECONDS
  # wine32 is an i386 package: the architecture has to be known to apt first.
  if [[ " ${missing[*]} " == *" wine32 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root apt-get update -q
  # Console programs need none of wine's recommended desktop libraries.
  as_root apt-get install -y -q --no-install-recommends "${missing[@]}"
  echo "installed in $((SECONDS - install_start)) s"
fi

# ---- 2. wine prefix ---------------------------------------------------------------
phase "wine prefix"
export WINEPREFIX="$root/build/wine"
export WINEDEBUG=-all
# No .NET or HTML engine: their installers would ask to download one.
export WINEDLLOVERRIDES="mscoree,mshtml="
# The same on every machine: no window, whether or not a display is there.
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX"
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  wineboot -i
  wineserver -w
fi
# One server for the whole run: every wine start then takes milliseconds, not most
# of a second, which also keeps test discovery far inside its 5 s limit.
wineserver -p
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wine cmd /c ver | tr -d '\r' | grep . || fail "wine does not start"

# ---- 3. cross build and unit tests ------------------------------------------------
phase "mingw32 build"
cmake --preset mingw32 -DMAVO_WINEPREFIX="$WINEPREFIX"
cmake --build --preset mingw32
exe="$root/build/mingw32/mavo.exe"
[[ -f "$exe" ]] || fail "no $exe"
# One file: the program must not load any DLL that a bare Windows does not have.
if i686-w64-mingw32-objdump -p "$exe" | grep -iE 'DLL Name: *(libstdc|libgcc|libwinpthread)'; then
  fail "mavo.exe depends on a mingw runtime DLL"
fi

phase "unit tests under wine"
ctest --preset mingw32 --no-tests=error || failed_step "unit tests under wine (ctest)"
# gtest_discover_tests makes one ctest test per line of the listing the .exe
# prints under wine, and each runs with a filter made from that line: a filter
# that matches nothing would run no test and still pass. So each must have run
# exactly one test, and together all the tests the executables list.
log=build/mingw32/Testing/Temporary/LastTest.log
ran=$(grep -c '^\[==========\] 1 test from 1 test suite ran\.' "$log" || true)
empty=$(grep -c '^\[==========\] 0 tests from 0 test suites ran\.' "$log" || true)
listed=0
for test_exe in build/mingw32/tests/*.exe; do
  n=$(wine "$test_exe" --gtest_list_tests | tr -d '\r' | grep '^  ' | grep -vc 'DISABLED_' || true)
  ((n > 0)) || fail "$test_exe lists no test"
  listed=$((listed + n))
done
echo "unit tests under wine: $listed listed, $ran ran one test each, $empty ran none"
((empty == 0 && ran == listed)) || failed_step "the ctest tests do not run the listed tests one by one"

# ---- 4. native build and the command-line suite -----------------------------------
phase "native build"
cmake --preset release
native_targets=(mavo)
if [[ -f tests/cli_test.cc ]]; then native_targets+=(mavo_cli_tests); fi
cmake --build --preset release --target "${native_targets[@]}"
native="$root/build/release/mavo"

phase "command-line suite under wine"
if [[ -f tests/cli_test.cc ]]; then
  build/release/tests/mavo_cli_tests "$exe" wine || failed_step "command-line suite under wine"
else
  echo "tests/cli_test.cc is not there yet: command-line suite not run"
fi

# ---- 5. the same bytes from both programs -----------------------------------------
phase "byte identity, Linux and Windows"
scratch="$(mktemp -d)"
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT
inputs="$scratch/inputs"
mkdir "$inputs"

# A script with every kind of statement the expansion meets, written with LF. It
# and every other input start with a line of their own, since a keyword at the
# very start of the text never begins a statement.
cat >"$inputs/lf.qst" <<'EOF'
:start
Welcome.
mavo hall,Go to the hall & print You walk in.
mavo hall,Go to the hall & print You walk in.
mavo cellar, Down	the stairs & {print Dark.
set lamp=1}
if lamp then mavo roof,Climb & print Windy.
if lamp then btn x,y else mavo out,Leave & goto start
mavo plain,Just a button
; mavo commented,Out & print no
/* mavo inside,A comment & print no
*/
 mavo   garden , Out & print Green. & more
_ continued here
mavo :start,Odd label & print odd
:hall
The hall.
end
EOF
# The same with CR LF, as Windows editors write it.
sed 's/$/\r/' "$inputs/lf.qst" >"$inputs/crlf.qst"
# Text mode ends at the first Ctrl-Z: the statement after it must not count.
{ cat "$inputs/crlf.qst"; printf '\032mavo after,After the end & print no\r\n'; } >"$inputs/ctrl-z.qst"
# Ctrl-Z first: an empty script.
printf '\032:start\r\nmavo a,b & c\r\n' >"$inputs/ctrl-z-first.qst"
# NUL bytes in a label, a caption, the actions and between lines. (Not "nul.qst":
# on Windows NUL, CON, AUX, PRN, COM1... name devices, whatever the extension.)
printf ':start\nmavo n\000l,Cap\000tion & print a\000b\n\000\nmavo x,y & {p\000q}\n:n\000l\n' >"$inputs/nul-bytes.qst"
# Lone CR in a line, before CR LF, doubled, and as the very last byte.
printf ':start\nmavo a,b\rc & print x\r\r\nmavo d,e & print f\rg\n\r\nmavo h,i & j\r\r' >"$inputs/lone-cr.qst"
# Mixed line ends and no newline at the end.
printf ':start\r\nmavo a,b & c\r\nmavo d,e & f\nmavo g,h & i' >"$inputs/mixed-no-final-newline.qst"
# Bytes above 127, as UTF-8 and as Latin-1.
printf ':start\nmavo caf\303\251,Gr\374\337e & print \342\202\254 \377\n' >"$inputs/high-bytes.qst"
# The file is read in 64 KiB pieces: a CR LF split across the first boundary.
{
  printf ':start\r\nmavo big,Button & print '
  printf '%*s' $((65535 - 32)) '' | tr ' ' 'x'
  printf '\r\nmavo big2,Two & print y\r\n'
  for i in $(seq 1 3000); do printf 'mavo l%d,C%d & print %d\r\n' "$((i % 50))" "$i" "$((i % 7))"; done
} >"$inputs/chunk-boundary.qst"
[[ "$(head -c 65537 "$inputs/chunk-boundary.qst" | tail -c 2 | od -An -tx1 | tr -d ' ')" == 0d0a ]] ||
  fail "chunk-boundary.qst: the CR LF is not at the 64 KiB boundary"
: >"$inputs/empty.qst"
for example in examples/*.qst; do
  if [[ -f "$example" ]]; then cp "$example" "$inputs/example-$(basename "$example")"; fi
done

passed=0
failed=0
# Runs a program in a fresh folder holding only the input; leaves the folder's
# listing, the exit status and the result file's bytes (or "absent") beside it.
run_in_fresh_folder() {
  local out="$1" input="$2"
  shift 2
  local dir
  dir="$(mktemp -d "$scratch/run.XXXXXX")"
  cp "$input" "$dir/"
  local status=0
  (cd "$dir" && "$@" "$(basename "$input")" >"$out.stdout" 2>"$out.stderr") || status=$?
  echo "$status" >"$out.status"
  (cd "$dir" && ls -A) >"$out.files"
  if [[ -f "$dir/mavo.qst" ]]; then cp "$dir/mavo.qst" "$out.qst"; else : >"$out.qst"; fi
}
for input in "$inputs"/*; do
  name="$(basename "$input")"
  linux="$scratch/$name.linux"
  windows="$scratch/$name.windows"
  run_in_fresh_folder "$linux" "$input" "$native"
  run_in_fresh_folder "$windows" "$input" wine "$exe"
  problems=()
  cmp -s "$linux.status" "$windows.status" ||
    problems+=("exit status $(cat "$linux.status") on Linux, $(cat "$windows.status") under wine")
  cmp -s "$linux.files" "$windows.files" ||
    problems+=("files left: [$(tr '\n' ' ' <"$linux.files")] on Linux, [$(tr '\n' ' ' <"$windows.files")] under wine")
  cmp "$linux.qst" "$windows.qst" >"$scratch/cmp.out" 2>&1 || problems+=("mavo.qst: $(cat "$scratch/cmp.out")")
  if ((${#problems[@]} == 0)); then
    passed=$((passed + 1))
    if grep -qx mavo.qst "$linux.files"; then
      echo "same   $name ($(wc -c <"$linux.qst") bytes of mavo.qst, exit $(cat "$linux.status"))"
    else
      echo "same   $name (no mavo.qst from either, exit $(cat "$linux.status"))"
    fi
  else
    failed=$((failed + 1))
    echo "DIFFER $name"
    printf '         %s\n' "${problems[@]}"
  fi
done
echo "identity: $passed passed, $failed failed"
((failed == 0)) || failed_step "byte identity: mavo.exe and the Linux mavo disagree"
# Inputs that make a result file must be among them, or the comparison proves little.
grep -lx mavo.qst "$scratch"/*.linux.files >/dev/null || failed_step "byte identity: no input made a mavo.qst"

# ---- 6. the Windows package -------------------------------------------------------
phase "Windows package"
(cd build/mingw32 && cpack -G ZIP)
zip_file="$(ls -t build/mingw32/mavo-*-win32.zip | head -n 1)"
listing="$(cmake -E tar tf "$zip_file")"
echo "$zip_file:"
echo "$listing" | sed 's/^/  /'
grep -q '/mavo\.exe$' <<<"$listing" || failed_step "$zip_file holds no mavo.exe"
grep -q '/README\.md$' <<<"$listing" || failed_step "$zip_file holds no README.md"
# The packed program is the stripped one: it must still do the same work.
unpacked="$(mktemp -d "$scratch/zip.XXXXXX")"
(cd "$unpacked" && cmake -E tar xf "$root/$zip_file")
packed_exe="$(find "$unpacked" -name mavo.exe | head -n 1)"
castle="$(ls "$inputs"/example-*.qst | head -n 1)"
run_in_fresh_folder "$scratch/packed" "$castle" wine "$packed_exe"
cmp "$scratch/packed.qst" "$scratch/$(basename "$castle").windows.qst" ||
  failed_step "the mavo.exe in $zip_file does not write what build/mingw32/mavo.exe writes"

phase ""
if ((${#failures[@]} > 0)); then
  echo "== windows-test: ${#failures[@]} step(s) failed in $((SECONDS - script_start)) s:"
  printf '   %s\n' "${failures[@]}"
  exit 1
fi
echo "== windows-test: all passed in $((SECONDS - script_start)) s"
