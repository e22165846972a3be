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
    if (f.other != NO_POSITION && f.other_file == 0) reader.positions.push_back(f.other);
    if (f.fix_begin != NO_POSITION) {
      reader.positions.push_back(f.fix_begin);
      reader.positions.push_back(f.fix_end);
    }
  }
  std::sort(reader.positions.begin(), reader.positions.end());
  reader.positions.erase(std::unique(reader.positions.begin(), reader.positions.end()), reader.positions.end());
  find_places(r.source, reader.positions, r.utf8, reader.places);
  // The byte order mark is no character of the editor's first line.
  if (r.bom != 0) {
    for (report_place& p : reader.places) {
      if (p.line_begin != 0) break;
      p.line_begin = r.bom;
      if (p.column > 1) --p.column;
    }
  }
}

namespace {

bool is_utf8_lead(char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }

// Where the `n`-th character of UTF-8 `s` starts (its size past the last).
std::size_t char_offset(std::string_view s, std::uint64_t n) {
  std::size_t i = 0;
  for (; i < s.size(); ++i) {
    if (is_utf8_lead(s[i])) {
      if (n == 0) return i;
      --n;
    }
  }
  return i;
}

// The source line in `line` (UTF-8) cut to SHOWN_COLUMNS characters around the
// character at `caret` (0-based), "..." where cut, and the caret line under it.
void clip_line(std::string& line, std::uint64_t caret_at, std::string& caret) {
  const std::uint64_t total = count_chars(line, true);
  std::uint64_t first = 0;
  std::uint64_t last = total;
  if (total > SHOWN_COLUMNS) {
    first = caret_at > SHOWN_COLUMNS * 2 / 5 ? caret_at - SHOWN_COLUMNS * 2 / 5 : 0;
    last = std::min<std::uint64_t>(total, first + SHOWN_COLUMNS);
    if (last - first < SHOWN_COLUMNS) first = last - SHOWN_COLUMNS;
    const std::size_t from = char_offset(line, first);
    const std::size_t to = char_offset(line, last);
    std::string cut = first > 0 ? "..." : "";
    cut.append(line, from, to - from);
    if (last < total) cut += "...";
    line.swap(cut);
  }
  caret.clear();
  if (first > 0) caret += "   ";
  std::uint64_t chars = 0;
  const std::size_t start = first > 0 ? 3 : 0;
  for (std::size_t i = start; i < line.size() && chars < caret_at - first; ++i) {
    if (!is_utf8_lead(line[i])) continue;
    caret += line[i] == '\t' ? '\t' : ' ';
    ++chars;
  }
  for (; chars < caret_at - first; ++chars) caret += ' ';
  caret += '^';
}

// The end of the word reported at `at`: up to a blank, a line end, "&" or ",".
std::size_t word_end(std::string_view text, std::size_t at, std::size_t line_end) {
  std::size_t end = at;
  while (end < line_end && std::string_view(" \t\r\n&,").find(text[end]) == std::string_view::npos) ++end;
  return end == at ? std::min(at + 1, line_end) : end;
}

// The short text of a finding's second place.
const char* other_place_note(const finding& f, message_language language) {
  const bool ru = language == LANGUAGE_RU;
  switch (f.id) {
    case DUPLICATE_LOCATION:
      return f.variant == 0   ? (ru ? "первое определение" : "the first definition")
             : f.variant == 1 ? (ru ? "определение, к которому ведут переходы" : "the definition that jumps go to")
                              : (ru ? "другое определение" : "the other definition");
    case BLOCKS_DIFFER_IN_CASE:
      return ru ? "другая кнопка" : "the other button";
    case LABEL_RUNS_ON:
      return ru ? "\",\", на которой кончается метка" : "the \",\" where the label ends";
    case BRACE_RUNS_ON:
      return ru ? "локация, в которую заходят действия" : "the location the actions run into";
    default:
      return ru ? "другое место" : "the other place";
  }
}

}  // namespace

