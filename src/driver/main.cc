// mavo: rewrites the action buttons of a qst script into plain buttons and blocks.
#include "common/console.h"
#include "common/files.h"
#include "driver/run.h"

#ifdef _WIN32
#include <string>
#include <vector>

// The arguments in UTF-8, whatever the code page (see utf8_arguments).
int wmain(int argc, wchar_t** wargv) {
  install_memory_rule();
  std::vector<std::string> args;
  std::vector<char*> argv;
  utf8_arguments(argc, wargv, args, argv);
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
