#include "check/report.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "check/charset.h"

namespace {

struct place {
  std::uint64_t line, column;
  std::size_t line_begin, line_end;
};

// The line and column of each position of `positions` (sorted), in one pass.
std::vector<place> places_of(std::string_view text, const std::vector<std::size_t>& positions, bool utf8) {
  std::vector<place> out;
  out.reserve(positions.size());
  std::uint64_t line = 1;
  std::size_t line_begin = 0;
  std::size_t scanned = 0;
  for (const std::size_t p0 : positions) {
    const std::size_t p = std::min(p0, text.size());
    for (; scanned < p; ++scanned) {
      if (text[scanned] == '\n' || text[scanned] == '\r') {
        ++line;
        line_begin = scanned + 1;
      }
    }
    std::size_t line_end = p;
    while (line_end < text.size() && text[line_end] != '\n' && text[line_end] != '\r') ++line_end;
    out.push_back({line, 1 + count_chars(text.substr(line_begin, p - line_begin), utf8), line_begin, line_end});
  }
  return out;
}

const place& place_at(const std::vector<std::size_t>& positions, const std::vector<place>& places, std::size_t p) {
  return places[static_cast<std::size_t>(std::lower_bound(positions.begin(), positions.end(), p) - positions.begin())];
}

}  // namespace

void report_findings(const script_reading& r, std::string_view file, message_language language,
                     std::vector<report_item>& out) {
  const std::string_view text(r.source);
  std::vector<std::size_t> positions;
  for (const finding& f : r.findings) {
    positions.push_back(f.at);
    if (f.other != NO_POSITION) positions.push_back(f.other);
  }
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  const std::vector<place> places = places_of(text, positions, r.utf8);
  for (const finding& f : r.findings) {
    const place& at = place_at(positions, places, f.at);
    const std::uint64_t other_line = f.other == NO_POSITION ? 0 : place_at(positions, places, f.other).line;
    const message_text& texts = message_for(f, language);
    const std::string shown[2] = {as_utf8(f.text[0], r.utf8), as_utf8(f.text[1], r.utf8)};
    report_item item;
    item.file = std::string(file);
    item.line = at.line;
    item.column = at.column;
    item.id = f.id;
    item.message = fill_message(texts.message, shown, f, other_line);
    item.note = fill_message(texts.note, shown, f, other_line);
    const std::string_view line = text.substr(at.line_begin, at.line_end - at.line_begin);
    item.source_line = as_utf8(line, r.utf8);
    const std::size_t upto = std::min(f.at, at.line_end) - at.line_begin;
    for (std::size_t i = 0; i < upto; ++i) {
      const char c = line[i];
      if (r.utf8 && (static_cast<unsigned char>(c) & 0xC0) == 0x80) continue;
      item.caret += c == '\t' ? '\t' : ' ';
    }
    item.caret += '^';
    out.push_back(std::move(item));
  }
}

std::string format_gcc(const report_item& item) {
  const std::string where = item.file + ":" + std::to_string(item.line) + ":" + std::to_string(item.column) + ": ";
  std::string out = where + "warning: " + item.message + " [" + CHECK_NAMES[item.id] + "]\n";
  out += item.source_line + "\n" + item.caret + "\n";
  if (!item.note.empty()) out += where + "note: " + item.note + "\n";
  return out;
}

std::string format_json(const std::vector<report_item>& items) {
  nlohmann::json all = nlohmann::json::array();
  for (const report_item& item : items) {
    all.push_back({{"file", item.file},
                   {"line", item.line},
                   {"column", item.column},
                   {"name", CHECK_NAMES[item.id]},
                   {"message", item.message}});
  }
  // Names that are not UTF-8 (bytes of another encoding) are shown with U+FFFD.
  return all.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}
