// mavo-urqw.js in UrqW, in a real browser (Debian's chromium through puppeteer-core):
//   node browser_test.js <mavo-urqw.js> <mavo> <UrqW app with its node_modules> [chromium]
// Each game is played twice, by the same clicks: as its author publishes it with
// mavo-urqw.js (the script itself, mavo-urqw.js as its script.js), and as the
// program's mavo.qst with no script.js. The screens (the text, then the buttons)
// must be the same at every step, and show what the game's buttons do. The games: a
// cp1251 game from a folder (examples/zamok.qst), a UTF-8 zip of two files whose
// button leads from one file to the other, and a game with no action button.
// Prints both plays step by step.
'use strict';
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');
const puppeteer = require('puppeteer-core');

const [modulePath, mavoArg, appDir, chromium = '/usr/bin/chromium'] = process.argv.slice(2);
const mavoPath = path.resolve(mavoArg);
const moduleBytes = fs.readFileSync(modulePath);
const JSZip = require(path.join(path.resolve(appDir), 'node_modules/jszip'));

let failures = 0;
function fail(what) {
  ++failures;
  console.log('FAIL ' + what);
}

// The program's mavo.qst for the bytes, or the bytes themselves where it writes none.
function program(bytes) {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'mavo-web-'));
  fs.writeFileSync(path.join(work, 'game.qst'), bytes);
  const run = spawnSync(mavoPath, ['game.qst'], { cwd: work, stdio: 'ignore' });
  if (run.status !== 0) throw new Error('mavo failed on a game of the test');
  const result = path.join(work, 'mavo.qst');
  const out = fs.existsSync(result) ? fs.readFileSync(result) : bytes;
  fs.rmSync(work, { recursive: true, force: true });
  return out;
}

const quests = path.join(appDir, 'quests');
fs.rmSync(quests, { recursive: true, force: true });
fs.mkdirSync(quests);
function manifest(encoding) {
  return JSON.stringify({ manifest_version: 1, game_encoding: encoding });
}
function folderGame(name, files) {
  fs.mkdirSync(path.join(quests, name));
  for (const [file, bytes] of Object.entries(files)) fs.writeFileSync(path.join(quests, name, file), bytes);
}

const utf8 = (text) => Buffer.from(text, 'utf8');
const crlf = (lines) => lines.join('\r\n') + '\r\n';

// 1. cp1251 from a folder: the Russian example, its bytes as they are.
const zamok = fs.readFileSync(path.join(__dirname, '../../examples/zamok.qst'));
folderGame('zamok', { 'main.qst': zamok, 'script.js': moduleBytes, 'manifest.json': manifest('CP1251') });
folderGame('zamok_qst', { 'main.qst': program(zamok), 'manifest.json': manifest('CP1251') });

// 2. A UTF-8 zip of two files: "_start.qst" comes first, its button leads to a
// location of "tower.qst"; UrqW joins them, each after a CR LF.
// The check mark has no byte in cp1251: the expansion must read the zip as UTF-8,
// as its manifest.json says, though the page's own choice is cp1251.
const start = crlf([':start', 'pln Добро пожаловать, traveller \u2713. Coins: #coins$', 'coins = 1',
                    'mavo tower,Подняться & pln Up the stairs. & coins = coins + 1', 'end']);
const tower = crlf([':tower', 'pln The top of the tower. Coins: #coins$',
                    'mavo start,Спуститься & {pln Down again, ещё раз.', '  coins = coins * 10}',
                    'btn start,Plain way back', 'end']);
const zip = new JSZip();
zip.file('_start.qst', utf8(start));
zip.file('tower.qst', utf8(tower));
zip.file('manifest.json', manifest('UTF-8'));
zip.file('script.js', moduleBytes);
fs.writeFileSync(path.join(quests, 'tower.zip'), zip.generate({ type: 'nodebuffer' }));
folderGame('tower_qst', { 'main.qst': program(utf8('\r\n' + start + '\r\n' + tower)), 'manifest.json': manifest('UTF-8') });

// 3. No action button: the script plays as it is, mavo-urqw.js or not.
const plain = Buffer.from(crlf([':start', 'pln A plain game.', 'btn next,Onwards', 'end',
                                ':next', 'pln The end of it.', 'btn start,Again', 'end']), 'latin1');
folderGame('plain', { 'main.qst': plain, 'script.js': moduleBytes });
folderGame('plain_qst', { 'main.qst': plain });

// ---- the app, served from its folder ----
const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.json': 'application/json',
                '.zip': 'application/zip', '.svg': 'image/svg+xml', '.png': 'image/png' };
const server = http.createServer((request, response) => {
  const file = path.join(appDir, decodeURIComponent(new URL(request.url, 'http://x').pathname));
  if (!file.startsWith(path.resolve(appDir)) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
    response.writeHead(404);
    response.end();
    return;
  }
  response.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream' });
  response.end(request.method === 'HEAD' ? undefined : fs.readFileSync(file));
});

