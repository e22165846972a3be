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
// and yields the number of statements expanded.
std::uint64_t transform_script(script_text& text);

// The whole program; yields the exit status.
int run(int argc, char** argv);
