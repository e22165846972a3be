// mavo-check --lsp end to end, through the LSP client libraries that VS Code's own
// client is built on: node server.test.js <mavo-check> [emulator...]
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawn } = require('node:child_process');
const { pathToFileURL } = require('node:url');
const rpc = require('vscode-languageserver-protocol/node');

const command = process.argv.slice(2);
if (command.length === 0) {
  console.error('usage: node server.test.js <mavo-check> [emulator words before it]');
  process.exit(2);
}
// An emulator's words come first when given: mavo-check is the first word.
const program = command.length > 1 ? command[command.length - 1] : command[0];
const prefix = command.length > 1 ? command.slice(0, -1) : [];

// Every server started, so that a failed test leaves none running.
const started = [];
test.after(() => {
  for (const child of started) if (child.exitCode === null) child.kill();
});

function startServer() {
  const words = [...prefix, program, '--lsp'];
  const child = spawn(words[0], words.slice(1), { stdio: ['pipe', 'pipe', 'inherit'] });
  started.push(child);
  return child;
}

// A client: the connection, and the diagnostics as they arrive, by URI.
async function connect(options = {}) {
  const child = startServer();
  const connection = rpc.createProtocolConnection(new rpc.StreamMessageReader(child.stdout),
                                                  new rpc.StreamMessageWriter(child.stdin));
  const published = new Map();
  const waiting = [];
  connection.onNotification(rpc.PublishDiagnosticsNotification.type, (params) => {
    published.set(params.uri, params);
    for (const w of waiting.splice(0)) w();
  });
  connection.listen();
  const exited = new Promise((resolve) => child.on('exit', (code) => resolve(code)));
  const init = await connection.sendRequest(rpc.InitializeRequest.type, {
    processId: process.pid,
    rootUri: null,
    locale: options.locale || 'en',
    capabilities: { general: { positionEncodings: options.encodings || ['utf-16'] } },
    initializationOptions: options.settings || {},
  });
  connection.sendNotification(rpc.InitializedNotification.type, {});
  // Waits for diagnostics of `uri` that `accept` takes (the next ones by default).
  async function diagnostics(uri, accept = () => true) {
    const deadline = Date.now() + 120000;  // generous: sanitizer builds and emulators are slow
    for (;;) {
      const got = published.get(uri);
      if (got && accept(got)) {
        published.delete(uri);
        return got.diagnostics;
      }
      if (Date.now() > deadline) throw new Error('no diagnostics for ' + uri);
      await new Promise((resolve) => {
        waiting.push(resolve);
        setTimeout(resolve, 200);
      });
    }
  }
  async function close() {
    await connection.sendRequest(rpc.ShutdownRequest.type);
    connection.sendNotification(rpc.ExitNotification.type);
    const code = await exited;
    connection.dispose();
    return code;
  }
  return { connection, init, diagnostics, close, child, exited, published };
}

function folder() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'mavo-lsp-'));
}
const uriOf = (p) => pathToFileURL(p).href;

// cp1251 bytes of a text made of ASCII and Russian letters.
function cp1251(text) {
  const out = [];
  for (const ch of text) {
    const c = ch.codePointAt(0);
    if (c < 0x80) out.push(c);
    else if (c >= 0x410 && c <= 0x44f) out.push(c - 0x410 + 0xc0);
    else if (c === 0x401) out.push(0xa8);
    else if (c === 0x451) out.push(0xb8);
    else throw new Error('not in this table: ' + ch);
  }
  return Buffer.from(out);
}

function open(c, uri, text, version = 1) {
  c.connection.sendNotification(rpc.DidOpenTextDocumentNotification.type,
    { textDocument: { uri, languageId: 'qst', version, text } });
}
function change(c, uri, version, changes) {
  c.connection.sendNotification(rpc.DidChangeTextDocumentNotification.type,
    { textDocument: { uri, version }, contentChanges: changes });
}
const pos = (line, character) => ({ line, character });
const range = (l0, c0, l1, c1) => ({ start: pos(l0, c0), end: pos(l1, c1) });

// ---- a game of two cp1251 files ----

const HALL = ':Зал\r\npln Вы в зале.\r\nbtn Башня,Наверх\r\ngoto Подвал\r\ngoto Нигде\r\nend\r\n';
const TOWER = ':Башня\r\npln Высоко.\r\nbtn зал,Вниз\r\nend\r\n:Подвал\r\nend\r\n';

