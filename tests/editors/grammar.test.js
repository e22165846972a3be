// The TextMate grammar of the VS Code extension (editors/vscode), tokenized by
// vscode-textmate over vscode-oniguruma, the engines VS Code highlights with.
// Each case is a script of one or more lines and the scopes expected on its
// tokens: ["text", "scope"] says the next token (after the previous one checked)
// whose text is exactly "text" carries "scope"; ["!text", "scope"] says it does not.
// Then the extension's folding by location, on scripts and the lines they fold.
//   node grammar.test.js <editors/vscode>     (NODE_PATH: node_modules of its lock)
'use strict';
const fs = require('fs');
const path = require('path');
const vsctm = require('vscode-textmate');
const oniguruma = require('vscode-oniguruma');

const CASES = [
  // locations
  [':hall', [[':', 'punctuation.definition.location.qst'], ['hall', 'entity.name.function.location.qst']]],
  ['  :Замок_1 ; the start', [['Замок_1', 'entity.name.function.location.qst'], [' the start', 'comment.line.semicolon.qst']]],
  [':tower /* top */', [['tower', 'entity.name.function.location.qst'], [' top ', 'comment.block.qst']]],
  // comments
  ['; a whole line', [[' a whole line', 'comment.line.semicolon.qst']]],
  ['/* one\n   two goto x\n*/ end', [[' one', 'comment.block.qst'], ['   two goto x', 'comment.block.qst'],
                                     ['end', 'keyword.control.qst']]],
  ['pln Hi ;mavo-check: ignore comment-in-text', [['mavo-check:', 'keyword.other.directive.qst'],
                                                   ['ignore', 'keyword.other.directive.qst']]],
  // continuation lines
  ['pln a long\n_ line of text', [['_', 'punctuation.separator.continuation.qst']]],
  ['\t_ then door = 0', [['_', 'punctuation.separator.continuation.qst'], ['then', 'keyword.control.conditional.qst']]],
  // text statements, substitutions, links
  ['pln You carry #gold$ coins.', [['pln', 'support.function.print.qst'], [' You carry ', 'string.unquoted.text.qst'],
                                    ['#', 'punctuation.definition.substitution.begin.qst'],
                                    ['gold', 'variable.other.substitution.qst'],
                                    ['$', 'punctuation.definition.substitution.end.qst'],
                                    [' coins.', 'string.unquoted.text.qst']]],
  ['PLN end of the road', [['PLN', 'support.function.print.qst'], [' end of the road', 'string.unquoted.text.qst']]],
  ['p Hello##59$ world#/$', [['p', 'support.function.print.qst'], ['##59$', 'constant.character.escape.qst'],
                             ['#/$', 'constant.character.escape.qst']]],
  ['pln #%a#b$$ done', [['#%', 'punctuation.definition.substitution.begin.qst'], ['#', 'variable.other.substitution.qst']]],
  ['pln Hello; world', [[' world', 'comment.line.semicolon.qst']]],
  ['pln The [[sword|look_sword]] and [[door]].', [['[[', 'punctuation.definition.link.begin.qst'],
                                                   ['sword', 'markup.underline.link.qst'],
                                                   ['|', 'punctuation.separator.link.qst'],
                                                   ['look_sword', 'entity.name.function.target.qst'],
                                                   [']]', 'punctuation.definition.link.end.qst'],
                                                   ['door', 'markup.underline.link.qst']]],
  ['pln a & goto hall', [['&', 'punctuation.separator.statement.qst'], ['goto', 'keyword.control.goto.qst'],
                         ['hall', 'entity.name.function.target.qst']]],
  // jumps and buttons
  ['goto cellar', [['goto', 'keyword.control.goto.qst'], ['cellar', 'entity.name.function.target.qst']]],
  ['Proc  room_#n$ ;go', [['Proc', 'keyword.control.proc.qst'], ['room_', 'entity.name.function.target.qst'],
                          ['n', 'variable.other.substitution.qst'], ['go', 'comment.line.semicolon.qst']]],
  ['\tbtn cellar,Go down to the cellar', [['btn', 'keyword.control.btn.qst'], ['cellar', 'entity.name.function.target.qst'],
                                          [',', 'punctuation.separator.caption.qst'],
                                          ['Go down to the cellar', 'string.unquoted.caption.qst']]],
  ['btn gold = 14 & goto castle, To the castle', [['btn', 'keyword.control.btn.qst'], ['gold ', 'meta.actions.qst'],
                                                  ['14', 'constant.numeric.qst'], ['goto', 'keyword.control.goto.qst'],
                                                  ['castle', 'entity.name.function.target.qst'],
                                                  [' To the castle', 'string.unquoted.caption.qst']]],
  // action buttons: the line form, the brace form, and one without actions
  ['mavo tower,Climb to the tower & pln The steps are steep. & gold = gold - 1',
   [['mavo', 'keyword.control.mavo.qst'], ['tower', 'entity.name.function.target.qst'],
    [',', 'punctuation.separator.caption.qst'], ['Climb to the tower', 'string.unquoted.caption.qst'],
    ['&', 'punctuation.separator.statement.qst'], ['pln', 'support.function.print.qst'],
    [' The steps are steep. ', 'string.unquoted.text.qst'], ['&', 'meta.actions.qst'], ['1', 'constant.numeric.qst']]],
  ['mavo garden,Sit down, rest a while & pln You rest.', [['garden', 'entity.name.function.target.qst'],
                                                          ['Sit down, rest a while', 'string.unquoted.caption.qst']]],
  ['mavo hall,Look & {pln Dust.\n\tgold = gold + 1}\nend',
   [['{', 'punctuation.section.block.begin.qst'], [' Dust.', 'string.unquoted.text.qst'],
    ['\tgold ', 'meta.actions.qst'], ['}', 'punctuation.section.block.end.qst'], ['!end', 'meta.actions.qst']]],
  ['mavo a,A & {mavo b,B & pln In.} & pln Out.', [['mavo', 'keyword.control.mavo.qst'], ['mavo', 'keyword.control.mavo.qst'],
                                                  [' In.', 'meta.actions.qst'], ['}', 'punctuation.section.block.end.qst'],
                                                  ['!&', 'meta.action-button.qst'], [' Out.', 'string.unquoted.text.qst']]],
  ['mavo garden,Walk out', [['mavo', 'keyword.control.mavo.qst'], ['garden', 'entity.name.function.target.qst'],
                            ['Walk out', 'string.unquoted.caption.qst']]],
  ['mavo x,Coin (#gold$ left) & gold = 0', [['gold', 'variable.other.substitution.qst'], ['0', 'constant.numeric.qst']]],
  // conditions
  ['if torch = 0 then mavo cellar,Take & {torch = 1} else mavo cellar,Wave & pln Up.',
   [['if', 'keyword.control.conditional.qst'], ['=', 'keyword.operator.comparison.qst'], ['0', 'constant.numeric.qst'],
    ['then', 'keyword.control.conditional.qst'], ['mavo', 'keyword.control.mavo.qst'],
    ['cellar', 'entity.name.function.target.qst'], ['else', 'keyword.control.conditional.qst'],
    ['mavo', 'keyword.control.mavo.qst'], ['Wave', 'string.unquoted.caption.qst']]],
  ['if not lamp and a <> "x;y" then goto dark else pln Light.',
   [['not', 'keyword.operator.logical.qst'], ['and', 'keyword.operator.logical.qst'],
    ['<>', 'keyword.operator.comparison.qst'], ['x;y', 'string.quoted.double.qst'], ['dark', 'entity.name.function.target.qst'],
    ['else', 'keyword.control.conditional.qst'], ['pln', 'support.function.print.qst']]],
  // other statements, strings and numbers
  ['inv+ 10, Apple & invkill & cls', [['inv+', 'support.function.qst'], ['10', 'constant.numeric.qst'],
                                      ['invkill', 'support.function.qst'], ['cls', 'support.function.qst']]],
  ['music = "fon.mp3" & pause 500', [['fon.mp3', 'string.quoted.double.qst'], ['pause', 'support.function.qst'],
                                     ['500', 'constant.numeric.qst']]],
  ['end', [['end', 'keyword.control.qst']]],
  ['ending = 1', [['!ending ', 'keyword.control.qst'], ['1', 'constant.numeric.qst']]],
];

