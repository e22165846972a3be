// mavo: rewrites the action buttons of a qst script into plain buttons and blocks.
#include "common/console.h"
#include "driver/run.h"

#ifdef _WIN32
#include <windows.h>

#include <string>
#include <vector>

// Windows gives the arguments as UTF-16, whatever the code page: they are taken
// as such and passed on in UTF-8, which the file layer turns back for each call.
int wmain(int argc, wchar_t** wargv) {
  install_memory_rule();
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
  run_facts facts;
  const int status = run(argc, argv.data(), facts);
  close_mavo_console(facts);
  return status;
}
#else
int main(int argc, char** argv) {
  install_memory_rule();
  run_facts facts;
  const int status = run(argc, argv, facts);
  close_mavo_console(facts);
  return status;
}
#endif
