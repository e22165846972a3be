#!/usr/bin/env bash
# Builds every package of mavo (mavo and mavo-check, their manual pages, the READMEs,
# the two examples and mavo-urqw.js), the build date fixed by SOURCE_DATE_EPOCH:
#   build/web/src/web/mavo-urqw.js (preset "web", Debian's emscripten), which the
#     packages take: share/mavo/ of the .tar.gz and the .deb, the .zip's folder;
#   build/package/mavo-<version>-Linux.tar.gz and build/package/mavo_<version>_amd64.deb
#     (workflow preset "package": Debian's hardening build flags, no tests);
#   build/package-mingw32/mavo-<version>-win32.zip (workflow preset "package-mingw32");
#   build/package/mavo-qst-<version>.vsix, the VS Code extension of editors/vscode with
#     the Linux mavo-check and mavo-check.exe of those packages (@vscode/vsce, from
#     the extension's package-lock.json by npm ci; not made with --no-windows).
# The zip also holds the two guides as web pages, README.html and README.ru.html,
# made from the Markdown by Debian's cmark-gfm. Installs what it lacks with apt-get
# (dpkg-dev, the mingw-w64 cross compiler and cmark-gfm, and lintian for --lint).
# Options:
#   --lint          checks the .deb with `lintian --pedantic`, info tags shown: any tag
#                   at all fails the run
#   --reproducible  builds everything a second time from a copy of the sources in
#                   another folder and compares the programs and the packages byte for
#                   byte
#   --no-windows    leaves the .zip and the .vsix out
# SOURCE_DATE_EPOCH, when not set, is the time of the last commit. Reads no input.
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive
exec </dev/null

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

lint=false
reproducible=false
windows=true
for arg in "$@"; do
  case "$arg" in
    --lint) lint=true ;;
    --reproducible) reproducible=true ;;
    --no-windows) windows=false ;;
    *) echo "usage: scripts/package.sh [--lint] [--reproducible] [--no-windows]" >&2; exit 2 ;;
  esac
done

fail() {
  echo "package: $*" >&2
  exit 1
}

# as_root, and apt_install: the named Debian packages, once the lists are fresh.
source "$root/scripts/apt.sh"

# ---- what the build needs ---------------------------------------------------------
missing=()
command -v dpkg-buildflags >/dev/null && command -v dpkg-shlibdeps >/dev/null || missing+=(dpkg-dev)
command -v gzip >/dev/null || missing+=(gzip)
if [[ "$windows" == true ]] && ! command -v i686-w64-mingw32-g++-posix >/dev/null; then
  missing+=(g++-mingw-w64-i686)
fi
if [[ "$windows" == true ]] && ! command -v cmark-gfm >/dev/null; then
  missing+=(cmark-gfm)
fi
if [[ "$lint" == true ]] && ! command -v lintian >/dev/null; then
  missing+=(lintian)
fi
if [[ "$windows" == true ]] && ! command -v npm >/dev/null; then
  missing+=(npm)
