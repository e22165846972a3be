#!/usr/bin/env bash
# Builds the 32-bit Windows console program (build/mingw32/mavo.exe) with Debian's
# mingw-w64 and tests it under wine on this Linux machine:
#   1. installs the cross compiler, wine and the locales when they are missing, and
#      generates the two locales whose code pages the name tests run under;
#   2. makes a quiet, headless wine prefix in build/wine;
#   3. configures and builds the mingw32 preset (SSE2 code in it) and runs its unit
#      tests under wine;
#   4. builds the command-line suite natively (build/windows-native) and runs it
#      against mavo.exe via wine, and the language server's end-to-end suite
#      against mavo-check.exe --lsp;
#   5. runs the Linux mavo and mavo.exe on the examples and on inputs with CR LF,
#      LF, lone CR, Ctrl-Z and NUL bytes, each in a fresh folder, and compares the
#      mavo.qst they write byte for byte;
#   6. under a Western (1252) and a Russian (1251) code page: scripts named in
#      Cyrillic, in Kazakh letters, with spaces and in a Cyrillic folder give the
#      Linux program's bytes; a cp1251 script passes through byte for byte; a
#      missing script's name reads back in UTF-8 when redirected and as typed on a
#      console;
#   7. runs mavo-check.exe and the Linux mavo-check (and both programs' --help and
#      --version) on the same cases, Cyrillic names under 1252 and 1251 among them,
#      and compares statuses and output byte for byte (CR LF read as LF);
#   8. a console of the program's own (a terminal's, and a window's on Xvfb): the
#      report shows and the run waits for a key; run in cmd, the terminal's line
#      shows and nothing is waited for;
#   9. reads back both programs' version resources and manifests through Windows's own
#      interfaces;
#  10. packs the Windows .zip and checks what it holds (its texts in CR LF).
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
source "$root/scripts/apt.sh"
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
command -v script >/dev/null || missing+=(bsdutils)            # a terminal for the console cases
command -v Xvfb >/dev/null || missing+=(xvfb)                  # a display for the console window
command -v cmark-gfm >/dev/null || missing+=(cmark-gfm)        # the zip's guides as web pages
if ((${#missing[@]} > 0)); then
  echo "installing: ${missing[*]}"
  install_start=$SECONDS
  # wine32 is an i386 package: the architecture has to be known to apt first.
  if [[ " ${missing[*]} " == *" wine32 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  # Console programs need none of wine's recommended desktop libraries.
  apt_install "${missing[@]}"
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
native_targets=(mavo mavo-check)
if [[ -f tests/cli_test.cc ]]; then native_targets+=(mavo_cli_tests); fi
cmake --build "$native_dir" -j 2 --target "${native_targets[@]}"
native="$root/$native_dir/mavo"

phase "command-line suite under wine"
if [[ -f tests/cli_test.cc ]]; then
  "$native_dir/tests/mavo_cli_tests" "$exe" wine || failed_step "command-line suite under wine"
else
  echo "tests/cli_test.cc is not there yet: command-line suite not run"
fi

phase "the language server under wine"
# mavo-check.exe --lsp through the end-to-end suite of the native build, the LSP
# client libraries from tests/lsp's lock: framing over binary standard streams,
# UTF-16 positions, a cp1251 game, the bad-input cases.
if command -v node >/dev/null && command -v npm >/dev/null; then
  lsp_node="$root/build/mingw32/lsp-node"
  cmake -DNPM="$(command -v npm)" -DSOURCE="$root/tests/lsp" -DWORK="$lsp_node" -P tests/lsp/npm_ci.cmake ||
    failed_step "npm ci of the language server's test libraries"
  NODE_PATH="$lsp_node/node_modules" timeout 900 node tests/lsp/server.test.js wine \
    "$root/build/mingw32/mavo-check.exe" || failed_step "the language server under wine"
else
  echo "node or npm is missing: the language server's suite not run under wine"
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
# a program's version resource as its Properties show it, its manifest's bytes; and,
# for the own-console cases, what a running program's console shows, and a key
# pressed in it.
cat >"$scratch/probe.c" <<'EOF'
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tlhelp32.h>
#include <wchar.h>

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

/* Attaches to the console of the running process whose program is named `name` (the
   last one started); 0 when there is none, or no console to attach to. */
static DWORD attach_to(const wchar_t *name) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry;
  DWORD found = 0;
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, name) == 0) found = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  FreeConsole();
  return found && AttachConsole(found) ? found : 0;
}

/* Writes, in UTF-8, the lines of that process's console screen up to its cursor,
   without the blanks that fill each row, to the file `into`; a row filled to the
   last column goes on in the next one, as the console wrapped a longer line. */
static int print_screen(const wchar_t *name, const wchar_t *into) {
  if (!attach_to(name)) return 1;
  HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(out, &info)) return 1;
  FILE *file = _wfopen(into, L"wb");
  if (!file) return 1;
  for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
    wchar_t row[512];
    char utf8[2048];
    DWORD got = 0;
    COORD at = {0, y};
    ReadConsoleOutputCharacterW(out, row, info.dwSize.X < 512 ? (DWORD)info.dwSize.X : 512, at, &got);
    const int wrapped = got == (DWORD)info.dwSize.X && got > 0 && row[got - 1] != L' ';
    while (got > 0 && row[got - 1] == L' ') --got;
    int n = WideCharToMultiByte(CP_UTF8, 0, row, (int)got, utf8, sizeof utf8, NULL, NULL);
    fwrite(utf8, 1, n > 0 ? (size_t)n : 0, file);
    if (!wrapped) fputc('\n', file);
  }
  return fclose(file) == 0 ? 0 : 1;
}

