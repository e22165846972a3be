// The qst extension's client: starts mavo-check --lsp for the workspace's .qst
// files, with the settings mavoCheck.mode, mavoCheck.all and mavoCheck.path.
'use strict';
const fs = require('node:fs');
const path = require('node:path');
const vscode = require('vscode');
const { LanguageClient } = require('vscode-languageclient/node');

let client;

// The program: the setting, else the one bundled for this platform, else the PATH's.
function program(context) {
  const set = vscode.workspace.getConfiguration('mavoCheck').get('path');
  if (set) return set;
  const bundled = path.join(context.extensionPath, 'bin',
                            process.platform === 'win32' ? 'mavo-check.exe' : 'mavo-check');
  return fs.existsSync(bundled) ? bundled : 'mavo-check';
}

function settings() {
  const c = vscode.workspace.getConfiguration('mavoCheck');
  return { mavoCheck: { mode: c.get('mode') || undefined, all: c.get('all') } };
}

function activate(context) {
  const command = program(context);
  client = new LanguageClient('mavoCheck', 'mavo-check',
    { run: { command, args: ['--lsp'] }, debug: { command, args: ['--lsp'] } },
    {
      documentSelector: [{ scheme: 'file', language: 'qst' }],
      initializationOptions: settings(),
      synchronize: { configurationSection: 'mavoCheck' },
    });
  client.start();
  context.subscriptions.push(vscode.workspace.onDidChangeConfiguration((e) => {
    if (e.affectsConfiguration('mavoCheck') && client)
      client.sendNotification('workspace/didChangeConfiguration', { settings: settings() });
  }));
}

function deactivate() {
  return client ? client.stop() : undefined;
}

module.exports = { activate, deactivate };
