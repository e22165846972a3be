// Source clean-up: tabs become blanks, comments go, continuation lines are joined.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "text/text.h"

// What one step of the clean-up deleted (or, for CLEAN_UNCLOSED, left in place).
enum cleanup_kind : std::uint8_t {
  CLEAN_LINE_COMMENT,   // a ";" up to, not including, its line's newline
  CLEAN_BLOCK_COMMENT,  // a "/*" through the first "*/" after it
  CLEAN_JOIN,           // a newline, the blanks after it and the "_" of a continuation line
  CLEAN_UNCLOSED,       // the first "/*" with no "*/" after it: it stays, with all that follows
};

struct cleanup_event {
  std::size_t clean;   // where the deletion lies in the cleaned text
  std::size_t source;  // where its first byte was in the text as given
  std::size_t length;  // how many bytes went (0 for CLEAN_UNCLOSED)
  cleanup_kind kind;
};

// Every deletion of a run, in the order of the text, so that a position in the
// cleaned text can be traced back to the script.
struct cleanup_record {
  std::vector<cleanup_event> events;
};

// Cleans `text` in place in one pass and yields its new length; with a record,
// every deletion is noted in it.
std::size_t clean_source(script_text& text, cleanup_record* record = nullptr);

// The position in the text as given of the byte now at `clean` in the cleaned text.
std::size_t source_position(const cleanup_record& record, std::size_t clean);
// The same, for a caller whose positions mostly go forward: `hint` remembers where
// the last answer was found and is tried first.
std::size_t source_position(const cleanup_record& record, std::size_t clean, std::size_t& hint);
