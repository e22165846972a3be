#!/usr/bin/env bash
# Packs the VS Code extension as a .vsix with @vscode/vsce (pinned in
# package-lock.json): the extension's files and its runtime packages, LICENSE, and
# in bin/ the mavo-check programs given (the Linux x64 one and the Windows exe), in
# a work folder of its own; then lists what the .vsix holds and checks its manifest.
#   editors/vscode/package.sh OUT.vsix WORK [mavo-check] [mavo-check.exe]
set -euo pipefail
[[ $# -ge 2 ]] || { echo "usage: editors/vscode/package.sh OUT.vsix WORK [mavo-check] [mavo-check.exe]" >&2; exit 2; }
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
out=$(realpath -m "$1")
work=$(realpath -m "$2")
shift 2
mkdir -p "$work"
# The packages once for each version of the lock (kept between runs), the rest fresh.
cmake -DNPM="$(command -v npm)" -DSOURCE="$here" -DWORK="$work" -P "$root/tests/lsp/npm_ci.cmake"
rm -rf "$work/bin" "$work/syntaxes"
cp -r "$here/syntaxes" "$work/"
cp "$here/extension.js" "$here/language-configuration.json" "$here/README.md" "$here/.vscodeignore" "$work/"
cp "$root/LICENSE" "$work/LICENSE"
mkdir -p "$work/bin"
for program in "$@"; do cp "$program" "$work/bin/"; done
cd "$work"
npx --no-install vsce package --allow-missing-repository -o "$out" < /dev/null
# What it holds: the programs, the grammar, the client and its packages.
listing=$(unzip -Z1 "$out")
for need in extension/package.json extension/extension.js extension/syntaxes/qst.tmLanguage.json \
            extension/language-configuration.json extension/LICENSE.txt \
            extension/node_modules/vscode-languageclient/package.json; do
  grep -qx "$need" <<< "$listing" || { echo "$out lacks $need" >&2; exit 1; }
done
for program in "$@"; do
  grep -qx "extension/bin/$(basename "$program")" <<< "$listing" || { echo "$out lacks bin/$(basename "$program")" >&2; exit 1; }
done
unzip -p "$out" extension/package.json | node -e '
  const m = JSON.parse(require("fs").readFileSync(0, "utf8"));
  const fail = (why) => { console.error("manifest: " + why); process.exit(1); };
  if (m.main !== "./extension.js") fail("main");
  if (!m.contributes.languages.some((l) => l.id === "qst" && l.extensions.includes(".qst"))) fail("language qst");
  if (!m.contributes.grammars.some((g) => g.scopeName === "source.qst")) fail("grammar");
  for (const s of ["mavoCheck.mode", "mavoCheck.all", "mavoCheck.path"])
    if (!(s in m.contributes.configuration.properties)) fail(s);
  if (m.contributes.configurationDefaults["[qst]"]["files.autoGuessEncoding"] !== true) fail("autoGuessEncoding");
'
echo "$out: $(wc -l <<< "$listing") files"
