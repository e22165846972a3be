'use strict';
// The qst extension: mavo-check --lsp as the language server of .qst files (the
// bundled program, or the one named by the setting mavoCheck.path), and folding by
// location.
const fs = require('fs');
const path = require('path');
const vscode = require('vscode');
const { LanguageClient } = require('vscode-languageclient/node');
const { location_folds } = require('./folding');

let client = null;

// The program for this platform: bin/linux-x64/mavo-check or bin/win32/mavo-check.exe
// (a 32-bit program, which 64-bit Windows runs as well).
function bundled_server(context) {
  if (process.platform === 'win32') return context.asAbsolutePath(path.join('bin', 'win32', 'mavo-check.exe'));
  if (process.platform === 'linux' && process.arch === 'x64') {
    const program = context.asAbsolutePath(path.join('bin', 'linux-x64', 'mavo-check'));
    try {
      fs.accessSync(program, fs.constants.X_OK);
    } catch {
      try { fs.chmodSync(program, 0o755); } catch { /* reported when it fails to start */ }
    }
    return program;
  }
  return null;
}

function settings() {
  const config = vscode.workspace.getConfiguration('mavoCheck');
  return { mode: config.get('mode'), all: config.get('all') };
}

async function start(context) {
  const configured = vscode.workspace.getConfiguration('mavoCheck').get('path');
  const program = configured ? configured : bundled_server(context);
  if (!program) {
    vscode.window.showErrorMessage(
      `mavo-check is bundled for Linux x64 and Windows only: set "mavoCheck.path" to a mavo-check of your own (${process.platform} ${process.arch}).`);
    return;
  }
  const server = { command: program, args: ['--lsp'] };
  client = new LanguageClient('mavoCheck', 'mavo-check', server, {
    documentSelector: [{ scheme: 'file', language: 'qst' }],
    initializationOptions: { mavoCheck: settings() },
    synchronize: { configurationSection: 'mavoCheck' },
  });
  try {
    await client.start();
  } catch (e) {
    vscode.window.showErrorMessage(`mavo-check --lsp did not start (${program}): ${e && e.message ? e.message : e}`);
  }
}

async function stop() {
  if (client === null) return;
  const old = client;
  client = null;
  try { await old.stop(); } catch { /* already gone */ }
}

async function activate(context) {
  context.subscriptions.push(vscode.languages.registerFoldingRangeProvider({ language: 'qst' }, {
    provideFoldingRanges(document) {
      const lines = [];
      for (let i = 0; i < document.lineCount; i++) lines.push(document.lineAt(i).text);
      return location_folds(lines).map((f) => new vscode.FoldingRange(f.start, f.end, vscode.FoldingRangeKind.Region));
    },
  }));
  // Another program: the server is started again.
  context.subscriptions.push(vscode.workspace.onDidChangeConfiguration(async (e) => {
    if (e.affectsConfiguration('mavoCheck.path')) {
      await stop();
      await start(context);
    }
  }));
  await start(context);
}

function deactivate() {
  return stop();
}

module.exports = { activate, deactivate };
