#include "check/report.h"

#include <algorithm>
#include <charconv>

#include <nlohmann/json.hpp>

#include "check/charset.h"

namespace {

// The place of each position of `positions` (sorted), in one pass over the text.
void find_places(std::string_view text, const std::vector<std::size_t>& positions, bool utf8,
                 std::vector<report_place>& out) {
  out.reserve(positions.size());
  std::uint64_t line = 1;
  std::size_t line_begin = 0;
  std::size_t scanned = 0;
  for (const std::size_t p0 : positions) {
    const std::size_t p = std::min(p0, text.size());
    for (std::size_t nl = find_either(text, scanned, '\n', '\r'); nl < p; nl = find_either(text, nl + 1, '\n', '\r')) {
      ++line;
      line_begin = nl + 1;
    }
    scanned = p;
    const std::size_t line_end = find_either(text, p, '\n', '\r');
    out.push_back({line, 1 + count_chars(text.substr(line_begin, p - line_begin), utf8), line_begin, line_end});
  }
}

const report_place& place_at(const report_reader& reader, std::size_t p) {
  const auto it = std::lower_bound(reader.positions.begin(), reader.positions.end(), p);
  return reader.places[static_cast<std::size_t>(it - reader.positions.begin())];
}

void append_number(std::uint64_t n, std::string& out) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  out.append(digits, end);
}

// `s` as a JSON string, as the JSON library writes it (bytes that are not UTF-8
// become U+FFFD).
void append_json_string(std::string_view s, std::string& out) {
  out += nlohmann::json(s).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

void report_begin(report_reader& reader, const script_reading& r, std::string_view file,
                  message_language language) {
  reader.reading = &r;
  reader.file = file;
  reader.language = language;
  reader.next = 0;
  reader.positions.clear();
  reader.places.clear();
  reader.positions.reserve(r.findings.size());
  for (const finding& f : r.findings) {
    reader.positions.push_back(f.at);
    if (f.other != NO_POSITION) reader.positions.push_back(f.other);
  }
  std::sort(reader.positions.begin(), reader.positions.end());
  reader.positions.erase(std::unique(reader.positions.begin(), reader.positions.end()), reader.positions.end());
  find_places(r.source, reader.positions, r.utf8, reader.places);
}

bool report_next(report_reader& reader, report_item& item) {
  const script_reading& r = *reader.reading;
  if (reader.next == r.findings.size()) return false;
  const finding& f = r.findings[reader.next++];
  const std::string_view text(r.source);
  const report_place& at = place_at(reader, f.at);
  const std::uint64_t other_line = f.other == NO_POSITION ? 0 : place_at(reader, f.other).line;
  const message_text& texts = message_for(f, reader.language);
  as_utf8_into(finding_text(r, f, 0), r.utf8, reader.shown[0]);
  as_utf8_into(finding_text(r, f, 1), r.utf8, reader.shown[1]);
  item.file.assign(reader.file);
  item.line = at.line;
  item.column = at.column;
  item.id = f.id;
  item.message.clear();
  fill_message_into(texts.message, reader.shown, f, other_line, item.message);
  item.note.clear();
  fill_message_into(texts.note, reader.shown, f, other_line, item.note);
  const std::string_view line = text.substr(at.line_begin, at.line_end - at.line_begin);
  as_utf8_into(line, r.utf8, item.source_line);
  if (f.id == CTRL_Z_CUT) {
    // The editor's line goes on past the byte: shown as "^Z", then the rest.
    item.source_line += "^Z";
    as_utf8_into(r.ctrl_z_rest, r.utf8, reader.shown[0]);
    item.source_line += reader.shown[0];
  }
  const std::size_t upto = std::min(f.at, at.line_end) - at.line_begin;
  item.caret.clear();
  for (std::size_t i = 0; i < upto; ++i) {
    const char c = line[i];
    if (r.utf8 && (static_cast<unsigned char>(c) & 0xC0) == 0x80) continue;
    item.caret += c == '\t' ? '\t' : ' ';
  }
  item.caret += '^';
  item.end_column = item.column + 1;
  item.severity = SEVERITY_WARNING;
  item.notes.clear();
  if (!item.note.empty()) item.notes.push_back(report_note{item.line, item.column, item.note});
  item.fixes.clear();
  return true;
}

void report_findings(const script_reading& r, std::string_view file, message_language language,
                     std::vector<report_item>& out) {
  report_reader reader;
  report_begin(reader, r, file, language);
  report_item item;
  while (report_next(reader, item)) out.push_back(item);
}

void append_gcc(const report_item& item, std::string& out) {
  const std::size_t where_at = out.size();
  out += item.file;
  out += ':';
  append_number(item.line, out);
  out += ':';
  append_number(item.column, out);
  out += ": ";
  const std::size_t where_len = out.size() - where_at;
  out += "warning: ";
  out += item.message;
  out += " [";
  out += CHECK_NAMES[item.id];
  out += "]\n";
  out += item.source_line;
  out += '\n';
  out += item.caret;
  out += '\n';
  if (!item.note.empty()) {
    out.append(out, where_at, where_len);
    out += "note: ";
    out += item.note;
    out += '\n';
  }
}

std::string format_gcc(const report_item& item) {
  std::string out;
  append_gcc(item, out);
  return out;
}

void append_json(const report_item& item, bool first, std::string& out) {
  // The layout of the JSON library's own two-blank indent, keys in order.
  out += first ? "[\n  {\n    \"column\": " : ",\n  {\n    \"column\": ";
  append_number(item.column, out);
  out += ",\n    \"file\": ";
  append_json_string(item.file, out);
  out += ",\n    \"line\": ";
  append_number(item.line, out);
  out += ",\n    \"message\": ";
  append_json_string(item.message, out);
  out += ",\n    \"name\": ";
  append_json_string(CHECK_NAMES[item.id], out);
  out += "\n  }";
}

void json_close(std::size_t count, std::string& out) { out += count == 0 ? "[]\n" : "\n]\n"; }

std::string format_json(const std::vector<report_item>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) append_json(items[i], i == 0, out);
  json_close(items.size(), out);
  return out;
}
