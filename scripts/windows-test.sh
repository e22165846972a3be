#!/usr/bin/env bash
# Builds the 32-bit Windows console program (build/mingw32/mavo.exe) with Debian's
# mingw-w64 and tests it under wine on this Linux machine:
#   1. installs the cross compiler, wine and the locales when they are missing, and
#      generates the two locales whose code pages the name tests run under;
#   2. makes a quiet, headless wine prefix in build/wine;
#   3. configures and builds the mingw32 preset (SSE2 code in it) and runs its unit
#      tests under wine;
#   4. builds the command-line suite natively (build/windows-native) and runs it
#      against mavo.exe via wine;
#   5. runs the Linux mavo and mavo.exe on the examples and on inputs with CR LF,
#      LF, lone CR, Ctrl-Z and NUL bytes, each in a fresh folder, and compares the
#      mavo.qst they write byte for byte;
#   6. under a Western (1252) and a Russian (1251) code page: scripts named in
#      Cyrillic, in Kazakh letters, with spaces and in a Cyrillic folder give the
#      Linux program's bytes; a cp1251 script passes through byte for byte; a
#      missing script's name reads back in UTF-8 when redirected and as typed on a
#      console;
#   7. reads back mavo.exe's version resource and manifest through Windows's own
#      interfaces;
#   8. packs the Windows .zip and checks what it holds.
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
[[ -f /usr/share/i18n/locales/ru_RU ]] || missing+=(locales)  # for the code pages
command -v xmllint >/dev/null || missing+=(libxml2-utils)     # checks the manifest
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
# wine takes its code pages from the locale of each run (LC_ALL): en_US gives the
# Western ANSI code page 1252 (OEM 437), ru_RU the Russian 1251 (OEM 866). Both are
# UTF-8 locales, so that wine's names of Linux files stay UTF-8 whatever the code
# page: a file made here as "Замок.qst" is "Замок.qst" to the Windows program.
NAME_LOCALES=(en_US.UTF-8 ru_RU.UTF-8)
for name_locale in "${NAME_LOCALES[@]}"; do
  if ! locale -a | grep -qix "${name_locale/UTF-8/utf8}"; then
    as_root localedef -i "${name_locale%%.*}" -f UTF-8 "$name_locale"
  fi
done

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
# (A server left by an interrupted run of this script is ended first.)
wineserver -k >/dev/null 2>&1 || true
wineserver -p
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wine cmd /c ver | tr -d '\r' | grep . || fail "wine does not start"

# ---- 3. cross build and unit tests ------------------------------------------------
phase "mingw32 build"
cmake --preset mingw32 -DMAVO_WINEPREFIX="$WINEPREFIX"
cmake --build --preset mingw32
exe="$root/build/mingw32/mavo.exe"
[[ -f "$exe" ]] || fail "no $exe"
# One file: the program must load no DLL that a bare Windows does not have (the
# mingw runtimes libstdc++, libgcc and winpthread above all): only system DLLs.
dlls_not_of_windows() {
  i686-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: *//p' |
    grep -viE '^(kernel32|msvcrt|user32|advapi32|shell32|ntdll|version)\.dll$' || true
}
foreign_dlls="$(dlls_not_of_windows "$exe")"
[[ -z "$foreign_dlls" ]] || fail "mavo.exe needs DLLs a bare Windows does not have: $foreign_dlls"
echo "mavo.exe loads: $(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: *//p' | tr '\n' ' ')"
# The 16-bytes-a-step paths are compiled in (SSE2 byte compares and their masks), so
# the tests below run them, not the plain loops.
for built in "$exe" build/mingw32/tests/mavo_tests.exe; do
  sse2=$(i686-w64-mingw32-objdump -d "$built" | grep -cE '\<(pcmpeqb|pmovmskb)\>' || true)
  echo "$(basename "$built"): $sse2 SSE2 byte compares and masks"
  ((sse2 > 0)) || failed_step "$(basename "$built") has no SSE2 code: the plain loops run instead"
