#!/usr/bin/env bash
# The VS Code extension under node: its grammar and folding (grammar.test.js, with
# vscode-textmate and vscode-oniguruma as editors/vscode/package-lock.json pins them,
# `npm ci` into WORK, again only when the lock changes) and its client
# (extension.test.js, with stand-ins for VS Code's modules).
#   tests/editors/vscode_test.sh <work folder>
# Exits 77 (skipped, with one line) where node or npm is missing.
set -euo pipefail
exec </dev/null
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
extension="$here/../../editors/vscode"
work="$1"

if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "skipped: node or npm is missing"
  exit 77
fi
mkdir -p "$work"
lock_hash="$(sha256sum "$extension/package-lock.json" | cut -d' ' -f1)"
if [[ "$(cat "$work/node_modules/.mavo-lock" 2>/dev/null || true)" != "$lock_hash" ]]; then
  cp "$extension/package.json" "$extension/package-lock.json" "$work/"
  (cd "$work" && npm ci --no-audit --no-fund --ignore-scripts --loglevel=error)
  echo "$lock_hash" >"$work/node_modules/.mavo-lock"
fi
status=0
NODE_PATH="$work/node_modules" node "$here/grammar.test.js" "$extension" || status=1
node "$here/extension.test.js" "$extension" || status=1
exit "$status"