// A script, and its folds as "first-last" line numbers from 0.
const FOLDS = [
  [':a\npln 1\nend\n\n:b\npln 2\nend', ['0-2', '4-6']],
  ['; header\n:start\ngoto a\n:a\n', ['1-2']],
  [':a\n/* :not_a_label\n:nor_this */\nend\n  :b\nend\n\n\n', ['0-3', '4-5']],
  [':a ; /* no comment opens here\n:b\nend', ['1-2']],
  [':a /* */ :x\nend\n:b', ['0-1']],
  ['pln no label\nend', []],
];

function check_folds(location_folds) {
  let passed = 0;
  let failed = 0;
  for (const [script, expected] of FOLDS) {
    const got = location_folds(script.split('\n')).map((f) => `${f.start}-${f.end}`);
    if (JSON.stringify(got) === JSON.stringify(expected)) {
      passed++;
    } else {
      failed++;
      console.log(`FAIL folds of ${JSON.stringify(script)}: ${JSON.stringify(got)}, expected ${JSON.stringify(expected)}`);
    }
  }
  return [passed, failed];
}

async function main() {
  const extension = process.argv[2];
  const grammarPath = path.join(extension, 'syntaxes', 'qst.tmLanguage.json');
  const wasm = fs.readFileSync(path.join(path.dirname(require.resolve('vscode-oniguruma')), 'onig.wasm'));
  await oniguruma.loadWASM(wasm.buffer.slice(wasm.byteOffset, wasm.byteOffset + wasm.byteLength));
  const registry = new vsctm.Registry({
    onigLib: Promise.resolve({
      createOnigScanner: (patterns) => new oniguruma.OnigScanner(patterns),
      createOnigString: (s) => new oniguruma.OnigString(s),
    }),
    loadGrammar: async (scopeName) =>
      scopeName === 'source.qst' ? vsctm.parseRawGrammar(fs.readFileSync(grammarPath, 'utf8'), grammarPath) : null,
  });
  const grammar = await registry.loadGrammar('source.qst');

  let passed = 0;
  let failed = 0;
  for (const [script, expected] of CASES) {
    const tokens = [];
    let state = vsctm.INITIAL;
    for (const line of script.split('\n')) {
      const r = grammar.tokenizeLine(line, state);
      for (const t of r.tokens) tokens.push({ text: line.substring(t.startIndex, t.endIndex), scopes: t.scopes });
      state = r.ruleStack;
    }
    const problems = [];
    let at = 0;
    for (const [want, scope] of expected) {
      const negated = want.startsWith('!');
      const text = negated ? want.slice(1) : want;
      const i = tokens.findIndex((t, k) => k >= at && t.text === text);
      if (i < 0) {
        problems.push(`no token "${text}" after token ${at}`);
        continue;
      }
      at = i + 1;
      if (tokens[i].scopes.includes(scope) === negated)
        problems.push(`"${text}" ${negated ? 'has' : 'lacks'} ${scope}: ${tokens[i].scopes.join(' ')}`);
    }
    if (problems.length === 0) {
      passed++;
    } else {
      failed++;
      console.log(`FAIL ${JSON.stringify(script)}`);
      for (const p of problems) console.log(`  ${p}`);
      console.log(`  tokens: ${tokens.map((t) => JSON.stringify(t.text) + ' ' + t.scopes.slice(1).join(' ')).join(' | ')}`);
    }
  }
  const [fold_passed, fold_failed] = check_folds(require(path.resolve(extension, 'folding.js')).location_folds);
  passed += fold_passed;
  failed += fold_failed;
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
}

main().catch((e) => {
  console.log(e && e.stack ? e.stack : String(e));
  process.exit(1);
});
