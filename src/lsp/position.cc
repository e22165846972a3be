#include "lsp/position.h"

#include <algorithm>

namespace {

// The length of the UTF-8 sequence that starts with byte `lead` (1 for a byte
// that starts none).
std::size_t sequence_length(unsigned char lead) {
  if (lead < 0xC0) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

// The bytes of the character at `i` of `text`, at most to `end`.
std::size_t char_bytes(std::string_view text, std::size_t i, std::size_t end) {
  std::size_t n = sequence_length(static_cast<unsigned char>(text[i]));
  if (n > end - i) n = end - i;
  for (std::size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return k;
  return n;
}

// The units of one character of `n` bytes: a character outside the BMP is two
// UTF-16 units.
std::uint64_t char_units(std::size_t n, position_units units) {
  if (units == UNITS_UTF8) return n;
  return n == 4 ? 2 : 1;
}

}  // namespace

void find_line_starts(std::string_view text, std::vector<std::size_t>& starts) {
  starts.clear();
  starts.push_back(0);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      starts.push_back(i + 1);
    } else if (c == '\n') {
      starts.push_back(i + 1);
    }
  }
}

std::size_t line_end_at(std::string_view text, std::size_t start) {
  std::size_t i = start;
  while (i < text.size() && text[i] != '\n' && text[i] != '\r') ++i;
  return i;
}

std::uint64_t count_units(std::string_view utf8, position_units units) {
  if (units == UNITS_UTF8) return utf8.size();
  std::uint64_t n = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t bytes = char_bytes(utf8, i, utf8.size());
    n += char_units(bytes, units);
    i += bytes;
  }
  return n;
}

text_position position_of(std::string_view text, const std::vector<std::size_t>& starts, std::size_t offset,
                          position_units units) {
  offset = std::min(offset, text.size());
  const auto it = std::upper_bound(starts.begin(), starts.end(), offset);
  const std::size_t line = static_cast<std::size_t>(it - starts.begin()) - 1;
  const std::size_t start = starts[line];
  const std::size_t end = std::min(offset, line_end_at(text, start));
  std::uint64_t character = 0;
  for (std::size_t i = start; i < end;) {
    const std::size_t bytes = char_bytes(text, i, text.size());
    character += char_units(bytes, units);
    i += bytes;
  }
  return {line, character};
}

std::size_t offset_of(std::string_view text, const std::vector<std::size_t>& starts, text_position p,
                      position_units units) {
  if (p.line >= starts.size()) return text.size();
  const std::size_t start = starts[static_cast<std::size_t>(p.line)];
  const std::size_t end = line_end_at(text, start);
  std::uint64_t reached = 0;
  std::size_t i = start;
  while (i < end) {
    const std::size_t bytes = char_bytes(text, i, end);
    const std::uint64_t next = reached + char_units(bytes, units);
    if (next > p.character) break;
    reached = next;
    i += bytes;
  }
  return i;
}

text_position position_of_column(std::string_view text, const std::vector<std::size_t>& starts,
                                 std::uint64_t line, std::uint64_t column, position_units units) {
  if (line == 0) line = 1;
  if (line > starts.size()) {
    const text_position end = position_of(text, starts, text.size(), units);
    return end;
  }
  const std::size_t start = starts[static_cast<std::size_t>(line - 1)];
  const std::size_t end = line_end_at(text, start);
  std::uint64_t character = 0;
  std::size_t i = start;
  for (std::uint64_t k = 1; k < column && i < end; ++k) {
    const std::size_t bytes = char_bytes(text, i, end);
    character += char_units(bytes, units);
    i += bytes;
  }
  return {line - 1, character};
}