function cp1251Game() {
  const dir = folder();
  fs.writeFileSync(path.join(dir, 'hall.qst'), cp1251(HALL));
  fs.writeFileSync(path.join(dir, 'tower.qst'), cp1251(TOWER));
  return { dir, hall: uriOf(path.join(dir, 'hall.qst')), tower: uriOf(path.join(dir, 'tower.qst')) };
}

test('capabilities and position encodings', async () => {
  const c = await connect();
  assert.equal(c.init.capabilities.positionEncoding, 'utf-16');
  assert.equal(c.init.capabilities.textDocumentSync.change, 2);
  assert.equal(await c.close(), 0);
  const u = await connect({ encodings: ['utf-8', 'utf-16'] });
  assert.equal(u.init.capabilities.positionEncoding, 'utf-8');
  assert.equal(await u.close(), 0);
});

test('a cp1251 game of two files: diagnostics, the other file, a change that breaks it', async () => {
  const g = cp1251Game();
  const c = await connect();
  open(c, g.hall, HALL);
  const found = await c.diagnostics(g.hall);
  // Башня and Подвал are the other file's; Нигде is nowhere.
  assert.deepEqual(found.map((d) => [d.code, d.range]), [['unknown-location', range(4, 5, 4, 10)]]);
  assert.equal(found[0].source, 'mavo-check');
  assert.equal(found[0].severity, 2);
  assert.match(found[0].message, /Нигде/);
  assert.ok(found[0].relatedInformation.length >= 1);

  // The tower opened and its ":Подвал" renamed: the hall's goto now leads nowhere,
  // and the hall's diagnostics come again.
  open(c, g.tower, TOWER);
  assert.deepEqual(await c.diagnostics(g.tower), []);
  assert.equal((await c.diagnostics(g.hall)).length, 1);  // the hall now sees the open tower
  change(c, g.tower, 2, [{ range: range(4, 1, 4, 7), text: 'Погреб' }]);
  assert.deepEqual(await c.diagnostics(g.tower), []);
  const again = await c.diagnostics(g.hall);
  assert.deepEqual(again.map((d) => [d.code, d.range.start.line]), [['unknown-location', 3], ['unknown-location', 4]]);

  // Closed, the tower is read from its file again, and its diagnostics are cleared.
  c.connection.sendNotification(rpc.DidCloseTextDocumentNotification.type, { textDocument: { uri: g.tower } });
  assert.deepEqual(await c.diagnostics(g.tower), []);
  assert.deepEqual((await c.diagnostics(g.hall)).map((d) => d.range.start.line), [4]);
  // A closed file changed on disk is read again at the next change.
  fs.writeFileSync(path.join(g.dir, 'tower.qst'), cp1251(':Башня\r\nend\r\n'));
  change(c, g.hall, 2, [{ range: range(5, 3, 5, 3), text: ' ' }]);
  assert.deepEqual((await c.diagnostics(g.hall)).map((d) => d.range.start.line), [3, 4]);
  assert.equal(await c.close(), 0);
});

test('a note in another file of the game points to that file', async () => {
  const dir = folder();
  fs.writeFileSync(path.join(dir, 'a.qst'), ':start\nbtn b,B\nmavo start,Go & pln x\nend\n');
  const text = ':b\nend\n:Start\nend\n';
  fs.writeFileSync(path.join(dir, 'b.qst'), text);
  const uri = uriOf(path.join(dir, 'b.qst'));
  const c = await connect();
  open(c, uri, text);
  const found = await c.diagnostics(uri);
  assert.deepEqual(found.map((d) => [d.code, d.range]), [['duplicate-location', range(2, 0, 2, 6)]]);
  assert.deepEqual(found[0].relatedInformation.map((r) => [r.location.uri, r.location.range.start]),
    [[uri, pos(2, 0)], [uriOf(path.join(dir, 'a.qst')), pos(0, 0)]]);
  assert.equal(await c.close(), 0);
});

