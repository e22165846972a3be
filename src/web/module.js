// What the compiled code would print goes to the line that expand writes when it
// fails, not to the console on its own.
var mavo_printed = '';
var Module = {
  'print': function (line) { mavo_printed = String(line); },
  'printErr': function (line) { mavo_printed = String(line); }
};