function screenOf() {
  const text = document.querySelector('#textfield').innerText.trim();
  const buttons = [...document.querySelectorAll('#buttons button')].map((b) => b.innerText.trim());
  return JSON.stringify({ text, buttons });
}

// The screen once it has stopped changing.
async function settled(page) {
  let last = '';
  let same = 0;
  for (let i = 0; i < 100 && same < 4; ++i) {
    await new Promise((resolve) => setTimeout(resolve, 50));
    const now = await page.evaluate(screenOf);
    same = now === last ? same + 1 : 0;
    last = now;
  }
  return JSON.parse(last);
}

// Plays the game `id`, clicking the buttons whose captions are given in turn;
// yields the screens, the first before any click, and the console's lines.
async function play(browser, port, id, clicks) {
  const context = await browser.createBrowserContext();  // a fresh localStorage
  const page = await context.newPage();
  const lines = [];
  page.on('console', (message) => lines.push(message.type() + ': ' + message.text()));
  page.on('pageerror', (error) => lines.push('pageerror: ' + error.message));
  await page.goto('http://127.0.0.1:' + port + '/index.html?id=' + id);
  await page.waitForFunction(() => document.querySelectorAll('#buttons button').length > 0, { timeout: 20000 });
  const screens = [await settled(page)];
  for (const caption of clicks) {
    const buttons = await page.$$('#buttons button');
    let clicked = false;
    for (const button of buttons) {
      const text = (await page.evaluate((b) => b.innerText, button)).replace(/^\d+:\s*/, '').trim();
      if (text === caption) {
        await button.click();
        clicked = true;
        break;
      }
    }
    if (!clicked) {
      fail(id + ': no button "' + caption + '" on the screen');
      break;
    }
    screens.push(await settled(page));
  }
  await context.close();
  return { screens, lines };
}

function show(id, screens) {
  console.log('-- ' + id);
  screens.forEach((screen, step) => {
    console.log('  step ' + step + ': ' + screen.text.replace(/\n+/g, ' / '));
    console.log('          [' + screen.buttons.join('] [') + ']');
  });
}

const GAMES = [
  // [game, its mavo.qst, captions to click, what the screens must show on the way]
  ['zamok', 'zamok_qst',
   ['Заглянуть под стол', 'Подняться на башню', 'Вернуться в зал', 'Выйти в сад',
    'Бросить монету в колодец', 'Бросить монету в колодец', 'Бросить монету в колодец',
    'Заглянуть в колодец', 'Вернуться в зал'],
   ['И монета!', 'Монет у вас: 4', 'Ступени крутые', 'Монет у вас: 3', 'Монета плюхнулась в воду.',
    'Там темно, а монет у вас больше нет.', 'Вы возвращаетесь в зал.']],
  ['tower', 'tower_qst', ['Подняться', 'Спуститься', 'Подняться', 'Plain way back'],
   ['Добро пожаловать', 'Up the stairs.', 'Coins: 2', 'Down again, ещё раз.', 'Coins: 20']],
  ['plain', 'plain_qst', ['Onwards', 'Again'], ['A plain game.', 'The end of it.']],
];

(async () => {
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const port = server.address().port;
  const browser = await puppeteer.launch({
    executablePath: chromium, headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'],
  });
  try {
    for (const [id, reference, clicks, shown] of GAMES) {
      const withMavo = await play(browser, port, id, clicks);
      const asQst = await play(browser, port, reference, clicks);
      show(id + ' (the script, mavo-urqw.js as its script.js)', withMavo.screens);
      show(reference + ' (the program\'s mavo.qst)', asQst.screens);
      if (JSON.stringify(withMavo.screens) !== JSON.stringify(asQst.screens)) {
        fail(id + ': the screens differ from those of its mavo.qst');
      }
      if (withMavo.screens.length !== clicks.length + 1) fail(id + ': the play stopped early');
      const all = withMavo.screens.map((s) => s.text).join('\n');
      for (const text of shown) {
        if (!all.includes(text)) fail(id + ': "' + text + '" never shown');
      }
      // UrqW's own probing for a zip before a folder shows as a failed load; a line of
      // mavo's or an error of the page is a fault.
      const bad = withMavo.lines.filter((line) => /mavo|pageerror|^error: (?!Failed to load resource)/.test(line));
      if (bad.length) fail(id + ': the console says ' + JSON.stringify(bad));
    }
  } finally {
    await browser.close();
    server.close();
  }
  if (failures) {
    console.log(failures + ' failures');
    process.exit(1);
  }
  console.log('the games play in UrqW as their mavo.qst plays: ' + GAMES.length + ' games, all passed');
})().catch((error) => {
  console.log('FAIL ' + (error && error.stack));
  process.exit(1);
});