test('the game\'s features: definition, references, highlight, symbols, completion, rename, hover', async () => {
  const g = cp1251Game();
  const c = await connect();
  open(c, g.hall, HALL);
  await c.diagnostics(g.hall);
  const at = (line, character) => ({ textDocument: { uri: g.hall }, position: pos(line, character) });

  // From "btn Башня" to the tower file's label; letter case folded ("зал" to ":Зал").
  assert.deepEqual(await c.connection.sendRequest(rpc.DefinitionRequest.type, at(2, 6)),
    { uri: g.tower, range: range(0, 1, 0, 6) });
  const fromTower = await c.connection.sendRequest(rpc.DefinitionRequest.type,
    { textDocument: { uri: g.tower }, position: pos(2, 5) });
  assert.equal(fromTower, null);  // the tower is not open: its positions are unknown to the server
  open(c, g.tower, TOWER);
  await c.diagnostics(g.tower);
  assert.deepEqual(await c.connection.sendRequest(rpc.DefinitionRequest.type,
    { textDocument: { uri: g.tower }, position: pos(2, 5) }), { uri: g.hall, range: range(0, 1, 0, 4) });
  assert.equal(await c.connection.sendRequest(rpc.DefinitionRequest.type, at(4, 6)), null);  // Нигде

  const refs = await c.connection.sendRequest(rpc.ReferencesRequest.type,
    { ...at(0, 2), context: { includeDeclaration: true } });
  assert.deepEqual(refs.map((r) => [r.uri, r.range.start.line]), [[g.hall, 0], [g.tower, 2]]);
  const lights = await c.connection.sendRequest(rpc.DocumentHighlightRequest.type, at(3, 7));
  assert.deepEqual(lights, [{ range: range(3, 5, 3, 11), kind: 2 }]);  // ":Подвал" is the tower's
  const symbols = await c.connection.sendRequest(rpc.DocumentSymbolRequest.type, { textDocument: { uri: g.hall } });
  assert.deepEqual(symbols.map((s) => [s.name, s.children.map((k) => k.name)]), [['Зал', ['Наверх']]]);

  // Completion after "goto ": every location of the game, as written.
  change(c, g.hall, 2, [{ range: range(5, 0, 5, 0), text: 'goto ' }]);
  const items = await c.connection.sendRequest(rpc.CompletionRequest.type, at(5, 5));
  assert.deepEqual(items.map((i) => i.label).sort(), ['Башня', 'Зал', 'Подвал'].sort());
  change(c, g.hall, 3, [{ range: range(5, 0, 5, 5), text: '' }]);

  // Rename at a jump: the label in the tower and every jump in both files.
  const edit = await c.connection.sendRequest(rpc.RenameRequest.type, { ...at(2, 5), newName: 'Шпиль' });
  assert.deepEqual(Object.keys(edit.changes).sort(), [g.hall, g.tower].sort());
  assert.deepEqual(edit.changes[g.hall], [{ range: range(2, 4, 2, 9), newText: 'Шпиль' }]);
  assert.deepEqual(edit.changes[g.tower], [{ range: range(0, 1, 0, 6), newText: 'Шпиль' }]);
  const prepared = await c.connection.sendRequest(rpc.PrepareRenameRequest.type, at(2, 5));
  assert.deepEqual(prepared, { range: range(2, 4, 2, 9), placeholder: 'Башня' });
  await assert.rejects(c.connection.sendRequest(rpc.RenameRequest.type, { ...at(2, 5), newName: 'подвал' }),
    /already has a location/);
  await assert.rejects(c.connection.sendRequest(rpc.RenameRequest.type, { ...at(2, 5), newName: 'a b' }),
    /blank/);
  await assert.rejects(c.connection.sendRequest(rpc.PrepareRenameRequest.type, at(1, 2)), /no location/);

  const hover = await c.connection.sendRequest(rpc.HoverRequest.type, at(3, 7));
  assert.match(hover.contents.value, /:Подвал\nend\n/);

  // A jump through "#...$" is left as it is, and the client is told so.
  const told = new Promise((resolve) => c.connection.onNotification(rpc.ShowMessageNotification.type, resolve));
  change(c, g.hall, 4, [{ range: range(5, 0, 5, 0), text: 'goto Баш#n$ня\r\n' }]);
  const through = await c.connection.sendRequest(rpc.RenameRequest.type, { ...at(0, 2), newName: 'Холл' });
  assert.deepEqual(through.changes[g.hall], [{ range: range(0, 1, 0, 4), newText: 'Холл' }]);
  assert.deepEqual(through.changes[g.tower], [{ range: range(2, 4, 2, 7), newText: 'Холл' }]);
  assert.match((await told).message, /1 jump\(s\) through "#\.\.\.\$"/);
  assert.equal(await c.connection.sendRequest(rpc.DefinitionRequest.type, at(5, 7)), null);
  await assert.rejects(c.connection.sendRequest(rpc.PrepareRenameRequest.type, at(5, 7)), /cannot be followed/);
  assert.equal(await c.close(), 0);
});

