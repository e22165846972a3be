#!/usr/bin/env bash
# mavo-check --lsp in headless Neovim, configured as docs/editors.md says (its lua
# block is the init.lua here): nvim_test.lua checks the diagnostics and the jumps.
#   tests/editors/nvim_test.sh <mavo-check>
# Exits 77 (skipped, with one line) where nvim is missing or the program is no
# language server yet.
set -euo pipefail
exec </dev/null
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
program="$1"

if ! command -v nvim >/dev/null; then
  echo "skipped: nvim is missing (Debian's neovim; the configure step installs it with MAVO_INSTALL_DEPS)"
  exit 77
fi
# A language server answers an initialize request with a framed response.
request='{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"processId":null,"rootUri":null,"capabilities":{}}}'
answer="$(printf 'Content-Length: %d\r\n\r\n%s' "${#request}" "$request" | timeout 20 "$program" --lsp 2>/dev/null || true)"
if [[ "$answer" != Content-Length:* ]]; then
  echo "skipped: $program does not answer as a language server (mavo-check --lsp)"
  exit 77
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/mavo-nvim.XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/game" "$work/config" "$work/data" "$work/state"
# The game, in cp1251 with CR LF line ends: a misspelt target on line 3 after
# Cyrillic text, a Cyrillic location, and a location in the other file.
printf ':start\r\npln Начало\r\npln Привет & goto хал\r\nbtn зал,Идти\r\nend\r\n\r\n:зал\r\npln Зал\r\ngoto cellar\r\nend\r\n' |
  iconv -f utf-8 -t cp1251 >"$work/game/game.qst"
printf ';the cellar\r\n:cellar\r\npln Dark\r\nbtn start,Up\r\nend\r\n' >"$work/game/part2.qst"
# The configuration: the lua block of docs/editors.md's Neovim section.
awk '/^## Neovim/ {neovim = 1} neovim && /^```lua/ {inside = 1; next} inside && /^```/ {exit} inside {print}' \
  "$here/../../docs/editors.md" >"$work/init.lua"
[[ -s "$work/init.lua" ]] || { echo "docs/editors.md has no lua block under \"## Neovim\""; exit 1; }

cd "$work/game"
status=0
XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state" \
  timeout 120 nvim --headless -n -i NONE --noplugin --cmd "let g:mavo_check = '$program'" -u "$work/init.lua" \
  -c "luafile $here/nvim_test.lua" game.qst || status=$?
exit "$status"