/* Presses and lets go of the key "x" in that process's console, as a user would. */
static int press_key(const wchar_t *name) {
  if (!attach_to(name)) return 1;
  HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                          OPEN_EXISTING, 0, NULL);
  INPUT_RECORD keys[2];
  memset(keys, 0, sizeof keys);
  for (int i = 0; i < 2; ++i) {
    keys[i].EventType = KEY_EVENT;
    keys[i].Event.KeyEvent.bKeyDown = i == 0;
    keys[i].Event.KeyEvent.wRepeatCount = 1;
    keys[i].Event.KeyEvent.wVirtualKeyCode = 'X';
    keys[i].Event.KeyEvent.uChar.UnicodeChar = L'x';
  }
  DWORD written = 0;
  return WriteConsoleInputW(in, keys, 2, &written) && written == 2 ? 0 : 1;
}

int wmain(int argc, wchar_t **argv) {
  if (argc == 2 && wcscmp(argv[1], L"code-pages") == 0) { printf("%u %u\n", GetACP(), GetOEMCP()); return 0; }
  if (argc == 3 && wcscmp(argv[1], L"version") == 0) return print_version(argv[2]);
  if (argc == 3 && wcscmp(argv[1], L"manifest") == 0) return print_manifest(argv[2]);
  if (argc == 4 && wcscmp(argv[1], L"screen") == 0) return print_screen(argv[2], argv[3]);
  if (argc == 3 && wcscmp(argv[1], L"key") == 0) return press_key(argv[2]);
  fputs("probe code-pages | version EXE | manifest EXE | screen PROGRAM FILE | key PROGRAM\n", stderr);
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
  # in UTF-8): the name appears as typed, on the first line. The program is the one
  # process on that console, as after a drop in Explorer, so the closing report
  # follows; script(1) answers its wait with the end of its empty input (step 8
  # checks the report and the wait).
  for name in "Пропал.qst" "Жоқ файл.qst"; do
    dir="$(mktemp -d "$scratch/console.XXXXXX")"
    status=0
    (cd "$dir" && TEST_LOCALE="$name_locale" TEST_EXE="$exe" TEST_NAME="$name" timeout 60 \
       script -qec 'LC_ALL="$TEST_LOCALE" wine "$TEST_EXE" "$TEST_NAME"' /dev/null >screen) || status=$?
    # The console draws a blank over an empty cell as a move of the cursor; its other
    # cursor and erase sequences and the line ends are not text.
    seen="$(perl -pe 's/\e\[(\d*)C/" " x ($1 || 1)/ge; s/\e\[[0-9;?]*[A-Za-z]//g; tr/\r//d' "$dir/screen")"
    label="missing '$name' under code page ${code_pages%% *}, on a console"
    if [[ "$status" == 1 && "${seen%%$'\n'*}" == "$name: No such file or directory" ]]; then
      name_ok "$label: ${seen//$'\n'/\\n}"
    else
      name_bad "$label" "exit $status, shown: $seen"
    fi
  done
done
echo "names: $name_passed passed, $name_failed failed"
((name_failed == 0)) || failed_step "file names and code pages: $name_failed case(s) failed"

# ---- 7. mavo-check.exe, and both programs' --help and --version -------------------
phase "mavo-check.exe and the options, Linux and Windows"
check_exe="$root/build/mingw32/mavo-check.exe"
native_check="$root/$native_dir/mavo-check"
[[ -f "$check_exe" ]] || fail "no $check_exe"
check_dlls="$(dlls_not_of_windows "$check_exe")"
[[ -z "$check_dlls" ]] || failed_step "mavo-check.exe needs DLLs a bare Windows does not have: $check_dlls"
project_version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/mingw32/CMakeCache.txt)"
[[ -n "$project_version" ]] || fail "no project version in build/mingw32/CMakeCache.txt"

