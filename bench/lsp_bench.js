// The language server's latency: after a one-character change in a generated
// script, how long until its new diagnostics are published.
//   node bench/lsp_bench.js <mavo-check> <script.qst> [changes]
// Prints each change's time and the median, in milliseconds.
'use strict';
const fs = require('node:fs');
const path = require('node:path');
const { spawn } = require('node:child_process');
const { pathToFileURL } = require('node:url');

const [program, script, count = '15'] = process.argv.slice(2);
if (!program || !script) {
  console.error('usage: node bench/lsp_bench.js <mavo-check> <script.qst> [changes]');
  process.exit(2);
}
const changes = Number(count);
const text = fs.readFileSync(script, 'latin1');  // the generator writes ASCII
const uri = pathToFileURL(path.resolve(script)).href;
const child = spawn(program, ['--lsp'], { stdio: ['pipe', 'pipe', 'inherit'] });

function send(message) {
  const body = Buffer.from(JSON.stringify(message));
  child.stdin.write(Buffer.concat([Buffer.from(`Content-Length: ${body.length}\r\n\r\n`), body]));
}

// The server's messages, one at a time, to `on`.
let pending = Buffer.alloc(0);
let on = () => {};
child.stdout.on('data', (data) => {
  pending = Buffer.concat([pending, data]);
  for (;;) {
    const end = pending.indexOf('\r\n\r\n');
    if (end < 0) return;
    const length = Number(/Content-Length: (\d+)/i.exec(pending.subarray(0, end).toString())[1]);
    if (pending.length < end + 4 + length) return;
    const message = JSON.parse(pending.subarray(end + 4, end + 4 + length).toString());
    pending = pending.subarray(end + 4 + length);
    on(message);
  }
});

function next(accept) {
  return new Promise((resolve) => {
    on = (m) => {
      if (accept(m)) resolve(m);
    };
  });
}
const diagnosticsOf = (version) => (m) =>
  m.method === 'textDocument/publishDiagnostics' && m.params.uri === uri && m.params.version === version;

(async () => {
  send({ jsonrpc: '2.0', id: 1, method: 'initialize', params: { processId: null, rootUri: null, capabilities: {} } });
  await next((m) => m.id === 1);
  send({ jsonrpc: '2.0', method: 'initialized', params: {} });
  send({ jsonrpc: '2.0', method: 'textDocument/didOpen',
         params: { textDocument: { uri, languageId: 'qst', version: 1, text } } });
  const first = await next(diagnosticsOf(1));
  const times = [];
  // Each change types one character at the end of line 2, then the next takes it
  // away again, so that the script stays the one measured.
  const line = text.split(/\r\n|\r|\n/)[1];
  for (let v = 2; v < 2 + changes; ++v) {
    const typed = v % 2 === 0;
    const at = { line: 1, character: line.length };
    const range = typed ? { start: at, end: at } : { start: at, end: { line: 1, character: line.length + 1 } };
    const started = process.hrtime.bigint();
    const published = next(diagnosticsOf(v));
    send({ jsonrpc: '2.0', method: 'textDocument/didChange',
           params: { textDocument: { uri, version: v }, contentChanges: [{ range, text: typed ? 'x' : '' }] } });
    await published;
    times.push(Number(process.hrtime.bigint() - started) / 1e6);
  }
  send({ jsonrpc: '2.0', id: 2, method: 'shutdown' });
  await next((m) => m.id === 2);
  send({ jsonrpc: '2.0', method: 'exit' });
  const sorted = [...times].sort((a, b) => a - b);
  console.log(`script: ${script}, ${text.length} bytes, ${first.params.diagnostics.length} diagnostics`);
  console.log('changes (ms): ' + times.map((t) => t.toFixed(1)).join(' '));
  console.log(`median of ${changes}: ${sorted[Math.floor(sorted.length / 2)].toFixed(1)} ms ` +
              `(min ${sorted[0].toFixed(1)}, max ${sorted[sorted.length - 1].toFixed(1)})`);
})();