test('UTF-16 and UTF-8 positions past a character outside the BMP, and incremental changes', async () => {
  const dir = folder();
  const file = path.join(dir, 'u.qst');
  const text = ':start\npln 😀 x & goto nowhere\nend\n';
  fs.writeFileSync(file, text);
  for (const [encoding, start] of [['utf-16', 16], ['utf-8', 18]]) {
    const c = await connect({ encodings: [encoding] });
    open(c, uriOf(file), text);
    const found = await c.diagnostics(uriOf(file));
    assert.deepEqual(found.map((d) => [d.code, d.range.start]), [['unknown-location', pos(1, start)]]);
    // The target mended in two edits after the emoji: "nowhere" becomes "start".
    change(c, uriOf(file), 2, [{ range: range(1, start, 1, start + 7), text: 'st' },
                               { range: range(1, start + 2, 1, start + 2), text: 'art' }]);
    assert.deepEqual(await c.diagnostics(uriOf(file)), []);
    // A whole new text, with a lone CR and CR LF.
    change(c, uriOf(file), 3, [{ text: ':start\r\n😀\rgoto x\r\ngoto y\r\nend\r\n' }]);
    assert.deepEqual((await c.diagnostics(uriOf(file))).map((d) => [d.code, d.range.start]),
      [['unknown-location', pos(3, 5)]]);
    assert.equal(await c.close(), 0);
  }
});

test('hover on a mavo statement: the btn line and the block that mavo writes', async () => {
  const dir = folder();
  const file = path.join(dir, 'hall.qst');
  const text = ':hall\r\nmavo tower,Climb & pln Steep. & gold = gold - 1\r\nmavo cellar,Go down\r\nend\r\n' +
               ':tower\r\nend\r\n:cellar\r\nend\r\n';
  fs.writeFileSync(file, text);
  const uri = uriOf(file);
  const c = await connect();
  open(c, uri, text);
  await c.diagnostics(uri);
  const hover = (line, character) => c.connection.sendRequest(rpc.HoverRequest.type,
    { textDocument: { uri }, position: pos(line, character) });
  const expanded = await hover(1, 1);
  assert.equal(expanded.contents.value,
    'mavo.qst:\n```qst\nbtn mavo_tower_Climb_,Climb \n...\n:mavo_tower_Climb_\npln Steep. & gold = gold - 1\ngoto tower\nend\n\n```');
  assert.deepEqual(expanded.range, range(1, 0, 1, 16));  // the statement up to its "&"
  assert.equal((await hover(2, 0)).contents.value, 'mavo.qst:\n```qst\nbtn cellar,Go down\n```');
  // On the target: the location's first lines.
  assert.equal((await hover(1, 6)).contents.value, '```qst\n:tower\nend\n```');
  assert.equal(await hover(3, 1), null);
  assert.equal(await c.close(), 0);
});

test('a new document without a file is checked alone', async () => {
  const c = await connect();
  const uri = 'untitled:Untitled-1';
  open(c, uri, ':start\ngoto nowhere\ngoto start\n');
  assert.deepEqual((await c.diagnostics(uri)).map((d) => [d.code, d.range.start]), [['unknown-location', pos(1, 5)]]);
  assert.deepEqual(await c.connection.sendRequest(rpc.DefinitionRequest.type,
    { textDocument: { uri }, position: pos(2, 6) }), { uri, range: range(0, 1, 0, 6) });
  assert.equal(await c.close(), 0);
});

