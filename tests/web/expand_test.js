// mavo.expand against the program, character for character:
//   node expand_test.js <mavo-urqw.js> <mavo> <urqw-app or -> [--out-of-memory <file>] <file or folder>...
// Each script is read the way UrqW reads a game in each encoding (cp1251 through the
// app's own win2unicode, or the browser's windows-1251 decoder where the app is
// missing; UTF-8 as fetch's text() does), turned back into bytes, and given to the
// program; expand of the text read must equal the program's mavo.qst read the same
// way, or the text itself where the program writes none. Then the hook into UrqW's
// Quest, the default encoding, and a failure that leaves the text as it was.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const vm = require('vm');
const { spawnSync } = require('child_process');

const [modulePath, mavoArg, appPath, ...rest] = process.argv.slice(2);
// A script whose result the module's memory cannot hold (the program writes
// gigabytes for it): expand must fail, and say so, with the text as it was.
const outOfMemory = rest[0] === '--out-of-memory' ? rest[1] : null;
const inputs = outOfMemory ? rest.slice(2) : rest;
const mavoPath = mavoArg && path.resolve(mavoArg);
if (!inputs.length) {
  console.error('usage: node expand_test.js <mavo-urqw.js> <mavo> <urqw-app or -> <file or folder>...');
  process.exit(2);
}
const moduleCode = fs.readFileSync(modulePath, 'latin1');

let failures = 0;
function fail(what) {
  ++failures;
  console.log('FAIL ' + what);
}

// A fresh global scope with the module evaluated in it, as UrqW's eval runs it;
// `before` runs first (UrqW's own globals).
function load(before) {
  const lines = [];
  const sandbox = {
    TextEncoder, TextDecoder,
    console: { error: (...a) => lines.push(a.join(' ')), log: (...a) => lines.push(a.join(' ')),
               warn: (...a) => lines.push(a.join(' ')) },
  };
  const context = vm.createContext(sandbox);
  if (before) vm.runInContext(before, context);
  vm.runInContext(moduleCode, context);
  return { context, lines, mavo: vm.runInContext('mavo', context) };
}

// ---- how UrqW reads the bytes of a file ----
let win2unicode = null;
if (appPath !== '-' && fs.existsSync(path.join(appPath, 'js/tools.js'))) {
  const context = vm.createContext({});
  vm.runInContext(fs.readFileSync(path.join(appPath, 'js/tools.js'), 'utf8'), context);
  win2unicode = context.win2unicode;
} else {
  console.log('cp1251 read with the windows-1251 decoder (no UrqW app at ' + appPath + ')');
}
const windows1251 = new TextDecoder('windows-1251');
function decode(bytes, encoding) {
  if (encoding === 'UTF-8') return new TextDecoder('utf-8').decode(bytes);
  if (win2unicode) {
    let s = '';
    for (let i = 0; i < bytes.length; i += 8192) s += String.fromCharCode.apply(null, bytes.subarray(i, i + 8192));
    return win2unicode(s);
  }
  return windows1251.decode(bytes).replace(/\u0098/g, '\u0000');  // win2unicode's one difference
}
// The bytes of a text read so: U+0000 stands for 0x00 (and for 0x98, which reads as it too).
const cp1251Bytes = new Map();
for (let b = 255; b >= 0; --b) cp1251Bytes.set(decode(Uint8Array.of(b), 'CP1251'), b);
function encode(text, encoding) {
  if (encoding === 'UTF-8') return new TextEncoder().encode(text);
  const out = new Uint8Array(text.length);
  for (let i = 0; i < text.length; ++i) {
    const b = cp1251Bytes.get(text[i]);
    if (b === undefined) throw new Error('no cp1251 byte for ' + text.charCodeAt(i));
    out[i] = b;
  }
  return out;
}

// The program's mavo.qst for the bytes, or null where it writes none.
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'mavo-web-'));
function program(bytes) {
  const script = path.join(work, 'script.qst');
  const result = path.join(work, 'mavo.qst');
  fs.writeFileSync(script, bytes);
  fs.rmSync(result, { force: true });
  const run = spawnSync(mavoPath, [script], { cwd: work, stdio: ['ignore', 'ignore', 'pipe'] });
  if (run.status !== 0) throw new Error('mavo failed (' + run.status + '): ' + (run.error || run.stderr));
  return fs.existsSync(result) ? fs.readFileSync(result) : null;
}

function firstDifference(a, b) {
  let i = 0;
  while (i < a.length && i < b.length && a[i] === b[i]) ++i;
  return i;
}