# The cases' scripts: a "goto" to no location (one finding, line 2), a script with no
# action button, and a cp1251 one whose finding shows a line of Russian text
# ("pln Привет; мир": the ";" cuts printed text).
printf ':start\ngoto nowhere\n' >"$scratch/nowhere.qst"
printf ':start\r\npln Nothing to expand here.\r\nend\r\n' >"$scratch/plain.qst"
printf ':start\r\npln \317\360\350\342\345\362; \354\350\360\r\nend\r\n' >"$scratch/cp1251-finding.qst"

# Runs a program in a fresh folder, the script (unless "-") copied in under its name,
# with the arguments given as words where FILE stands for that name; leaves the exit
# status, both streams, the folder's listing and any mavo.qst beside $1.
run_case() {
  local out="$1" locale="$2" input="$3" name="$4" args="$5"
  shift 5
  local dir status=0 word words=()
  dir="$(mktemp -d "$scratch/case.XXXXXX")"
  if [[ "$input" != - ]]; then
    mkdir -p "$dir/$(dirname "$name")"
    cp "$input" "$dir/$name"
  fi
  read -ra word <<<"$args"
  for w in "${word[@]}"; do [[ "$w" == FILE ]] && words+=("$name") || words+=("$w"); done
  (cd "$dir" && LC_ALL="$locale" "$@" "${words[@]}" >"$out.stdout" 2>"$out.stderr") || status=$?
  echo "$status" >"$out.status"
  (cd "$dir" && find . -mindepth 1 | LC_ALL=C sort) >"$out.files"
  if [[ -f "$dir/mavo.qst" ]]; then cp "$dir/mavo.qst" "$out.qst"; else : >"$out.qst"; fi
}
# A stream as the comparison takes it: CR LF read as LF (Windows text mode), and
# mavo's build stamp, which differs between the two builds, as one word.
compared() { sed 's/\r$//; s/^Qor  .*/Qor  <build stamp>/' "$1"; }