test('quick fixes: ignore here writes the comment that silences the finding', async () => {
  const dir = folder();
  const file = path.join(dir, 'q.qst');
  const text = ':start\r\n  goto nowhere\r\nend\r\n';
  fs.writeFileSync(file, text);
  const uri = uriOf(file);
  const c = await connect();
  open(c, uri, text);
  const found = await c.diagnostics(uri);
  assert.equal(found.length, 1);
  const actions = await c.connection.sendRequest(rpc.CodeActionRequest.type,
    { textDocument: { uri }, range: found[0].range, context: { diagnostics: found } });
  const ignore = actions.find((a) => /ignore unknown-location/.test(a.title));
  assert.ok(ignore, JSON.stringify(actions));
  assert.deepEqual(ignore.edit.changes[uri], [{ range: range(1, 0, 1, 0), newText: '  ;mavo-check: ignore unknown-location\r\n' }]);
  const e = ignore.edit.changes[uri][0];
  change(c, uri, 2, [{ range: e.range, text: e.newText }]);
  assert.deepEqual(await c.diagnostics(uri), []);
  assert.equal(await c.close(), 0);
});

test('quick fixes: the checker\'s own fix, applied, mends the finding', async () => {
  const dir = folder();
  const file = path.join(dir, 'f.qst');
  const text = ':start\r\n😀 & goto hal\r\nmavo hall,x & pln y\r\nend\r\n:hall\r\nend\r\n';
  fs.writeFileSync(file, text);
  const uri = uriOf(file);
  const c = await connect();
  open(c, uri, text);
  const found = await c.diagnostics(uri);
  assert.deepEqual(found.map((d) => [d.code, d.range]), [['unknown-location', range(1, 10, 1, 13)]]);
  assert.match(found[0].relatedInformation[0].message, /did you mean ":hall"/);
  const actions = await c.connection.sendRequest(rpc.CodeActionRequest.type,
    { textDocument: { uri }, range: found[0].range, context: { diagnostics: found } });
  const fix = actions.find((a) => a.title === 'mavo-check: write "hall"');
  assert.ok(fix, JSON.stringify(actions.map((a) => a.title)));
  assert.equal(fix.isPreferred, true);
  assert.deepEqual(fix.edit.changes[uri], [{ range: range(1, 10, 1, 13), newText: 'hall' }]);
  change(c, uri, 2, fix.edit.changes[uri].map((e) => ({ range: e.range, text: e.newText })));
  assert.deepEqual(await c.diagnostics(uri), []);
  assert.equal(await c.close(), 0);
});

test('the mode and mavoCheck.all from the settings, the manifest before them', async () => {
  const dir = folder();
  const file = path.join(dir, 'm.qst');
  // A ";" after printed text is a comment-in-text finding in UrqW's dialect only,
  // and, as a finding about mavo's own reading in a script without action buttons,
  // shown with mavoCheck.all only.
  const text = ':start\npln a;b\nend\n';
  fs.writeFileSync(file, text);
  const messages = [];
  const codes = async (settings) => {
    const c = await connect({ settings });
    c.connection.onNotification(rpc.ShowMessageNotification.type, (m) => messages.push(m));
    open(c, uriOf(file), text);
    const found = (await c.diagnostics(uriOf(file))).map((d) => d.code);
    await c.close();
    return found;
  };
  assert.deepEqual(await codes({}), []);
  assert.deepEqual(await codes({ mavoCheck: { all: true } }), ['comment-in-text']);
  assert.deepEqual(await codes({ mavoCheck: { all: true, mode: 'dosurq' } }), []);
  fs.writeFileSync(path.join(dir, 'manifest.json'), '{"manifest_version": 1, "urq_mode": "urqw"}');
  assert.deepEqual(await codes({ mavoCheck: { all: true, mode: 'dosurq' } }), ['comment-in-text']);
  assert.deepEqual(messages, []);
  // A manifest that UrqW would refuse names no mode, as on the command line, and
  // is said in a message, once.
  fs.writeFileSync(path.join(dir, 'manifest.json'), '{"urq_mode": "urqw"}');
  assert.deepEqual(await codes({ mavoCheck: { all: true, mode: 'dosurq' } }), []);
  assert.equal(messages.length, 1);
  assert.equal(messages[0].type, 2);
  const told = 'manifest.json: "manifest_version" is not 1: UrqW refuses to load such a game; checked in dosurq mode';
  assert.ok(messages[0].message.endsWith(told), messages[0].message);
});