// ---- expand against the program on every script ----
const files = [];
for (const input of inputs) {
  if (fs.statSync(input).isDirectory()) {
    for (const name of fs.readdirSync(input).sort()) {
      if (!name.startsWith('.')) files.push(path.join(input, name));
    }
  } else {
    files.push(input);
  }
}
const { mavo } = load();
let compared = 0, written = 0, sameBytes = 0;
for (const file of files) {
  const bytes = new Uint8Array(fs.readFileSync(file));
  for (const encoding of ['CP1251', 'UTF-8']) {
    const text = decode(bytes, encoding);
    const back = encode(text, encoding);
    if (Buffer.compare(Buffer.from(back), Buffer.from(bytes)) === 0) ++sameBytes;
    const result = program(back);
    const expected = result === null ? text : decode(result, encoding);
    const got = mavo.expand(text, encoding === 'UTF-8' ? 'utf-8' : 'cp1251');
    ++compared;
    if (result !== null) ++written;
    if (got !== expected) {
      const at = firstDifference(got, expected);
      fail(file + ' (' + encoding + '): expand gives ' + got.length + ' characters, the program ' +
           expected.length + '; first difference at ' + at + ': ' +
           JSON.stringify(got.slice(at, at + 40)) + ' for ' + JSON.stringify(expected.slice(at, at + 40)));
    }
  }
}
console.log('expand equals the program on ' + (compared - failures) + ' of ' + compared +
            ' (script, encoding) pairs; ' + written + ' with a mavo.qst, ' + sameBytes +
            ' read back to the very bytes of the file');

// ---- the hook, the default encoding, and failures ----
const GAME = 'First line\r\n:start\r\nmavo the_end,Leave & pln Bye\r\nend\r\n:the_end\r\npln Gone\r\nend\r\n';
const CP_GAME = GAME.replace('Bye', '\u041f\u043e\u043a\u0430');  // Cyrillic, in both encodings
const UTF_GAME = CP_GAME.replace('Leave', 'Leave \u4e00');  // a character cp1251 has no byte for
const expandedCp = mavo.expand(CP_GAME, 'CP1251');
const expandedUtf = mavo.expand(UTF_GAME, 'UTF-8');
if (expandedCp === CP_GAME || !expandedCp.endsWith('\r\nend\r\n')) fail('a cp1251 game with an action button is not expanded');
if (expandedUtf === UTF_GAME || !expandedUtf.endsWith('\r\nend\r\n')) fail('a UTF-8 game with an action button is not expanded');
if (decode(program(encode(CP_GAME, 'CP1251')), 'CP1251') !== expandedCp) fail('cp1251 game differs from the program');
if (decode(program(encode(UTF_GAME, 'UTF-8')), 'UTF-8') !== expandedUtf) fail('UTF-8 game differs from the program');

