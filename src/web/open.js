// mavo-urqw.js: mavo's own stages, compiled to JavaScript, for a game played in
// UrqW: evaluated as the game's script.js, it expands the action buttons of the
// game's text as UrqW reads it. Everything below lives inside one function, so
// that the only global it makes is `mavo`.
(function () {
