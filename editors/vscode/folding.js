'use strict';
// Folding by location: each location folds from its label line to the line before
// the next label (or the end of the file), less the blank lines at its end. Lines
// inside a /* */ comment are no labels.
function location_folds(lines) {
  const folds = [];
  let start = -1;
  let in_comment = false;
  const close = (next) => {
    let end = next - 1;
    while (end > start && lines[end].trim() === '') end--;
    if (start >= 0 && end > start) folds.push({ start, end });
  };
  for (let i = 0; i < lines.length; i++) {
    const line = lines[i];
    if (!in_comment && /^\s*:/.test(line)) {
      close(i);
      start = i;
    }
    // Where a block comment is left open at the line's end.
    let at = 0;
    for (;;) {
      const mark = line.indexOf(in_comment ? '*/' : '/*', at);
      if (mark < 0) break;
      if (!in_comment) {
        const semicolon = line.indexOf(';', at);
        if (semicolon >= 0 && semicolon < mark) break;  // the rest of the line is a comment
      }
      in_comment = !in_comment;
      at = mark + 2;
    }
  }
  close(lines.length);
  return folds;
}

module.exports = { location_folds };
