// What mavo-check says of a script, played: for each case, the checker's findings
// (or their absence) and a play of the script, or of mavo's result for it, on
// UrqW's own engine that shows the difference the message claims.
//
//   node play_claims.js MAVO MAVO_CHECK PLAY_DIR WORK_DIR
//
// PLAY_DIR is the headless player (play.js and UrqW's engine); its npm packages are
// installed into a copy under WORK_DIR on first use. Exits 77 (skipped, with one
// line) where the player or its packages cannot be had.
'use strict';
const fs = require('fs');
const path = require('path');
const { execFileSync, spawnSync } = require('child_process');

const [mavo, mavoCheck, playSource, work] = process.argv.slice(2).map((p) => path.resolve(p));
const SKIP = 77;
fs.mkdirSync(work, { recursive: true });

function skip(why) {
  console.log(`skipped: ${why}`);
  process.exit(SKIP);
}

// The player, ready to run: a copy with its packages.
function preparePlayer() {
  if (!fs.existsSync(path.join(playSource, 'play.js'))) skip(`no player at ${playSource}`);
  const copy = path.join(work, 'play');
  if (!fs.existsSync(path.join(copy, 'node_modules'))) {
    fs.rmSync(copy, { recursive: true, force: true });
    fs.cpSync(playSource, copy, { recursive: true });
    for (const f of ['package.json', 'package-lock.json']) fs.chmodSync(path.join(copy, f), 0o644);
    const npm = spawnSync('npm', ['ci', '--silent', '--no-audit', '--no-fund'], { cwd: copy, encoding: 'utf8' });
    if (npm.status !== 0) {
      fs.rmSync(path.join(copy, 'node_modules'), { recursive: true, force: true });
      skip(`npm ci failed for the player: ${(npm.stderr || '').trim().split('\n').pop()}`);
    }
  }
  return path.join(copy, 'play.js');
}

const play = preparePlayer();

function writeScript(dir, name, bytes) {
  fs.mkdirSync(dir, { recursive: true });
  const file = path.join(dir, name);
  fs.writeFileSync(file, Buffer.from(bytes, 'latin1'));
  return file;
}

// The checks that mavo-check reports on the file, by name, in order.
function findings(file, mode) {
  const run = spawnSync(mavoCheck, ['--all', '--format', 'json', '--mode', mode, file], { encoding: 'utf8' });
  if (run.status !== 0 && run.status !== 1) throw new Error(`mavo-check failed: ${run.stderr}`);
  return JSON.parse(run.stdout).map((f) => f.name);
}

function playSteps(file, args) {
  const out = execFileSync('node', [play, file, ...args], { encoding: 'utf8' });
  return JSON.parse(out).steps;
}

// mavo's result for the script, played.
function playResult(dir, file, args) {
  execFileSync(mavo, [file], { cwd: dir });
  return playSteps(path.join(dir, 'mavo.qst'), args);
}

// Each case: the script (bytes as latin1 escapes), its mode, what mavo-check
// reports, and what playing shows.
const CASES = [
  {
    name: 'a byte order mark is dropped: ":start" after it is a location',
    script: '\xef\xbb\xbf:start\npln hi\nbtn start,Again\nend\n',
    mode: 'urqw',
    findings: [],
    shows(dir, file) {
      const steps = playSteps(file, ['--encoding', 'UTF-8', '--click', 'Again']);
      return steps[0].loc === 'start' && steps[1].loc === 'start' && steps[1].log.length === 0;
    },
  },
  {
    name: 'an action button right after the byte order mark is left as it is by mavo',
    script: '\xef\xbb\xbfmavo a,Go & pln x\n:a\nend\n',
    mode: 'urqw',
    findings: ['not-expanded'],
    shows(dir, file) {
      execFileSync(mavo, [file], { cwd: dir });
      const steps = playSteps(file, ['--encoding', 'UTF-8']);
      return !fs.existsSync(path.join(dir, 'mavo.qst')) && steps[0].log.some((l) => l.includes('mavo'));
    },
  },
  {
    name: 'a btn to a command word runs the command',
    script: ':start\npln x\nbtn quit, Leave\nend\n',
    mode: 'urqw',
    findings: [],
    shows(dir, file) {
      const steps = playSteps(file, ['--click', 'Leave']);
      return steps[1].status === 'quit' && steps[1].log.length === 0;
    },
  },
  {
    name: 'the then branch of an if holds a btn and an assignment of its own',
    script: ':start\nf = 0\nif f = 0 then btn room, Next & f = 1 else btn room, Close\nend\n:room\nend\n',
    mode: 'urqw',
    findings: [],
    shows(dir, file) {
      const [start] = playSteps(file, []);
      return start.buttons.length === 1 && start.buttons[0].target === 'room' && start.vars.f === 1;
    },
  },
  {
    name: 'ripurq cuts the comment after joining: the continuation line is lost',
    script: ':start\npln a ;c\n_b\nend\n',
    mode: 'ripurq',
    findings: ['continuation-after-comment'],
    shows(dir, file) {
      const [start] = playSteps(file, ['--mode', 'ripurq']);
      return start.text.join('') === 'a ';
    },
  },
  {
    name: 'urqw keeps a ";" set off by blanks, and mavo joins what the author meant',
    script: ':start\npln a ;c\n_b\nmavo start,Again & pln x\nend\n',
    mode: 'urqw',
    findings: [],
    shows(dir, file) {
      const [start] = playResult(dir, file, []);
      return start.text[0] === 'a b';
    },
  },
  {
    name: 'a ";" inside a string: mavo cuts the string, UrqW keeps it',
    script: ':start\ninstr s = "a;b"\npln #s$\nmavo start,Again & pln x\nend\n',
    mode: 'urqw',
    findings: ['comment-in-text'],
    shows(dir, file) {
      const [raw] = playSteps(file, []);
      const [result] = playResult(dir, file, []);
      return raw.text[0].includes('a;b') && !result.text[0].includes('a;b');
    },
  },
  {
    name: 'the fix "##59$" keeps the string whole through mavo',
    script: ':start\ninstr s = "a##59$b"\npln #s$\nmavo start,Again & pln x\nend\n',
    mode: 'urqw',
    findings: [],
    shows(dir, file) {
      const [result] = playResult(dir, file, []);
      return result.text[0].includes('a;b');
    },
  },
];

let failed = 0;
CASES.forEach((c, i) => {
  const dir = path.join(work, `claim-${i}`);
  fs.rmSync(dir, { recursive: true, force: true });
  const file = writeScript(dir, 'game.qst', c.script);
  const found = findings(file, c.mode);
  const shown = c.shows(dir, file);
  const ok = JSON.stringify(found) === JSON.stringify(c.findings) && shown;
  if (!ok) {
    failed++;
    console.log(`FAIL ${c.name}: findings ${JSON.stringify(found)} (wanted ${JSON.stringify(c.findings)}), ` +
                `play shows the claim: ${shown}`);
  } else {
    console.log(`ok   ${c.name}`);
  }
});
process.exit(failed === 0 ? 0 : 1);
