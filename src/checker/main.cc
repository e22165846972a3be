// mavo-check: reads qst scripts as mavo does and reports where they will not play
// as written.
#include "checker/run.h"
#include "common/console.h"
#include "lsp/server.h"
#include "text/text.h"

#ifdef _WIN32
#include <windows.h>

#include <string>
#include <vector>

// Windows gives the arguments as UTF-16, whatever the code page: they are taken
// as such and passed on in UTF-8, which the file layer turns back for each call.
int wmain(int argc, wchar_t** wargv) {
  install_memory_rule(2);  // out of memory: trouble, status 2
  std::vector<std::string> args(static_cast<std::size_t>(argc));
  std::vector<char*> argv;
  for (int i = 0; i < argc; ++i) {
    std::string& arg = args[static_cast<std::size_t>(i)];
    const int n = WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, nullptr, 0, nullptr, nullptr);
    if (n > 0) {
      arg.resize(static_cast<std::size_t>(n));
      WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, arg.data(), n, nullptr, nullptr);
      arg.resize(static_cast<std::size_t>(n - 1));
    }
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
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
