// Time of mavo.expand on one script under node:
//   node bench.js <mavo-urqw.js> <script> [runs] [limit-ms]
// The script is read as cp1251 (each byte through the browser's windows-1251
// decoder). After the first run and two more to warm up, prints the median of
// `runs` (21) and whether it met the target of `limit-ms` (50). A target missed is
// reported, not a failure, as in the benchmark: a busy machine must not fail a run.
'use strict';
const fs = require('fs');
const vm = require('vm');

const [modulePath, scriptPath, runsArg, limitArg] = process.argv.slice(2);
const runs = Number(runsArg || 21);
const limit = Number(limitArg || 50);
const context = vm.createContext({ TextEncoder, TextDecoder, console });
vm.runInContext(fs.readFileSync(modulePath, 'latin1'), context);
const mavo = vm.runInContext('mavo', context);
const bytes = fs.readFileSync(scriptPath);
const text = new TextDecoder('windows-1251').decode(bytes).replace(/\u0098/g, '\u0000');

// The first run, as a game has it (UrqW expands once), is slower: the engine has not
// compiled the stages' code yet. Shown, not checked.
const first = process.hrtime.bigint();
let result = mavo.expand(text, 'CP1251');
const firstMs = Number(process.hrtime.bigint() - first) / 1e6;
for (let i = 0; i < 2; ++i) result = mavo.expand(text, 'CP1251');
if (result === text) {
  console.log('FAIL the script has no action button to expand');
  process.exit(1);
}
const times = [];
for (let i = 0; i < runs; ++i) {
  const start = process.hrtime.bigint();
  mavo.expand(text, 'CP1251');
  times.push(Number(process.hrtime.bigint() - start) / 1e6);
}
times.sort((a, b) => a - b);
const median = times[Math.floor(times.length / 2)];
console.log('expand of ' + scriptPath + ' (' + bytes.length + ' bytes, ' + result.length +
            ' characters out): median ' + median.toFixed(1) + ' ms of ' + runs + ' runs (fastest ' +
            times[0].toFixed(1) + ', slowest ' + times[times.length - 1].toFixed(1) + '); the first run ' +
            firstMs.toFixed(1) + ' ms');
console.log((median > limit ? 'MISSED' : 'MET') + ' the median at most ' + limit + ' ms');