// The version the project's CMakeLists.txt gives.
const PROJECT_VERSION = /project\(mavo VERSION ([0-9.]+)/.exec(
  fs.readFileSync(path.join(__dirname, '../../CMakeLists.txt'), 'utf8'))[1];
// Every letter of cp1251's upper half, in a game of its own.
const zamokText = decode(new Uint8Array(fs.readFileSync(path.join(__dirname, '../../examples/zamok.qst'))), 'CP1251');
const cases = [
  // [what, UrqW's globals before the eval, expression, expected value, console lines]
  ['the version', '', 'mavo.version', PROJECT_VERSION, 0],
  ['Quest gets the expanded text, its prototype kept',
   'function Quest(text) { this.text = text; } Quest.prototype.kind = function () { return "quest"; };',
   'var q = new Quest(' + JSON.stringify(CP_GAME) + '); [q.text, q.kind(), q instanceof Quest]',
   [expandedCp, 'quest', true], 0],
  ['the game\'s encoding from UrqW (UTF-8)', 'var encoding = "UTF-8"; function Quest(text) { this.text = text; }',
   'new Quest(' + JSON.stringify(UTF_GAME) + ').text', expandedUtf, 0],
  ['the game\'s encoding from UrqW (CP1251)', 'var encoding = "CP1251";',
   'mavo.expand(' + JSON.stringify(UTF_GAME) + ')', UTF_GAME, 1],
  ['the game\'s encoding from UrqW (cp1251 in lower case)', 'var encoding = "cp1251";',
   'mavo.expand(' + JSON.stringify(CP_GAME) + ')', expandedCp, 0],
  ['cp1251 without UrqW', '', 'mavo.expand(' + JSON.stringify(UTF_GAME) + ')', UTF_GAME, 1],
  ['encoding names in any letter case', '',
   '[mavo.expand(' + JSON.stringify(UTF_GAME) + ', "Utf-8"), mavo.expand(' + JSON.stringify(CP_GAME) + ', "Cp1251")]',
   [expandedUtf, expandedCp], 0],
  ['evaluated twice, the text is expanded once', 'function Quest(text) { this.text = text; }',
   'eval(MODULE); new Quest(' + JSON.stringify(GAME) + ').text', mavo.expand(GAME, 'cp1251'), 0],
  ['cp1251 in a runtime without a windows-1251 decoder',
   'var Decoder = TextDecoder; TextDecoder = function (label) {' +
   ' if (!/^utf-?8$/.test(label)) throw new RangeError(label); return new Decoder(label); };',
   'mavo.expand(' + JSON.stringify(CP_GAME + zamokText) + ', "CP1251")', mavo.expand(CP_GAME + zamokText, 'CP1251'), 0],
  ['a game without action buttons is the same string', '',
   'mavo.expand("\\r\\n:start\\r\\npln Hi\\u0000\\r\\nbtn start, Again\\r\\nend\\r\\n", "UTF-8")',
   '\r\n:start\r\npln Hi\u0000\r\nbtn start, Again\r\nend\r\n', 0],
  ['U+0000 in a cp1251 game is the byte 0x00', '',
   'mavo.expand("\\u0000" + ' + JSON.stringify(GAME) + ', "cp1251").charCodeAt(0)', 0, 0],
  ['a character cp1251 has none for: the text as it was, one line', '',
   'mavo.expand(' + JSON.stringify(GAME + '\u4e00') + ', "CP1251")', GAME + '\u4e00', 1],
  ['an unknown encoding: the text as it was, one line', '',
   'mavo.expand(' + JSON.stringify(GAME) + ', "koi8-r")', GAME, 1],
  ['a failure inside Quest\'s hook leaves the game playable',
   'var encoding = "CP1251"; function Quest(text) { this.text = text; }',
   'new Quest(' + JSON.stringify(GAME + '\u20ac\u4e00') + ').text', GAME + '\u20ac\u4e00', 1],
  ['no global but mavo', 'var before = Object.getOwnPropertyNames(globalThis).join();',
   'Object.getOwnPropertyNames(globalThis).filter(n => !before.split(",").includes(n) && n !== "before" && n !== "MODULE")', ['mavo'], 0],
];
for (const [what, before, expression, expected, lineCount] of cases) {
  try {
    const { context, lines } = load(before);
    context.MODULE = moduleCode;
    const value = vm.runInContext(expression, context);
    delete context.MODULE;
    const same = JSON.stringify(value) === JSON.stringify(expected);
    if (!same) fail(what + ': ' + JSON.stringify(value).slice(0, 200) + ' for ' + JSON.stringify(expected).slice(0, 200));
    if (lines.length !== lineCount) fail(what + ': ' + lines.length + ' console lines for ' + lineCount + ': ' + lines.join(' | '));
    if (lineCount && !/^mavo: .*: (the text holds U\+4E00|the encoding "koi8-r")/.test(lines[0] || '')) {
      fail(what + ': the console line says no reason: ' + lines[0]);
    }
  } catch (e) {
    fail(what + ': ' + (e && e.stack));
  }
}
console.log(cases.length + ' cases of the hook, the encodings and the failures');

if (outOfMemory) {
  const { mavo: fresh, lines } = load();
  const text = decode(new Uint8Array(fs.readFileSync(outOfMemory)), 'CP1251');
  if (fresh.expand(text, 'CP1251') !== text) fail(outOfMemory + ': out of memory, the text is not as it was');
  if (lines.length !== 1 || !/^mavo: .*: out of memory$/.test(lines[0])) {
    fail(outOfMemory + ': out of memory, the console says ' + JSON.stringify(lines));
  }
  // The module goes on working after the failure.
  if (fresh.expand(GAME, 'CP1251') !== mavo.expand(GAME, 'CP1251')) fail('expand after running out of memory');
  console.log('out of memory on ' + outOfMemory + ': ' + JSON.stringify(lines[0]));
}

fs.rmSync(work, { recursive: true, force: true });
if (failures) {
  console.log(failures + ' failures');
  process.exit(1);
}
console.log('all passed');
