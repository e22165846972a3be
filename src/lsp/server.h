// mavo-check's language server: the protocol over standard input and output, the
// documents the editor has open, and the checker's findings on them.
#pragma once

// Serves until "exit" or the end of standard input; yields the exit status: 0 after
// a "shutdown" request, else 1.
int lsp_run();