# Each case: what it shows | locale | program | script | its name | arguments |
# exit status | what must be seen, besides Linux and Windows agreeing byte for byte:
#   out=TEXT   standard output is TEXT (\n between lines), standard error empty
#   err=TEXT   standard error is TEXT, standard output empty
#   first=RE   standard output's first line matches the extended regular expression
#   silent     nothing written on either stream
#   result     a mavo.qst is left in the folder
en=en_US.UTF-8 ru=ru_RU.UTF-8
option_cases=(
  "mavo-check --version|$en|check|-||--version|0|out=mavo-check $project_version"
  "mavo-check --help|$en|check|-||--help|0|first=^usage: mavo-check "
  "mavo-check on clean castle.qst|$en|check|examples/castle.qst|castle.qst|FILE|0|silent"
  "mavo-check on clean zamok.qst|$ru|check|examples/zamok.qst|zamok.qst|FILE|0|silent"
  "mavo-check, a goto to nowhere|$en|check|$scratch/nowhere.qst|nowhere.qst|FILE|1|first=^nowhere\.qst:2:6: warning: .* \[unknown-location\]$"
  "mavo-check, the same as json|$en|check|$scratch/nowhere.qst|nowhere.qst|--format json FILE|1|first=^\[$"
  "mavo-check, in Russian|$ru|check|$scratch/nowhere.qst|nowhere.qst|FILE|1|first=^nowhere\.qst:2:6: warning: .* \[unknown-location\]$"
  "mavo-check, a Cyrillic name under 1252|$en|check|$scratch/nowhere.qst|Замок.qst|FILE|1|first=^Замок\.qst:2:6: warning: .* \[unknown-location\]$"
  "mavo-check, a Cyrillic name under 1251|$ru|check|$scratch/nowhere.qst|Замок.qst|FILE|1|first=^Замок\.qst:2:6: warning: .* \[unknown-location\]$"
  "mavo-check, a Kazakh folder and name|$en|check|$scratch/nowhere.qst|Мои игры/Қала.qst|FILE|1|first=^Мои игры/Қала\.qst:2:6: warning: .* \[unknown-location\]$"
  "mavo-check, a cp1251 line shown|$en|check|$scratch/cp1251-finding.qst|cp1251.qst|--all FILE|1|first=^cp1251\.qst:2:[0-9]+: warning: .* \[comment-in-text\]$"
  "mavo-check, a missing file|$en|check|-|Пропал.qst|FILE|2|err=Пропал.qst: No such file or directory"
  "mavo-check, a bad option|$en|check|-||--format xml x.qst|2|first="
  "mavo --version|$en|mavo|-||--version|0|out=mavo $project_version"
  "mavo --help|$en|mavo|-||--help|0|first=^Qor  <build stamp>$"
  "mavo on a script named --help|$en|mavo|examples/castle.qst|--help|FILE|0|result"
  "mavo on a script named --version|$en|mavo|examples/castle.qst|--version|FILE|0|result"
)
option_passed=0
option_failed=0
case_number=0
for option_case in "${option_cases[@]}"; do
  IFS='|' read -r label locale program input name args expected_status expected <<<"$option_case"
  case_number=$((case_number + 1))
  linux="$scratch/option$case_number.linux"
  windows="$scratch/option$case_number.windows"
  if [[ "$program" == check ]]; then
    run_case "$linux" "$locale" "$input" "$name" "$args" "$native_check"
    run_case "$windows" "$locale" "$input" "$name" "$args" wine "$check_exe"
  else
    run_case "$linux" "$locale" "$input" "$name" "$args" "$native"
    run_case "$windows" "$locale" "$input" "$name" "$args" wine "$exe"
  fi
  problems=()
  [[ "$(cat "$windows.status")" == "$expected_status" ]] ||
    problems+=("exit $(cat "$windows.status") under wine, $expected_status expected")
  cmp -s "$linux.status" "$windows.status" || problems+=("exit $(cat "$linux.status") on Linux")
  for stream in stdout stderr; do
    cmp -s <(compared "$linux.$stream") <(compared "$windows.$stream") ||
      problems+=("$stream differs: Linux $(shown "$linux.$stream") | wine $(shown "$windows.$stream")")
  done
  cmp -s "$linux.files" "$windows.files" ||
    problems+=("files left under wine: [$(tr '\n' ' ' <"$windows.files")], on Linux: [$(tr '\n' ' ' <"$linux.files")]")
  cmp -s "$linux.qst" "$windows.qst" || problems+=("the mavo.qst of the two differ")
  out_text="$(compared "$windows.stdout")"
  err_text="$(compared "$windows.stderr")"
  case "$expected" in
    out=*) [[ "$out_text" == "${expected#out=}" && -z "$err_text" ]] ||
             problems+=("standard output is not \"${expected#out=}\" alone") ;;
    err=*) [[ "$err_text" == "${expected#err=}" && -z "$out_text" ]] ||
             problems+=("standard error is not \"${expected#err=}\" alone") ;;
    first=) [[ -z "$out_text" && -n "$err_text" ]] || problems+=("no message on standard error alone") ;;
    first=*) grep -qE -- "${expected#first=}" <<<"${out_text%%$'\n'*}" ||
               problems+=("the first line does not match ${expected#first=}") ;;
    silent) [[ -z "$out_text" && -z "$err_text" ]] || problems+=("not silent") ;;
    result) [[ -s "$windows.qst" && -z "$out_text" && -z "$err_text" ]] || problems+=("no mavo.qst, or not silent") ;;
  esac
  if ((${#problems[@]} == 0)); then
    option_passed=$((option_passed + 1))
    echo "ok     $label: exit $(cat "$windows.status"), $(head -c 160 "$windows.stdout" "$windows.stderr" 2>/dev/null |
      grep -av '^==>' | head -n 1 | tr -d '\r')"
  else
    option_failed=$((option_failed + 1))
    echo "FAILED $label"
    printf '         %s\n' "${problems[@]}"
  fi
done
echo "mavo-check.exe and the options: $option_passed passed, $option_failed failed"
((option_failed == 0)) || failed_step "mavo-check.exe and the options: $option_failed case(s) failed"

# ---- 8. a console of the program's own ---------------------------------------------
phase "a console of the program's own"
# A Unix terminal (a pty made by script(1)) gives the program a console of wine's
# that no other process shares, the one case in which a run ends with its report and
# waits for a key: the report must show, and the run must end only after the key,
# which is typed into the terminal two seconds after the start.
# Each case: what it shows | locale | program | script | its name | arguments |
# the screen (\n between lines; DIR is the folder as Windows names it, LINUX what the
# Linux program writes on its standard output for the same run).
own_cases=(
  "mavo, a script written|$en|mavo|examples/castle.qst|castle.qst|FILE|mavo.qst written in DIR: 11 action buttons, 10 blocks\n\nPress any key to close."
  "mavo, the same in Russian|$ru|mavo|examples/castle.qst|castle.qst|FILE|mavo.qst записан в папке DIR: 11 кнопок с действиями, 10 блоков\n\nНажмите любую клавишу, чтобы закрыть окно."
  "mavo, nothing to expand|$en|mavo|$scratch/plain.qst|plain.qst|FILE|nothing expanded: mavo.qst not written\n\nPress any key to close."
  "mavo, two files dropped|$en|mavo|examples/castle.qst|castle.qst|first.qst FILE|2 files were given: only the last one, castle.qst, was read.\nmavo.qst written in DIR: 11 action buttons, 10 blocks\n\nPress any key to close."
  "mavo, a double-click|$en|mavo|-|||LINUX\nTo use it, drop a .qst script on mavo.exe, or run \"mavo.exe script.qst\" in a console.\n\nPress any key to close."
  "mavo, a missing file|$ru|mavo|-|Пропал.qst|FILE|Пропал.qst: No such file or directory\n\nНажмите любую клавишу, чтобы закрыть окно."
  "mavo-check, a clean script|$en|check|examples/castle.qst|castle.qst|FILE|mavo-check found nothing to report.\n\nPress any key to close."
  "mavo-check, a finding|$en|check|$scratch/nowhere.qst|nowhere.qst|FILE|LINUX\n1 warning in 1 file\n\nPress any key to close."
)
own_passed=0
own_failed=0
for own_case in "${own_cases[@]}"; do
  IFS='|' read -r label locale program input name args template <<<"$own_case"
  case_number=$((case_number + 1))
  linux="$scratch/own$case_number.linux"
  if [[ "$program" == check ]]; then
    program_exe="$check_exe"
    run_case "$linux" "$locale" "$input" "$name" "$args" "$native_check"
  else
    program_exe="$exe"
    run_case "$linux" "$locale" "$input" "$name" "$args" "$native"
  fi
  dir="$(mktemp -d "$scratch/own.XXXXXX")"
  [[ "$input" == - ]] || cp "$input" "$dir/$name"
  words=()
  read -ra word <<<"$args"
  for w in "${word[@]}"; do [[ "$w" == FILE ]] && words+=("$name") || words+=("$w"); done
  # The key goes in after two seconds; the time of each event is kept to compare. The
  # terminal is made wide enough that no line of a report wraps.
  status=0
  { sleep 2; date +%s%N >"$dir/key.time"; printf x; sleep 1; } |
    (cd "$dir" && TEST_LOCALE="$locale" TEST_EXE="$program_exe" TEST_ARGS="${words[*]}" timeout 60 \
       script -qec 'stty cols 300; LC_ALL="$TEST_LOCALE" wine "$TEST_EXE" $TEST_ARGS; echo "status=$?"; date +%s%N >end.time' \
       /dev/null >screen) || status=$?
  seen="$(perl -pe 's/\e\[(\d*)C/" " x ($1 || 1)/ge; s/\e\[[0-9;?]*[A-Za-z]//g; tr/\r//d' "$dir/screen" |
          sed 's/^Qor  .*/Qor  <build stamp>/')"
  exit_line="$({ grep -a '^status=' || true; } <<<"$seen" | tail -n 1)"
  seen="$({ grep -av '^status=' || true; } <<<"$seen")"
  expected="$(printf '%b' "$template")"
  expected="${expected//DIR/Z:${dir//\//\\}}"
  expected="${expected//LINUX/$(compared "$linux.stdout")}"
  problems=()
  [[ "$seen" == "$expected" ]] || problems+=("shown: $(sed -z 's/\n/\\n/g' <<<"$seen")" "expected: $(sed -z 's/\n/\\n/g' <<<"$expected")")
  [[ "$exit_line" == "status=$(cat "$linux.status")" ]] ||
    problems+=("ended with ${exit_line:-no status}, the Linux program with $(cat "$linux.status")")
  if [[ -f "$dir/key.time" && -f "$dir/end.time" ]]; then
    (($(cat "$dir/end.time") >= $(cat "$dir/key.time"))) || problems+=("ended before the key was pressed")
  else
    problems+=("no key was sent, or the run did not end (timeout: exit $status)")
  fi
  if ((${#problems[@]} == 0)); then
    own_passed=$((own_passed + 1))
    echo "ok     $label: $(sed -z 's/\n/\\n/g' <<<"$seen"), ended after the key"
  else
    own_failed=$((own_failed + 1))
    echo "FAILED $label"
    printf '         %s\n' "${problems[@]}"
  fi
done

# A console window as Explorer makes one: wine's `start /wait` opens a window of its
# own for the program when wine has a display (a virtual X server here, Xvfb). The
# window's text is read through the console interface by the probe, the key is
# pressed through it too. wine takes the display when its server starts, so the
# server kept for the run is ended for these cases and started again after them.
window_cases=(
  "mavo in a window|$exe|examples/castle.qst|castle.qst|mavo.qst written in DIR: 11 action buttons, 10 blocks\n\nPress any key to close."
  "mavo-check in a window|$check_exe|examples/castle.qst|castle.qst|mavo-check found nothing to report.\n\nPress any key to close."
)
if command -v Xvfb >/dev/null; then
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  exec 3>"$scratch/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  trap 'wineserver -k >/dev/null 2>&1 || true; kill "$xvfb_pid" 2>/dev/null || true; rm -rf "$scratch"' EXIT
  for _ in $(seq 1 50); do [[ -s "$scratch/display" ]] && break; sleep 0.1; done
  display=":$(head -n 1 "$scratch/display")"
  echo "-- Xvfb on display $display"
  for window_case in "${window_cases[@]}"; do
    IFS='|' read -r label program_exe input name template <<<"$window_case"
    program_name="$(basename "$program_exe")"
    dir="$(mktemp -d "$scratch/window.XXXXXX")"
    cp "$input" "$dir/$name"
    cp "$program_exe" "$dir/"
    (cd "$dir" && DISPLAY="$display" timeout 60 wine start /wait "$program_name" "$name"; echo "$?" >status) \
      >/dev/null 2>&1 &
    started=$!
    for _ in $(seq 1 100); do
      sleep 0.2
      DISPLAY="$display" wine "$probe" screen "$program_name" "$dir/screen.txt" >/dev/null 2>&1 &&
        grep -q . "$dir/screen.txt" && grep -qF "$(printf '%b' "${template##*\\n}")" "$dir/screen.txt" && break
    done
    sleep 1
    problems=()
    [[ ! -f "$dir/status" ]] || problems+=("ended before a key was pressed (exit $(cat "$dir/status"))")
    # (No screen read at all: said below as what was shown, not an end of the run.)
    seen="$(sed -e :a -e '/^\n*$/{$d;N;ba' -e '}' "$dir/screen.txt" 2>/dev/null || true)"
    expected="$(printf '%b' "$template")"
    expected="${expected//DIR/Z:${dir//\//\\}}"
    [[ "$seen" == "$expected" ]] ||
      problems+=("shown: $(sed -z 's/\n/\\n/g' <<<"$seen")" "expected: $(sed -z 's/\n/\\n/g' <<<"$expected")")
    DISPLAY="$display" wine "$probe" key "$program_name" >/dev/null 2>&1 || problems+=("the key could not be pressed")
    for _ in $(seq 1 50); do [[ -f "$dir/status" ]] && break; sleep 0.2; done
    [[ "$(cat "$dir/status" 2>/dev/null)" == 0 ]] || problems+=("did not end with status 0 after the key")
    wait "$started" || true
    if ((${#problems[@]} == 0)); then
      own_passed=$((own_passed + 1))
      echo "ok     $label: $(sed -z 's/\n/\\n/g' <<<"$seen"), waited, ended after the key"
    else
      own_failed=$((own_failed + 1))
      echo "FAILED $label"
      printf '         %s\n' "${problems[@]}"
    fi
  done
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT
  wineserver -p
else
  failed_step "Xvfb is missing: no console window tested"
fi
# A console that cmd holds too (`cmd /c` on the terminal: two processes on it), as
# when mavo.exe is run in a cmd window: no report and no key, and on standard error,
# the console, the line of a terminal; redirected, nothing.
# Each case: what it shows | locale | script | a mavo.qst there first | how mavo.exe
# is run in cmd | the screen.
cmd_cases=(
  "mavo in cmd, a script written|$en|examples/castle.qst|no|mavo.exe castle.qst|mavo.qst written: 11 action buttons, 10 blocks"
  "mavo in cmd, nothing to expand, in Russian|$ru|$scratch/plain.qst|no|mavo.exe castle.qst|раскрывать нечего: mavo.qst не записан"
  "mavo in cmd, nothing to expand, an earlier result|$en|$scratch/plain.qst|yes|mavo.exe castle.qst|nothing expanded: mavo.qst not written\n(the mavo.qst here is from an earlier run)"
  "mavo in cmd, messages redirected|$en|examples/castle.qst|no|mavo.exe castle.qst 2>log.txt|"
)
for cmd_case in "${cmd_cases[@]}"; do
  IFS='|' read -r label locale input earlier command template <<<"$cmd_case"
  dir="$(mktemp -d "$scratch/cmd.XXXXXX")"
  cp "$input" "$dir/castle.qst"
  cp "$exe" "$dir/mavo.exe"
  [[ "$earlier" == yes ]] && printf 'old\r\n' >"$dir/mavo.qst"
  status=0
  (cd "$dir" && TEST_LOCALE="$locale" TEST_COMMAND="$command" timeout 60 \
     script -qec 'stty cols 300; LC_ALL="$TEST_LOCALE" wine cmd /c "$TEST_COMMAND"; echo "status=$?"' \
     /dev/null >screen) </dev/null || status=$?
  seen="$(perl -pe 's/\e\[(\d*)C/" " x ($1 || 1)/ge; s/\e\[[0-9;?]*[A-Za-z]//g; tr/\r//d' "$dir/screen")"
  # (grep finds no line where the screen holds none but the status: not a failure.)
  exit_line="$({ grep -a '^status=' || true; } <<<"$seen" | tail -n 1)"
  seen="$({ grep -av '^status=' || true; } <<<"$seen" | sed '/^$/d')"
  expected="$(printf '%b' "$template")"
  if [[ "$seen" == "$expected" && "$exit_line" == "status=0" ]]; then
    own_passed=$((own_passed + 1))
    echo "ok     $label: $(sed -z 's/\n/\\n/g' <<<"$seen")"
  else
    own_failed=$((own_failed + 1))
    echo "FAILED $label (timeout: exit $status)"
    echo "         shown: $(sed -z 's/\n/\\n/g' <<<"$seen") ($exit_line)"
    echo "         expected: $(sed -z 's/\n/\\n/g' <<<"$expected") (status=0)"
  fi
done
echo "own console: $own_passed passed, $own_failed failed"
((own_failed == 0)) || failed_step "a console of the program's own: $own_failed case(s) failed"

# ---- 9. version resource and manifest ---------------------------------------------
phase "version resource and manifest"
IFS=. read -ra version_parts <<<"$project_version.0.0.0"
four_numbers="${version_parts[0]}.${version_parts[1]}.${version_parts[2]}.${version_parts[3]}"
# What Windows reads of each program, as its Properties dialog shows it.
for program in "$exe" "$check_exe"; do
  name="$(basename "$program" .exe)"
  version_file="$scratch/version-$name.txt"
  wine "$probe" version "$program" | tr -d '\r' >"$version_file" || true
  echo "$name.exe's version resource, as Windows reads it (project version $project_version):"
  sed 's/^/  /' "$version_file"
  for expected in "FixedFileVersion=$four_numbers" "FixedProductVersion=$four_numbers" \
                  "FileVersion=$project_version" "ProductVersion=$project_version" \
                  "ProductName=mavo" "InternalName=$name" "OriginalFilename=$name.exe"; do
    grep -qxF "$expected" "$version_file" || failed_step "$name.exe version resource: no $expected"
  done
  grep -qx "FileDescription=$name: ..*" "$version_file" || failed_step "$name.exe version resource: no file description"
  grep -qx 'LegalCopyright=.*The mavo authors' "$version_file" || failed_step "$name.exe version resource: no copyright"
done
# The test programs carry none.
if wine "$probe" version build/mingw32/tests/mavo_tests.exe | tr -d '\r' | grep -qv '^no version resource$'; then
  failed_step "mavo_tests.exe carries a version resource"
fi
# The manifest: well-formed (a malformed one stops Windows from starting the program,
# which wine does not do), and saying what it must, and no code page of its own.
manifest="$scratch/manifest.xml"
for program in "$exe" "$check_exe"; do
  name="$(basename "$program" .exe)"
  if wine "$probe" manifest "$program" >"$manifest" && xmllint --noout "$manifest"; then
    for expected in 'level="asInvoker"' \
                    'longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true<' \
                    '35138b9a-5d96-4fbd-8e2d-a2440225f93a' '4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38' \
                    '1f676c76-80e1-4239-95bb-83d0f6d0da78' '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a'; do
      grep -qF "$expected" "$manifest" || failed_step "$name.exe manifest: no $expected"
    done
    if grep -qi 'activeCodePage' "$manifest"; then failed_step "$name.exe manifest: sets a code page"; fi
    echo "$name.exe manifest: $(wc -c <"$manifest") bytes, well-formed; asInvoker, Windows 7, 8, 8.1, 10/11, long paths"
  else
    failed_step "$name.exe manifest: missing or not well-formed"
  fi
done

# ---- 10. the Windows package ------------------------------------------------------
phase "Windows package"
(cd build/mingw32 && cpack -G ZIP)
zip_file="$(ls -t build/mingw32/mavo-*-win32.zip | head -n 1)"
listing="$(cmake -E tar tf "$zip_file")"
echo "$zip_file:"
echo "$listing" | sed 's/^/  /'
# Exactly the programs, the documents and the examples, in one folder.
zip_folder="mavo-$project_version-win32"
expected_listing="$(printf "$zip_folder/%s\n" CHANGELOG.md LICENSE README.html README.md README.ru.html \
  README.ru.md examples/ examples/castle.qst examples/zamok.qst mavo-check.exe mavo.exe)"
[[ "$(LC_ALL=C sort <<<"$listing")" == "$expected_listing" ]] ||
  failed_step "$zip_file does not hold exactly: $(tr '\n' ' ' <<<"$expected_listing")"
# The packed program is the stripped one: it must still do the same work.
unpacked="$(mktemp -d "$scratch/zip.XXXXXX")"
(cd "$unpacked" && cmake -E tar xf "$root/$zip_file")
packed_exe="$(find "$unpacked" -name mavo.exe | head -n 1)"
# The texts in CR LF, with every line as in the sources; an example already in CR LF
# keeps its bytes.
for text in README.md README.ru.md LICENSE CHANGELOG.md examples/castle.qst examples/zamok.qst; do
  packed="$unpacked/$zip_folder/$text"
  if [[ ! -f "$packed" ]]; then
    failed_step "$zip_file: no $text"
  elif LC_ALL=C grep -aqv $'\r$' "$packed"; then
    failed_step "$zip_file: $text has line ends other than CR LF"
  elif ! cmp -s <(sed 's/\r$//' "$packed") <(sed 's/\r$//' "$text"); then
    failed_step "$zip_file: $text does not hold the lines of the source's $text"
  elif grep -q $'\r$' "$text" && ! cmp -s "$packed" "$text"; then
    failed_step "$zip_file: $text, CR LF already, did not keep its bytes"
  else
    echo "  $text: $(wc -l <"$packed") lines, all CR LF"
  fi
done
# The guides as web pages, made from the Markdown: UTF-8 declared, the tables and
# the Russian text in them, each linking to the other page.
for page in README.html README.ru.html; do
  packed="$unpacked/$zip_folder/$page"
  if [[ ! -f "$packed" ]]; then
    failed_step "$zip_file: no $page"
  elif ! grep -q '<meta charset="utf-8">' "$packed" || ! grep -q '<table>' "$packed" ||
       ! grep -q '<h2>' "$packed"; then
    failed_step "$zip_file: $page is not the guide as a page (no charset, tables or headings)"
  else
    echo "  $page: $(grep -c '<h2>' "$packed") sections, $(grep -c '<table>' "$packed") tables"
  fi
done
grep -q 'href="README.ru.html"' "$unpacked/$zip_folder/README.html" 2>/dev/null ||
  failed_step "$zip_file: README.html does not link to README.ru.html"
grep -q 'Из исходников' "$unpacked/$zip_folder/README.ru.html" 2>/dev/null ||
  failed_step "$zip_file: README.ru.html does not hold the Russian guide"
packed_check="$unpacked/$zip_folder/mavo-check.exe"
[[ "$(wine "$packed_check" --version | tr -d '\r')" == "mavo-check $project_version" ]] ||
  failed_step "the mavo-check.exe in $zip_file does not say \"mavo-check $project_version\""
castle="$(ls "$inputs"/example-*.qst | head -n 1)"
run_in_fresh_folder "$scratch/packed" "$castle" wine "$packed_exe"
cmp "$scratch/packed.qst" "$scratch/$(basename "$castle").windows.qst" ||
  failed_step "the mavo.exe in $zip_file does not write what build/mingw32/mavo.exe writes"
packed_dlls="$(dlls_not_of_windows "$packed_exe")"
[[ -z "$packed_dlls" ]] || failed_step "the mavo.exe in $zip_file needs DLLs a bare Windows does not have: $packed_dlls"
wine "$probe" version "$packed_exe" | tr -d '\r' | cmp -s - "$scratch/version-mavo.txt" ||
  failed_step "the mavo.exe in $zip_file lost its version resource"
wine "$probe" version "$packed_check" | tr -d '\r' | cmp -s - "$scratch/version-mavo-check.txt" ||
  failed_step "the mavo-check.exe in $zip_file lost its version resource"

phase ""
if ((${#failures[@]} > 0)); then
  echo "== windows-test: ${#failures[@]} step(s) failed in $((SECONDS - script_start)) s:"
  printf '   %s\n' "${failures[@]}"
  exit 1
fi
echo "== windows-test: all passed in $((SECONDS - script_start)) s"
