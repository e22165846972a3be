// The VS Code extension's client (editors/vscode/extension.js) with stand-ins for
// the modules "vscode" and "vscode-languageclient/node": which program it starts and
// how (the bundled one of the platform, or mavoCheck.path), the settings it hands
// the server, the start again when the path changes, and the folding provider.
//   node extension.test.js <editors/vscode>
'use strict';
const Module = require('module');
const fs = require('fs');
const path = require('path');
// Taken before the tests pretend to be on other platforms, which moves it.
const scratch_root = require('os').tmpdir();

const extension_dir = path.resolve(process.argv[2]);
let settings = {};
let config_listener = null;
let fold_provider = null;
const clients = [];
const errors = [];

class FoldingRange {
  constructor(start, end, kind) { Object.assign(this, { start, end, kind }); }
}
const vscode = {
  workspace: {
    getConfiguration: (section) => ({ get: (key) => settings[`${section}.${key}`] }),
    onDidChangeConfiguration: (listener) => { config_listener = listener; return { dispose() {} }; },
  },
  window: { showErrorMessage: (message) => errors.push(message) },
  languages: {
    registerFoldingRangeProvider: (selector, provider) => { fold_provider = { selector, provider }; return { dispose() {} }; },
  },
  FoldingRange,
  FoldingRangeKind: { Region: 3 },
};
class LanguageClient {
  constructor(id, name, server, options) {
    Object.assign(this, { id, name, server, options, started: false, stopped: false });
    clients.push(this);
  }
  async start() { this.started = true; }
  async stop() { this.stopped = true; }
}
const real_load = Module._load;
Module._load = function (request, parent, is_main) {
  if (request === 'vscode') return vscode;
  if (request === 'vscode-languageclient/node') return { LanguageClient };
  return real_load.call(this, request, parent, is_main);
};
const extension = require(path.join(extension_dir, 'extension.js'));

let passed = 0;
let failed = 0;
function check(ok, what) {
  if (ok) passed++;
  else { failed++; console.log(`FAIL ${what}`); }
}
function set_platform(platform, arch) {
  Object.defineProperty(process, 'platform', { value: platform });
  Object.defineProperty(process, 'arch', { value: arch });
}
const context = () => ({ subscriptions: [], asAbsolutePath: (p) => path.join('/ext', p) });
const real_platform = process.platform;
const real_arch = process.arch;

async function main() {
  // The bundled program of each platform, with --lsp, and the settings as the
  // initialization options; the client's documents are the qst files.
  const platforms = [
    ['linux', 'x64', path.join('/ext', 'bin', 'linux-x64', 'mavo-check')],
    ['win32', 'x64', path.join('/ext', 'bin', 'win32', 'mavo-check.exe')],
    ['win32', 'ia32', path.join('/ext', 'bin', 'win32', 'mavo-check.exe')],
  ];
  for (const [platform, arch, program] of platforms) {
    set_platform(platform, arch);
    settings = { 'mavoCheck.mode': 'ripurq', 'mavoCheck.all': true, 'mavoCheck.path': '' };
    clients.length = 0;
    await extension.activate(context());
    const c = clients[0];
    check(clients.length === 1 && c.started, `${platform} ${arch}: one client started`);
    check(c && c.server.command === program, `${platform} ${arch}: the program is ${program}: ${c && c.server.command}`);
    check(c && JSON.stringify(c.server.args) === '["--lsp"]', `${platform} ${arch}: started with --lsp`);
    check(c && JSON.stringify(c.options.initializationOptions) === '{"mavoCheck":{"mode":"ripurq","all":true}}',
          `${platform} ${arch}: the settings as initialization options: ${c && JSON.stringify(c.options.initializationOptions)}`);
    check(c && c.options.synchronize.configurationSection === 'mavoCheck', `${platform} ${arch}: mavoCheck settings sent on change`);
    check(c && c.options.documentSelector.some((s) => s.language === 'qst' && s.scheme === 'file'),
          `${platform} ${arch}: the documents are qst files`);
    await extension.deactivate();
    check(c && c.stopped, `${platform} ${arch}: stopped on deactivation`);
  }

  // A .vsix is a zip, which keeps no run bit: the bundled Linux program gets it
  // back when the extension starts.
  const unpacked = fs.mkdtempSync(path.join(scratch_root, 'mavo-vsix-'));
  const bundled = path.join(unpacked, 'bin', 'linux-x64', 'mavo-check');
  fs.mkdirSync(path.dirname(bundled), { recursive: true });
  fs.writeFileSync(bundled, '#!/bin/sh\n', { mode: 0o644 });
  fs.chmodSync(bundled, 0o644);
  set_platform('linux', 'x64');
  settings = { 'mavoCheck.path': '' };
  clients.length = 0;
  await extension.activate({ subscriptions: [], asAbsolutePath: (p) => path.join(unpacked, p) });
  check((fs.statSync(bundled).mode & 0o111) !== 0, `the bundled program is made runnable: mode ${(fs.statSync(bundled).mode & 0o777).toString(8)}`);
  check(clients.length === 1 && clients[0].server.command === bundled, 'and it is the program started');
  await extension.deactivate();
  fs.rmSync(unpacked, { recursive: true, force: true });

  // Elsewhere nothing is bundled: a message names the setting, and no client starts.
  set_platform('darwin', 'arm64');
  clients.length = 0;
  errors.length = 0;
  await extension.activate(context());
  check(clients.length === 0 && errors.length === 1 && errors[0].includes('mavoCheck.path'),
        `darwin: no client, a message about mavoCheck.path: ${JSON.stringify(errors)}`);

  // mavoCheck.path overrides, and a change of it starts the new program.
  settings['mavoCheck.path'] = '/opt/mavo/mavo-check';
  clients.length = 0;
  await extension.activate(context());
  check(clients.length === 1 && clients[0].server.command === '/opt/mavo/mavo-check', 'mavoCheck.path is the program');
  settings['mavoCheck.path'] = '/usr/local/bin/mavo-check';
  await config_listener({ affectsConfiguration: (s) => s === 'mavoCheck.path' || s === 'mavoCheck' });
  check(clients.length === 2 && clients[0].stopped && clients[1].started &&
        clients[1].server.command === '/usr/local/bin/mavo-check', 'a new mavoCheck.path: the old server stopped, the new one started');
  await config_listener({ affectsConfiguration: (s) => s === 'mavoCheck.mode' || s === 'mavoCheck' });
  check(clients.length === 2 && !clients[1].stopped, 'a new mode: the same server (the client sends the settings)');
  await extension.deactivate();

  // The folding provider folds by location.
  check(fold_provider && fold_provider.selector.language === 'qst', 'a folding provider for qst');
  const lines = [':a', 'pln 1', 'end', '', ':b', 'end'];
  const document = { lineCount: lines.length, lineAt: (i) => ({ text: lines[i] }) };
  const folds = fold_provider ? fold_provider.provider.provideFoldingRanges(document) : [];
  check(JSON.stringify(folds) === JSON.stringify([new FoldingRange(0, 2, 3), new FoldingRange(4, 5, 3)]),
        `folds of two locations: ${JSON.stringify(folds)}`);

  set_platform(real_platform, real_arch);
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
}

main().catch((e) => {
  console.log(e && e.stack ? e.stack : String(e));
  process.exit(1);
});
