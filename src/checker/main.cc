// mavo-check: reads qst scripts as mavo does and reports where they will not play
// as written.
#include "checker/run.h"
#include "common/console.h"
#include "common/files.h"
#include "lsp/server.h"
#include "text/text.h"

#ifdef _WIN32
#include <string>
#include <vector>

// The arguments in UTF-8, whatever the code page (see utf8_arguments).
int wmain(int argc, wchar_t** wargv) {
  install_memory_rule(2);  // out of memory: trouble, status 2
  std::vector<std::string> args;
  std::vector<char*> argv;
  utf8_arguments(argc, wargv, args, argv);
  if (argc == 2 && args[1] == "--lsp") return lsp_run();  // the language server, on standard input and output
  const int status = check_run(argc, argv.data());
  close_check_console(argc, status);
  return status;
}
#else
#include <string_view>

int main(int argc, char** argv) {
  install_memory_rule(2);  // out of memory: trouble, status 2
  if (argc == 2 && std::string_view(argv[1]) == "--lsp") return lsp_run();  // the language server, on standard input and output
  const int status = check_run(argc, argv);
  close_check_console(argc, status);
  return status;
}
#endif
