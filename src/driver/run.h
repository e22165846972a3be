// One run of the program: the command line, the stages in order, the result file.
#pragma once

#include <cstdint>
#include <string_view>

#include "text/text.h"

constexpr std::string_view END_SENTINEL = "\nend\n";
constexpr std::string_view BANNER = ";===== mavo implementation =====\n";
constexpr const char* RESULT_FILE = "mavo.qst";

// The stages on a script as read: end sentinel, clean-up, banner, label collection,
// expansion. Leaves in `text` what the result file holds before its final sentinel
// and yields the number of statements expanded; `blocks`, when given, receives the
// number of blocks made for them (a block shared by equal buttons counts once).
std::uint64_t transform_script(script_text& text, std::uint64_t* blocks = nullptr);

// How a run ended, for the report of a console of the program's own.
enum run_outcome : std::uint8_t {
  RUN_USAGE,             // no script named: the usage text was printed
  RUN_HELP,              // "--help": the usage text and what the program does
  RUN_VERSION,           // "--version"
  RUN_WRITTEN,           // mavo.qst was written
  RUN_NOTHING_EXPANDED,  // no action button with actions: nothing was written
  RUN_FAILED,            // a message was printed: status 1
};

struct run_facts {
  run_outcome outcome = RUN_USAGE;
  int arguments = 0;             // the arguments after the program's name
  const char* script = nullptr;  // the script's path as given (the last argument)
  std::uint64_t buttons = 0;     // action buttons expanded
  std::uint64_t blocks = 0;      // blocks made for them
};

// The whole program; yields the exit status and tells in `facts` how it ended.
int run(int argc, char** argv, run_facts& facts);