bool report_next(report_reader& reader, report_item& item) {
  const script_reading& r = *reader.reading;
  if (reader.next == r.findings.size()) return false;
  const finding& f = r.findings[reader.next++];
  const std::string_view text(r.source);
  const report_place& at = place_at(reader, f.at);
  const bool other_here = f.other != NO_POSITION && f.other_file == 0;
  const std::uint64_t other_line = f.other == NO_POSITION ? 0 : other_here ? place_at(reader, f.other).line : f.other;
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
  const bool suggested = f.text_len[1] != 0;
  fill_message_into(note_for(f, suggested, reader.language), reader.shown, f, other_line, item.note);
  const std::size_t line_begin = std::min(at.line_begin, at.line_end);
  const std::string_view line = text.substr(line_begin, at.line_end - line_begin);
  as_utf8_into(line, r.utf8, item.source_line);
  if (f.id == CTRL_Z_CUT) {
    // The editor's line goes on past the byte: shown as "^Z", then the rest.
    item.source_line += "^Z";
    as_utf8_into(r.ctrl_z_rest, r.utf8, reader.shown[0]);
    item.source_line += reader.shown[0];
  }
  clip_line(item.source_line, item.column - 1, item.caret);
  const std::size_t from = std::min(f.at, at.line_end);
  const std::size_t end = f.length != 0 ? std::min<std::size_t>(from + f.length, at.line_end)
                                        : word_end(text, from, at.line_end);
  item.end_column = item.column + std::max<std::size_t>(1, count_chars(text.substr(from, end - from), r.utf8));
  item.severity = SEVERITY_WARNING;
  item.notes.clear();
  if (!item.note.empty()) item.notes.push_back(report_note{item.line, item.column, item.note, {}});
  if (f.other != NO_POSITION) {
    report_note other{other_line, 1, other_place_note(f, reader.language), {}};
    if (other_here) {
      other.column = place_at(reader, f.other).column;
    } else if (r.game_files != nullptr && f.other_file - 1 < r.game_files->size()) {
      other.file = (*r.game_files)[f.other_file - 1].path;
    }
    item.notes.push_back(std::move(other));
  }
  item.fixes.clear();
  if (f.fix_begin != NO_POSITION) {
    const report_place& b = place_at(reader, f.fix_begin);
    const report_place& e = place_at(reader, f.fix_end);
    report_fix fix{b.line, b.column, e.line, e.column, {}};
    as_utf8_into(finding_text(r, f, 2), r.utf8, fix.replacement);
    item.fixes.push_back(std::move(fix));
  }
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
  // The other places: the first definition of a location, and so on.
  for (std::size_t i = item.note.empty() ? 0 : 1; i < item.notes.size(); ++i) {
    const report_note& n = item.notes[i];
    out += n.file.empty() ? item.file : n.file;
    out += ':';
    append_number(n.line, out);
    out += ':';
    append_number(n.column, out);
    out += ": note: ";
    out += n.message;
    out += '\n';
  }
}

std::string format_gcc(const report_item& item) {
  std::string out;
  append_gcc(item, out);
  return out;
}

void append_json(const report_item& item, bool first, std::string& out) {
  using nlohmann::ordered_json;
  ordered_json o;
  o["column"] = item.column;
  o["end_column"] = item.end_column;
  o["file"] = item.file;
  ordered_json fixes = ordered_json::array();
  for (const report_fix& x : item.fixes) {
    fixes.push_back({{"column", x.column}, {"end_column", x.end_column}, {"end_line", x.end_line},
                     {"line", x.line}, {"replacement", x.replacement}});
  }
  o["fixes"] = std::move(fixes);
  o["line"] = item.line;
  o["message"] = item.message;
  o["name"] = CHECK_NAMES[item.id];
  ordered_json notes = ordered_json::array();
  for (const report_note& n : item.notes) {
    ordered_json note;
    note["column"] = n.column;
    if (!n.file.empty()) note["file"] = n.file;
    note["line"] = n.line;
    note["message"] = n.message;
    notes.push_back(std::move(note));
  }
  o["notes"] = std::move(notes);
  o["severity"] = item.severity == SEVERITY_ERROR ? "error" : "warning";
  // Inside the array: the library's own two-blank indent, one level deeper.
  const std::string dumped = o.dump(2, ' ', false, ordered_json::error_handler_t::replace);
  out += first ? "[\n  " : ",\n  ";
  for (const char c : dumped) {
    out += c;
    if (c == '\n') out += "  ";
  }
}

void json_close(std::size_t count, std::string& out) { out += count == 0 ? "[]\n" : "\n]\n"; }

std::string format_json(const std::vector<report_item>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) append_json(items[i], i == 0, out);
  json_close(items.size(), out);
  return out;
}