fi
if ((${#missing[@]} > 0)); then
  apt_install "${missing[@]}"
fi

if [[ -z "${SOURCE_DATE_EPOCH:-}" ]]; then
  SOURCE_DATE_EPOCH="$(git -C "$root" log -1 --format=%ct 2>/dev/null || stat -c %Y "$root/CHANGELOG.md")"
fi
export SOURCE_DATE_EPOCH
echo "SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH ($(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC'))"

# ---- mavo-urqw.js ------------------------------------------------------------------
# Built first (preset "web", Debian's emscripten, installed by its toolchain file when
# missing): the package presets take it from build/web (MAVO_URQW_JS).
(
  unset CFLAGS CXXFLAGS CPPFLAGS LDFLAGS
  cmake --preset web --fresh
  cmake --build --preset web
)
web_js=build/web/src/web/mavo-urqw.js

# ---- the Linux packages -----------------------------------------------------------
# Debian's build flags, hardened as lintian expects (the C preprocessor's flags go
# into CXXFLAGS, as CMake reads no CPPFLAGS).
(
  eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
  export CXXFLAGS="$CPPFLAGS $CXXFLAGS" LDFLAGS
  echo "CXXFLAGS=$CXXFLAGS"
  echo "LDFLAGS=$LDFLAGS"
  cmake --workflow --preset package --fresh
)
packages=(build/package/mavo-*-Linux.tar.gz build/package/mavo_*_amd64.deb)
programs=(build/package/mavo build/package/mavo-check "$web_js")

# ---- the Windows package ----------------------------------------------------------
if [[ "$windows" == true ]]; then
  (
    unset CFLAGS CXXFLAGS CPPFLAGS LDFLAGS
    cmake --workflow --preset package-mingw32 --fresh
  )
  packages+=(build/package-mingw32/mavo-*-win32.zip)
  programs+=(build/package-mingw32/mavo.exe build/package-mingw32/mavo-check.exe)
fi

# ---- the VS Code extension ----------------------------------------------------------
# editors/vscode's files, the license, and the stripped programs of the .tar.gz and
# the .zip in bin/linux-x64 and bin/win32, packed by @vscode/vsce with the
# extension's runtime packages (npm ci of its lock; vsce takes the production ones
# alone). vsce stamps every entry with SOURCE_DATE_EPOCH and sorts them, so the
# .vsix is the same bytes every build. Then its files are listed and its manifest
# checked (scripts/check_vsix.js).
if [[ "$windows" == true ]]; then
  version="$(sed -n 's/^project(mavo VERSION \([0-9.]*\)$/\1/p' CMakeLists.txt)"
  [[ -n "$version" ]] || fail "no version in CMakeLists.txt's project()"
  vsix="build/package/mavo-qst-$version.vsix"
  ext=build/vscode/extension
  rm -rf build/vscode "$vsix"
  mkdir -p "$ext/bin/linux-x64" "$ext/bin/win32" build/vscode/zip
  (cd editors/vscode && cp --parents package.json package-lock.json .vscodeignore README.md extension.js folding.js \
     language-configuration.json syntaxes/qst.tmLanguage.json "$root/$ext/")
  cp LICENSE "$ext/LICENSE"
  tar -xzOf build/package/mavo-*-Linux.tar.gz --wildcards '*/bin/mavo-check' >"$ext/bin/linux-x64/mavo-check"
  chmod 755 "$ext/bin/linux-x64/mavo-check"
  (cd build/vscode/zip && cmake -E tar xf "$root"/build/package-mingw32/mavo-*-win32.zip)
  cp build/vscode/zip/mavo-*-win32/mavo-check.exe "$ext/bin/win32/mavo-check.exe"
  (
    cd "$ext"
    npm ci --no-audit --no-fund --ignore-scripts --loglevel=error
    node_modules/.bin/vsce package --allow-missing-repository --out "$root/$vsix"
  )
  packages+=("$vsix")
  rm -rf build/vscode/vsix
  mkdir -p build/vscode/vsix
  (cd build/vscode/vsix && cmake -E tar xf "$root/$vsix")
  node scripts/check_vsix.js build/vscode/vsix "$version" "$ext/bin/linux-x64/mavo-check" "$ext/bin/win32/mavo-check.exe" ||
    fail "$vsix is not as it should be"
  [[ "$(build/vscode/vsix/extension/bin/linux-x64/mavo-check --version)" == *"$version"* ]] ||
    fail "the .vsix's mavo-check does not run or is not version $version"
fi

for file in "${programs[@]}" "${packages[@]}"; do
  [[ -f "$file" ]] || fail "$file was not made"
done
# Each package carries mavo-urqw.js, the very file built.
tar -xzOf build/package/mavo-*-Linux.tar.gz --wildcards '*/share/mavo/mavo-urqw.js' | cmp -s - "$web_js" ||
  fail "the .tar.gz lacks share/mavo/mavo-urqw.js"
dpkg-deb --fsys-tarfile build/package/mavo_*_amd64.deb | tar -xOf - ./usr/share/mavo/mavo-urqw.js | cmp -s - "$web_js" ||
  fail "the .deb lacks /usr/share/mavo/mavo-urqw.js"
if [[ "$windows" == true ]]; then
  unzip_dir="$(mktemp -d)"
  (cd "$unzip_dir" && cmake -E tar xf "$root"/build/package-mingw32/mavo-*-win32.zip)
  cmp -s "$unzip_dir"/mavo-*-win32/mavo-urqw.js "$web_js" || fail "the .zip lacks mavo-urqw.js beside the programs"
  rm -rf "$unzip_dir"
fi
# The zip's guides: the Markdown, and the web pages made from it.
if [[ "$windows" == true ]]; then
  zip_listing="$(cmake -E tar tf build/package-mingw32/mavo-*-win32.zip)"
  for guide in README.md README.ru.md README.html README.ru.html; do
    grep -qx "mavo-[^/]*-win32/$guide" <<<"$zip_listing" || fail "the Windows zip holds no $guide"
  done
fi
echo
echo "packages:"
sha256sum "${programs[@]}" "${packages[@]}"

# ---- lintian ----------------------------------------------------------------------
if [[ "$lint" == true ]]; then
  deb="$(ls build/package/mavo_*_amd64.deb)"
  echo
  echo "lintian --pedantic --display-info $deb"
  # Run by an unprivileged user where the script is root, as lintian asks.
  lint_dir="$(mktemp -d)"
  trap 'rm -rf "$lint_dir"' EXIT
  cp "$deb" "$lint_dir/"
  chmod -R a+rX "$lint_dir"
  lint_cmd=(lintian --pedantic --display-info --fail-on error,warning,info,pedantic
            "$lint_dir/$(basename "$deb")")
  if [[ "$(id -u)" -eq 0 ]]; then
    lint_cmd=(setpriv --reuid=nobody --regid=nogroup --clear-groups --reset-env "${lint_cmd[@]}")
  fi
  status=0
  lint_output="$(cd "$lint_dir" && HOME="$lint_dir" "${lint_cmd[@]}" 2>&1)" || status=$?
  if [[ -n "$lint_output" ]]; then
    echo "$lint_output"
  fi
  [[ "$status" -eq 0 && -z "$lint_output" ]] || fail "lintian is not clean on $deb (status $status)"
  echo "lintian: clean"
fi

# ---- a second build, compared ------------------------------------------------------
if [[ "$reproducible" == true ]]; then
  second="$(mktemp -d)/mavo-second-build"
  mkdir -p "$second"
  echo
  echo "second build in $second"
  if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$root" ls-files -z | (cd "$root" && xargs -0 cp --parents -t "$second")
  else
    tar -C "$root" --exclude=./build -cf - . | tar -C "$second" -xf -
  fi
  second_args=()
  [[ "$windows" == true ]] || second_args+=(--no-windows)
  bash "$second/scripts/package.sh" "${second_args[@]}"
  echo
  echo "second build:"
  (cd "$second" && sha256sum "${programs[@]}" "${packages[@]}")
  differ=()
  for file in "${programs[@]}" "${packages[@]}"; do
    cmp -s "$file" "$second/$file" || differ+=("$file")
  done
  if ((${#differ[@]} > 0)); then
    fail "not reproducible: ${differ[*]} differ between $root and $second"
  fi
  rm -rf "$(dirname "$second")"
  echo "reproducible: the two builds are byte for byte the same"
fi
