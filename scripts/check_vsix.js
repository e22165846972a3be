// Checks the VS Code extension that scripts/package.sh packed, unpacked in a folder:
// lists its files (node_modules as one line a package) and checks its manifest
// (package.json's fields, extension.vsixmanifest's identity) and that it carries
// both programs, byte for byte the ones of the packages, the Linux one executable.
//   node scripts/check_vsix.js <unpacked .vsix> <version> <mavo-check> <mavo-check.exe>
// Exits 1 with a line for each fault.
'use strict';
const fs = require('fs');
const path = require('path');

const [dir, version, linux_program, windows_program] = process.argv.slice(2);
const faults = [];
const fault = (what) => faults.push(what);

function walk(folder, prefix, out) {
  for (const name of fs.readdirSync(folder).sort()) {
    const full = path.join(folder, name);
    const rel = prefix ? `${prefix}/${name}` : name;
    if (fs.statSync(full).isDirectory()) walk(full, rel, out);
    else out.push(rel);
  }
  return out;
}

const files = walk(dir, '', []);
const modules = new Map();
console.log('.vsix files:');
for (const f of files) {
  const m = /^extension\/node_modules\/((?:@[^/]+\/)?[^/]+)\//.exec(f);
  if (m) modules.set(m[1], (modules.get(m[1]) || 0) + 1);
  else console.log(`  ${f}`);
}
for (const [name, count] of modules) console.log(`  extension/node_modules/${name}/ (${count} files)`);

const ext = path.join(dir, 'extension');
let manifest = {};
try {
  manifest = JSON.parse(fs.readFileSync(path.join(ext, 'package.json'), 'utf8'));
} catch (e) {
  fault(`extension/package.json cannot be read: ${e.message}`);
}
const expect = (ok, what) => { if (!ok) fault(what); };
expect(manifest.name === 'mavo-qst', `package.json's name is "${manifest.name}", not "mavo-qst"`);
expect(manifest.version === version, `package.json's version is "${manifest.version}", not the project's ${version}`);
expect(typeof manifest.publisher === 'string' && manifest.publisher !== '', 'package.json has no publisher');
expect(manifest.engines && typeof manifest.engines.vscode === 'string', 'package.json has no engines.vscode');
expect(manifest.main === './extension.js' && files.includes('extension/extension.js'), 'the main module extension.js is missing');
expect(files.includes('extension/folding.js'), 'folding.js is missing');
const c = manifest.contributes || {};
const language = (c.languages || []).find((l) => l.id === 'qst');
expect(language && (language.extensions || []).includes('.qst'), 'no language "qst" for .qst files');
expect(language && files.includes(path.posix.join('extension', language.configuration || '')),
       'the language configuration is missing');
const grammar = (c.grammars || []).find((g) => g.language === 'qst');
expect(grammar && grammar.scopeName === 'source.qst' && files.includes(path.posix.join('extension', grammar.path || '')),
       'the grammar source.qst is missing');
const properties = (c.configuration && c.configuration.properties) || {};
for (const setting of ['mavoCheck.mode', 'mavoCheck.all', 'mavoCheck.path'])
  expect(setting in properties, `no setting ${setting}`);
const defaults = (c.configurationDefaults || {})['[qst]'] || {};
expect(defaults['files.autoGuessEncoding'] === true, '"[qst]": files.autoGuessEncoding is not in configurationDefaults');
expect((manifest.activationEvents || []).includes('onLanguage:qst'), 'no activation on the language qst');
expect(manifest.dependencies && manifest.dependencies['vscode-languageclient'], 'no dependency vscode-languageclient');
expect(modules.has('vscode-languageclient') && modules.has('vscode-languageserver-protocol'),
       'node_modules lacks vscode-languageclient or vscode-languageserver-protocol');
for (const dev of Object.keys(manifest.devDependencies || {}))
  expect(!modules.has(dev), `the development package ${dev} is packed`);
expect(files.includes('extension/LICENSE.txt') || files.includes('extension/LICENSE'), 'no license');

// The packed client loads from the packed packages alone (the module "vscode", which
// VS Code itself provides, stood in for by an object of empty functions).
{
  const Module = require('module');
  const real_load = Module._load;
  Module._load = function (request, parent, is_main) {
    if (request === 'vscode') return new Proxy({}, { get: () => function () {} });
    return real_load.call(this, request, parent, is_main);
  };
  try {
    const client = require(path.resolve(ext, 'node_modules', 'vscode-languageclient', 'node'));
    expect(typeof client.LanguageClient === 'function', 'the packed vscode-languageclient has no LanguageClient');
  } catch (e) {
    fault(`the packed vscode-languageclient does not load: ${e.message}`);
  } finally {
    Module._load = real_load;
  }
}

let vsixmanifest = '';
try { vsixmanifest = fs.readFileSync(path.join(dir, 'extension.vsixmanifest'), 'utf8'); } catch { /* below */ }
expect(new RegExp(`<Identity [^>]*Id="mavo-qst" Version="${version.replace(/\./g, '\\.')}"`).test(vsixmanifest),
       'extension.vsixmanifest lacks the identity mavo-qst ' + version);

function same_program(rel, built, executable) {
  const full = path.join(dir, rel);
  if (!fs.existsSync(full)) return fault(`${rel} is missing`);
  if (!fs.readFileSync(full).equals(fs.readFileSync(built))) fault(`${rel} differs from ${built}`);
  if (executable && (fs.statSync(full).mode & 0o111) === 0) fault(`${rel} is not executable`);
}
same_program('extension/bin/linux-x64/mavo-check', linux_program, true);
same_program('extension/bin/win32/mavo-check.exe', windows_program, false);

if (faults.length > 0) {
  for (const f of faults) console.log(`vsix: ${f}`);
  process.exit(1);
}
console.log(`.vsix: the manifest of mavo-qst ${version} and both programs checked`);
