// Places in a document's text (UTF-8) as the protocol names them: a line and a
// character, counted in UTF-16 code units or, when the client asks for it, in
// bytes of UTF-8. CR LF, LF and a lone CR each end a line, as in the checker's
// report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum position_units : std::uint8_t { UNITS_UTF16, UNITS_UTF8 };

struct text_position {
  std::uint64_t line, character;
  bool operator==(const text_position&) const = default;
};

// Where each line of `text` starts; the first is 0.
void find_line_starts(std::string_view text, std::vector<std::size_t>& starts);

// The end of the line that starts at `start`, before its line end.
std::size_t line_end_at(std::string_view text, std::size_t start);

// The position of byte `offset` (the start of a character, else the character it
// is in counts as reached).
text_position position_of(std::string_view text, const std::vector<std::size_t>& starts, std::size_t offset,
                          position_units units);

// The byte of a position: a character past the line's end stands for its end, a
// line past the last for the end of the text, a place inside a character for its
// start.
std::size_t offset_of(std::string_view text, const std::vector<std::size_t>& starts, text_position p,
                      position_units units);

// The position of the checker's (line, column), both 1-based, the column in
// characters: `column - 1` characters into the line, at most its end.
text_position position_of_column(std::string_view text, const std::vector<std::size_t>& starts,
                                 std::uint64_t line, std::uint64_t column, position_units units);

// How many units of the protocol the UTF-8 bytes hold.
std::uint64_t count_units(std::string_view utf8, position_units units);
