// Findings as their reader sees them: line and column as the author's editor
// counts them, the source line, the texts in the chosen language; printed in the
// compilers' form or as JSON.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "check/messages.h"
#include "check/script.h"

struct report_item {
  std::string file;    // the path as given, UTF-8 where the system's names are
  std::uint64_t line;  // 1-based: CR LF, LF and a lone CR each end a line
  std::uint64_t column;  // 1-based, in characters (UTF-8 ones in a UTF-8 script, else bytes)
  check_id id;
  std::string message, note;  // UTF-8
  std::string source_line;    // UTF-8
  std::string caret;          // blanks (and tabs where the line has them) up to the column, then "^"
};

// The findings of a checked script, in its order.
void report_findings(const script_reading& r, std::string_view file, message_language language,
                     std::vector<report_item>& out);

// "FILE:LINE:COLUMN: warning: MESSAGE [NAME]", the source line and the caret, and
// the "note:" line.
std::string format_gcc(const report_item& item);

// One JSON array of {file, line, column, name, message}.
std::string format_json(const std::vector<report_item>& items);