done

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
# The release preset's settings in a folder of this script's own.
native_dir=build/windows-native
cmake --preset release -B "$native_dir"
native_targets=(mavo)
if [[ -f tests/cli_test.cc ]]; then native_targets+=(mavo_cli_tests); fi
cmake --build "$native_dir" -j 2 --target "${native_targets[@]}"
native="$root/$native_dir/mavo"

phase "command-line suite under wine"
if [[ -f tests/cli_test.cc ]]; then
  "$native_dir/tests/mavo_cli_tests" "$exe" wine || failed_step "command-line suite under wine"
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

# ---- 6. file names, code pages and messages ---------------------------------------
phase "file names and code pages"
# A small Windows program that says what Windows reports: the code pages in force,
# a program's version resource as its Properties show it, its manifest's bytes.
cat >"$scratch/probe.c" <<'EOF'
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>

/* Prints a UTF-16 text in UTF-8. */
static void put_utf8(const wchar_t *text) {
  char out[4096];
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, NULL, NULL);
  fputs(n > 0 ? out : "(not convertible)", stdout);
}

/* Prints the fixed numbers, then name=value for each string of each listed translation. */
static int print_version(const wchar_t *exe) {
  static const char *const NAMES[] = {"FileDescription", "ProductName", "FileVersion", "ProductVersion",
                                      "LegalCopyright", "CompanyName", "InternalName", "OriginalFilename"};
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(exe, &ignored);
  void *info = size ? malloc(size) : NULL;
  if (!info || !GetFileVersionInfoW(exe, 0, size, info)) { puts("no version resource"); return 1; }
  VS_FIXEDFILEINFO *fixed = NULL;
  UINT length = 0;
  if (!VerQueryValueW(info, L"\\", (void **)&fixed, &length) || !fixed || fixed->dwSignature != 0xFEEF04BD) {
    puts("no fixed version");
    return 1;
  }
  printf("FixedFileVersion=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
         HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
  printf("FixedProductVersion=%u.%u.%u.%u\n", HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
         HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
  WORD *translations = NULL;
  if (!VerQueryValueW(info, L"\\VarFileInfo\\Translation", (void **)&translations, &length) || length < 4) {
    puts("no translation");
    return 1;
  }
  for (UINT t = 0; t < length / 4; ++t) {
    for (size_t i = 0; i < sizeof NAMES / sizeof NAMES[0]; ++i) {
      char narrow[128];
      wchar_t path[128];
      snprintf(narrow, sizeof narrow, "\\StringFileInfo\\%04x%04x\\%s", translations[2 * t],
               translations[2 * t + 1], NAMES[i]);
      MultiByteToWideChar(CP_ACP, 0, narrow, -1, path, 128);
      wchar_t *value = NULL;
      UINT chars = 0;
      if (VerQueryValueW(info, path, (void **)&value, &chars) && value) {
        printf("%s=", NAMES[i]);
        put_utf8(value);
        putchar('\n');
      }
    }
  }
  return 0;
}

/* Writes the bytes of the application manifest (resource 1 of type 24). */
static int print_manifest(const wchar_t *exe) {
  HMODULE module = LoadLibraryExW(exe, NULL, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC found = module ? FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)) : NULL;
  const void *bytes = found ? LockResource(LoadResource(module, found)) : NULL;
  if (!bytes) { fputs("no manifest resource\n", stderr); return 1; }
  _setmode(_fileno(stdout), _O_BINARY);
  fwrite(bytes, 1, SizeofResource(module, found), stdout);
  return 0;
}

int wmain(int argc, wchar_t **argv) {
  if (argc == 2 && wcscmp(argv[1], L"code-pages") == 0) { printf("%u %u\n", GetACP(), GetOEMCP()); return 0; }
  if (argc == 3 && wcscmp(argv[1], L"version") == 0) return print_version(argv[2]);
  if (argc == 3 && wcscmp(argv[1], L"manifest") == 0) return print_manifest(argv[2]);
  fputs("probe code-pages | version EXE | manifest EXE\n", stderr);
  return 2;
}
EOF
probe="$scratch/probe.exe"
i686-w64-mingw32-gcc -municode -static -Wall -Werror -O1 -o "$probe" "$scratch/probe.c" -lversion ||
  fail "the probe does not build"

# Runs a program on a script put at a relative path (its folders made) in a fresh
# folder, from that folder; leaves the exit status, both streams, every path left
# in the folder and the result's bytes (or nothing) beside $1.
run_at_path() {
  local out="$1" input="$2" path="$3"
  shift 3
  local dir status=0
  dir="$(mktemp -d "$scratch/named.XXXXXX")"
  mkdir -p "$dir/$(dirname "$path")"
  cp "$input" "$dir/$path"
  (cd "$dir" && "$@" "$path" >"$out.stdout" 2>"$out.stderr") || status=$?
  echo "$status" >"$out.status"
  (cd "$dir" && find . -mindepth 1 | LC_ALL=C sort) >"$out.files"
  if [[ -f "$dir/mavo.qst" ]]; then cp "$dir/mavo.qst" "$out.qst"; else : >"$out.qst"; fi
}

# A cp1251 script holding every byte from 128 to 255 (Russian letters, and 0x98,
# which cp1251 leaves undefined) in a label, a caption and the actions: no code
# page conversion may touch any of them.
high_bytes="$(printf "$(printf '\\%03o' $(seq 128 255))")"
cp1251_all="$scratch/cp1251-all-bytes.qst"
{
  printf ':start\r\n\323\347\345\353 \357\356 \346\350\362\374\341\345.\r\n'
  printf 'mavo %s,%s & print %s\r\n' "$high_bytes" "$high_bytes" "$high_bytes"
  printf 'mavo \347\340\353,\302 \347\340\353 & {print \302\373 \342 \347\340\353\345.\r\nset \361\342\345\362=1}\r\n'
  printf ':\347\340\353\r\nend\r\n:%s\r\nend\r\n' "$high_bytes"
} >"$cp1251_all"
russian_example="examples/zamok.qst"
[[ -f "$russian_example" ]] || russian_example="$cp1251_all"

# Each case: the name (a relative path) the script gets, and the script.
name_cases=(
  "Замок.qst|$russian_example"                 # Cyrillic: in cp1251, not in cp1252
  "Қазақ.qst|$russian_example"                 # Kazakh letters: in no ANSI code page
  "my game.qst|$russian_example"               # blanks in the name
  "Мои игры/Қала Замок.qst|$russian_example"   # a Cyrillic folder: the result lands in the current one
  "cp1251.qst|$cp1251_all"                     # every high byte passes through
)
name_passed=0
name_failed=0
name_ok() { name_passed=$((name_passed + 1)); echo "ok     $*"; }
name_bad() {
  name_failed=$((name_failed + 1))
  echo "FAILED $1"
  shift
  printf '         %s\n' "$@"
}
# What a program wrote, on one line of the log: UTF-8 as it is, other bytes as cat -v
# shows them; CR and LF as \r and \n.
shown() {
  if iconv -f UTF-8 -t UTF-8 "$1" >/dev/null 2>&1; then
    sed -z 's/\r/\\r/g; s/\n/\\n/g' "$1"
  else
    cat -v "$1" | sed -z 's/\^M/\\r/g; s/\n/\\n/g'
  fi
}
case_number=0
for name_locale in "${NAME_LOCALES[@]}"; do
  code_pages="$(LC_ALL="$name_locale" wine "$probe" code-pages | tr -d '\r' || true)"
  echo "-- $name_locale: ANSI and OEM code pages $code_pages"
  case "$name_locale:${code_pages%% *}" in
    en_US.UTF-8:1252 | ru_RU.UTF-8:1251) ;;
    *) failed_step "$name_locale does not give wine its code page (got $code_pages)"; continue ;;
  esac
  for name_case in "${name_cases[@]}"; do
    name="${name_case%%|*}"
    input="${name_case#*|}"
    case_number=$((case_number + 1))
    linux="$scratch/name$case_number.linux"
    windows="$scratch/name$case_number.windows"
    run_at_path "$linux" "$input" "$name" "$native"
    run_at_path "$windows" "$input" "$name" env LC_ALL="$name_locale" wine "$exe"
    label="'$name' under code page ${code_pages%% *}"
    problems=()
    [[ "$(cat "$linux.status")" == 0 && -s "$linux.qst" ]] ||
      problems+=("the Linux program made no mavo.qst (exit $(cat "$linux.status"): $(shown "$linux.stderr"))")
    cmp -s "$linux.status" "$windows.status" ||
      problems+=("exit $(cat "$windows.status") under wine: $(shown "$windows.stderr")")
    cmp -s "$linux.files" "$windows.files" ||
      problems+=("files left under wine: [$(tr '\n' ' ' <"$windows.files")], on Linux: [$(tr '\n' ' ' <"$linux.files")]")
    cmp "$linux.qst" "$windows.qst" >"$scratch/cmp.out" 2>&1 || problems+=("mavo.qst: $(cat "$scratch/cmp.out")")
    [[ ! -s "$windows.stderr" && ! -s "$windows.stdout" ]] ||
      problems+=("not silent under wine: $(shown "$windows.stdout")$(shown "$windows.stderr")")
    if [[ "$input" == "$cp1251_all" ]] &&
       (($(LC_ALL=C grep -caF -- "$high_bytes" "$linux.qst" || true) < 4)); then
      problems+=("the 128 high bytes are not in the result's label, caption, actions and block")
    fi
    if ((${#problems[@]} == 0)); then
      name_ok "$label: $(wc -c <"$windows.qst") bytes of mavo.qst, as on Linux"
    else
      name_bad "$label" "${problems[@]}"
    fi
  done

  # A missing script, its message redirected to a file or a pipe: the name in UTF-8,
  # then the C runtime's text, with the CR LF of Windows text mode.
  for name in "Пропал.qst" "Жоқ файл.qst"; do
    for into in file pipe; do
      dir="$(mktemp -d "$scratch/missing.XXXXXX")"
      status=0
      if [[ "$into" == file ]]; then
        (cd "$dir" && LC_ALL="$name_locale" wine "$exe" "$name" >out 2>err) || status=$?
      else
        (cd "$dir" && { LC_ALL="$name_locale" wine "$exe" "$name" 2>&1 >out && echo 0 >status || echo "$?" >status; } | cat >err)
        status="$(cat "$dir/status")"
      fi
      printf '%s: No such file or directory\r\n' "$name" >"$dir/expected"
      label="missing '$name' under code page ${code_pages%% *}, into a $into"
      if [[ "$status" == 1 ]] && cmp -s "$dir/expected" "$dir/err" && [[ ! -s "$dir/out" ]]; then
        name_ok "$label: $(shown "$dir/err")"
      else
        name_bad "$label" "exit $status, wrote: $(shown "$dir/err")" "expected: $(shown "$dir/expected")"
      fi
    done
  done

  # The same on a console (a terminal made by script(1); wine's console writes to it
  # in UTF-8): the name appears as typed.
  for name in "Пропал.qst" "Жоқ файл.qst"; do
    dir="$(mktemp -d "$scratch/console.XXXXXX")"
    status=0
    (cd "$dir" && TEST_LOCALE="$name_locale" TEST_EXE="$exe" TEST_NAME="$name" timeout 60 \
       script -qec 'LC_ALL="$TEST_LOCALE" wine "$TEST_EXE" "$TEST_NAME"' /dev/null >screen) || status=$?
    # The console draws a blank over an empty cell as a move of the cursor; its other
    # cursor and erase sequences and the line ends are not text.
    seen="$(perl -pe 's/\e\[(\d*)C/" " x ($1 || 1)/ge; s/\e\[[0-9;?]*[A-Za-z]//g; tr/\r//d' "$dir/screen")"
    label="missing '$name' under code page ${code_pages%% *}, on a console"
    if [[ "$status" == 1 && "$seen" == "$name: No such file or directory" ]]; then
      name_ok "$label: $seen"
    else
      name_bad "$label" "exit $status, shown: $seen"
    fi
  done
done
echo "names: $name_passed passed, $name_failed failed"
((name_failed == 0)) || failed_step "file names and code pages: $name_failed case(s) failed"

# ---- 7. version resource and manifest ---------------------------------------------
phase "version resource and manifest"
project_version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/mingw32/CMakeCache.txt)"
[[ -n "$project_version" ]] || fail "no project version in build/mingw32/CMakeCache.txt"
IFS=. read -ra version_parts <<<"$project_version.0.0.0"
four_numbers="${version_parts[0]}.${version_parts[1]}.${version_parts[2]}.${version_parts[3]}"
# What Windows reads of it, as its Properties dialog shows it.
wine "$probe" version "$exe" | tr -d '\r' >"$scratch/version.txt" || true
echo "mavo.exe's version resource, as Windows reads it (project version $project_version):"
sed 's/^/  /' "$scratch/version.txt"
for expected in "FixedFileVersion=$four_numbers" "FixedProductVersion=$four_numbers" \
                "FileVersion=$project_version" "ProductVersion=$project_version" \
                "ProductName=mavo" "OriginalFilename=mavo.exe"; do
  grep -qxF "$expected" "$scratch/version.txt" || failed_step "version resource: no $expected"
done
grep -qx 'FileDescription=..*' "$scratch/version.txt" || failed_step "version resource: no file description"
grep -qx 'LegalCopyright=.*The mavo authors' "$scratch/version.txt" || failed_step "version resource: no copyright"
# The test programs carry none.
if wine "$probe" version build/mingw32/tests/mavo_tests.exe | tr -d '\r' | grep -qv '^no version resource$'; then
  failed_step "mavo_tests.exe carries a version resource"
fi
# The manifest: well-formed (a malformed one stops Windows from starting the program,
# which wine does not do), and saying what it must, and no code page of its own.
manifest="$scratch/manifest.xml"
if wine "$probe" manifest "$exe" >"$manifest" && xmllint --noout "$manifest"; then
  for expected in 'level="asInvoker"' \
                  'longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true<' \
                  '35138b9a-5d96-4fbd-8e2d-a2440225f93a' '4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38' \
                  '1f676c76-80e1-4239-95bb-83d0f6d0da78' '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a'; do
    grep -qF "$expected" "$manifest" || failed_step "manifest: no $expected"
  done
  if grep -qi 'activeCodePage' "$manifest"; then failed_step "manifest: sets a code page"; fi
  echo "manifest: $(wc -c <"$manifest") bytes, well-formed; asInvoker, Windows 7, 8, 8.1, 10/11, long paths"
else
  failed_step "manifest: missing or not well-formed"
fi

# ---- 8. the Windows package -------------------------------------------------------
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
packed_dlls="$(dlls_not_of_windows "$packed_exe")"
[[ -z "$packed_dlls" ]] || failed_step "the mavo.exe in $zip_file needs DLLs a bare Windows does not have: $packed_dlls"
wine "$probe" version "$packed_exe" | tr -d '\r' | cmp -s - "$scratch/version.txt" ||
  failed_step "the mavo.exe in $zip_file lost its version resource"

phase ""
if ((${#failures[@]} > 0)); then
  echo "== windows-test: ${#failures[@]} step(s) failed in $((SECONDS - script_start)) s:"
  printf '   %s\n' "${failures[@]}"
  exit 1
fi
echo "== windows-test: all passed in $((SECONDS - script_start)) s"
