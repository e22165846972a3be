// The qst grammar through vscode-textmate and vscode-oniguruma, the engines VS Code
// highlights with: each sample line's pieces and the scope each one gets.
//   node test/grammar.test.js     (NODE_PATH may name the node_modules to use)
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const textmate = require('vscode-textmate');
const oniguruma = require('vscode-oniguruma');

const wasm = fs.readFileSync(path.join(path.dirname(require.resolve('vscode-oniguruma')), 'onig.wasm'));
const registry = new textmate.Registry({
  onigLib: oniguruma.loadWASM(wasm.buffer).then(() => ({
    createOnigScanner: (patterns) => new oniguruma.OnigScanner(patterns),
    createOnigString: (s) => new oniguruma.OnigString(s),
  })),
  loadGrammar: async () => textmate.parseRawGrammar(
    fs.readFileSync(path.join(__dirname, '..', 'syntaxes', 'qst.tmLanguage.json'), 'utf8'), 'qst.tmLanguage.json'),
});

// The scope of the token that covers `piece` in the tokenized lines (the innermost).
function scopeOf(grammar, lines, lineIndex, piece) {
  let state = textmate.INITIAL;
  let tokens;
  for (let i = 0; i <= lineIndex; ++i) {
    const r = grammar.tokenizeLine(lines[i], state);
    state = r.ruleStack;
    tokens = r.tokens;
  }
  const at = lines[lineIndex].indexOf(piece);
  assert.ok(at >= 0, `"${piece}" not in "${lines[lineIndex]}"`);
  const token = tokens.find((t) => t.startIndex <= at && at < t.endIndex);
  return token.scopes[token.scopes.length - 1];
}

// [lines, the line, a piece of it, the scope it gets]
const CASES = [
  [[':hall'], 0, 'hall', 'entity.name.function.location.qst'],
  [['  :Зал'], 0, ':', 'punctuation.definition.location.qst'],
  [['goto tower'], 0, 'goto', 'keyword.control.jump.qst'],
  [['goto tower'], 0, 'tower', 'entity.name.function.target.qst'],
  [['proc sub & pln x'], 0, 'sub', 'entity.name.function.target.qst'],
  [['proc sub & pln x'], 0, '&', 'keyword.operator.separator.qst'],
  [['btn cellar,Go down'], 0, 'cellar', 'entity.name.function.target.qst'],
  [['btn cellar,Go down'], 0, 'Go down', 'string.unquoted.caption.qst'],
  [['mavo tower,Climb & pln Steep.'], 0, 'mavo', 'keyword.control.button.mavo.qst'],
  [['mavo tower,Climb & pln Steep.'], 0, 'Climb', 'string.unquoted.caption.qst'],
  [['mavo tower,Climb & pln Steep.'], 0, 'pln', 'support.function.print.qst'],
  [['pln Hello ; a note'], 0, '; a note', 'comment.line.semicolon.qst'],
  [['pln a /* b', 'c */ goto x'], 1, 'c', 'comment.block.qst'],
  [['pln a /* b', 'c */ goto x'], 1, 'x', 'entity.name.function.target.qst'],
  [['pln a', '  _ b'], 1, '_', 'punctuation.separator.continuation.qst'],
  [['pln You have #gold$ coins'], 0, '#gold$', 'variable.other.substitution.qst'],
  [['goto room#n$'], 0, '#n$', 'variable.other.substitution.qst'],
  [['pln a##59$b'], 0, '##59$', 'variable.other.substitution.qst'],
  [['pln [[Go on|tower]]'], 0, 'Go on', 'string.unquoted.caption.qst'],
  [['pln [[Go on|tower]]'], 0, 'tower', 'entity.name.function.target.qst'],
  [['pln [[hall]]'], 0, 'hall', 'entity.name.function.target.qst'],
  [['if gold > 10 then goto shop else pln "No"'], 0, 'then', 'keyword.control.qst'],
  [['if gold > 10 then goto shop else pln "No"'], 0, 'shop', 'entity.name.function.target.qst'],
  [['if gold > 10 then goto shop else pln "No"'], 0, '10', 'constant.numeric.qst'],
  [['if gold > 10 then goto shop else pln "No"'], 0, '"No"', 'string.quoted.double.qst'],
  [['if a then btn x,Go else btn y,No'], 0, 'else', 'keyword.control.qst'],
  [['if a then btn x,Go else btn y,No'], 0, 'No', 'string.unquoted.caption.qst'],
  [['inv+ Key'], 0, 'inv+', 'keyword.control.inventory.qst'],
  [['GOTO Tower'], 0, 'GOTO', 'keyword.control.jump.qst'],
];

test('the qst grammar on sample lines', async () => {
  const grammar = await registry.loadGrammar('source.qst');
  for (const [lines, index, piece, scope] of CASES)
    assert.equal(scopeOf(grammar, lines, index, piece), scope, `${JSON.stringify(lines)}: ${piece}`);
});
