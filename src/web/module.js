// What the compiled code would print (a message of its runtime on the way to a
// failure) is kept for the one line that expand writes when it fails, rather than
// going to the console on its own.
var mavo_printed = '';
Module['print'] = function (line) { mavo_printed = String(line); };
Module['printErr'] = function (line) { mavo_printed = String(line); };
