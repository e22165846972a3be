// mavo's stages in the order a run takes them, for every front end that reads a
// script as mavo does: the program, the checker, and whatever shows mavo's result.
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