// ---- bad input, on the raw stream ----

function frame(body) {
  const b = Buffer.from(typeof body === 'string' ? body : JSON.stringify(body));
  return Buffer.concat([Buffer.from('Content-Length: ' + b.length + '\r\n\r\n'), b]);
}

// Runs the server on these bytes to the end of its input; its answers and status.
function raw(bytes, keepOpen = false) {
  return new Promise((resolve) => {
    const child = startServer();
    const chunks = [];
    child.stdout.on('data', (d) => chunks.push(d));
    child.on('exit', (code) => {
      const out = Buffer.concat(chunks);
      const messages = [];
      const reader = new rpc.StreamMessageReader(require('node:stream').Readable.from([out]));
      reader.listen((m) => messages.push(m));
      setTimeout(() => resolve({ code, messages }), 50);
    });
    child.stdin.write(bytes);
    if (!keepOpen) child.stdin.end();
  });
}

const INIT = { jsonrpc: '2.0', id: 1, method: 'initialize', params: { capabilities: {} } };

test('bad input never ends the server', async () => {
  const { code, messages } = await raw(Buffer.concat([
    frame(INIT),
    Buffer.from('X-No-Length: 1\r\n\r\n'),
    frame('{not json'),
    frame({ jsonrpc: '2.0', id: 2, method: 'no/such' }),
    frame({ jsonrpc: '2.0', id: 3, method: 'textDocument/definition', params: { textDocument: { uri: 'file:///none.qst' }, position: pos(0, 0) } }),
    frame({ jsonrpc: '2.0', id: 4, method: 'shutdown' }),
    frame({ jsonrpc: '2.0', id: 5, method: 'textDocument/hover', params: {} }),
    frame({ jsonrpc: '2.0', method: 'exit' }),
  ]));
  assert.equal(code, 0);
  const byId = (id) => messages.find((m) => m.id === id);
  assert.equal(messages.find((m) => m.id === null).error.code, -32700);
  assert.equal(byId(2).error.code, -32601);
  assert.equal(byId(3).result, null);
  assert.equal(byId(4).result, null);
  assert.equal(byId(5).error.code, -32600);
});

test('exit without shutdown is status 1, and so is the end of input', async () => {
  assert.equal((await raw(Buffer.concat([frame(INIT), frame({ jsonrpc: '2.0', method: 'exit' })]))).code, 1);
  assert.equal((await raw(frame(INIT))).code, 1);
  const after = await raw(Buffer.concat([frame(INIT), frame({ jsonrpc: '2.0', id: 2, method: 'shutdown' })]));
  assert.equal(after.code, 0);
});

test('a request before initialize, and a cancelled one', async () => {
  const { messages } = await raw(Buffer.concat([
    frame({ jsonrpc: '2.0', id: 1, method: 'textDocument/hover', params: {} }),
    frame({ ...INIT, id: 2 }),
    frame({ jsonrpc: '2.0', id: 3, method: 'textDocument/documentSymbol', params: { textDocument: { uri: 'file:///x.qst' } } }),
    frame({ jsonrpc: '2.0', method: '$/cancelRequest', params: { id: 3 } }),
  ]));
  assert.equal(messages.find((m) => m.id === 1).error.code, -32002);
  assert.equal(messages.find((m) => m.id === 3).error.code, -32800);
});

test('a large document and many changes in a row', async () => {
  const dir = folder();
  const file = path.join(dir, 'big.qst');
  const uri = uriOf(file);
  const line = 'pln ' + 'ж'.repeat(60) + '\n';
  const text = ':start\n' + line.repeat(80000) + 'goto nowhere\nend\n';  // about 10 MB
  fs.writeFileSync(file, ':start\nend\n');
  const c = await connect();
  open(c, uri, text);
  const found = await c.diagnostics(uri);
  assert.deepEqual(found.map((d) => [d.code, d.range.start.line]), [['unknown-location', 80001]]);
  for (let v = 2; v < 1002; ++v) change(c, uri, v, [{ range: range(1, 4, 1, 5), text: v % 2 ? 'ж' : 'z' }]);
  const last = await c.diagnostics(uri, (p) => p.version === 1001);
  assert.equal(last.length, 1);
  assert.equal(await c.close(), 0);
});
