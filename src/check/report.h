// Findings as their reader sees them: line and column as the author's editor
// counts them, the source line, the texts in the chosen language; printed in the
// compilers' form or as JSON. They are read one at a time, so that a script with
// many findings never holds its whole report at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "check/messages.h"
#include "check/script.h"

// A place that a finding's reader is pointed to, with what it says there: the
// fix at the finding's own place, the first definition of a location, and so on.
struct report_note {
  std::uint64_t line, column;
  std::string message;  // UTF-8
  std::string file;     // another file of the game, or "" for the finding's own
};

// A mechanical edit that mends a finding: the text from (line, column) up to
// (end_line, end_column), the end excluded, becomes `replacement`; an insertion
// where the two are equal. Columns are counted as the finding's.
struct report_fix {
  std::uint64_t line, column, end_line, end_column;
  std::string replacement;  // UTF-8
};

enum report_severity : std::uint8_t { SEVERITY_WARNING, SEVERITY_ERROR };

struct report_item {
  std::string file;    // the path as given, UTF-8 where the system's names are
  std::uint64_t line;  // 1-based: CR LF, LF and a lone CR each end a line
  std::uint64_t column;  // 1-based, in characters (UTF-8 ones in a UTF-8 script, else bytes)
  check_id id;
  std::string message, note;  // UTF-8
  std::string source_line;    // UTF-8
  std::string caret;          // blanks (and tabs where the line has them) up to the column, then "^"
  std::uint64_t end_column = 0;     // where the reported word ends on its line, excluded
  report_severity severity = SEVERITY_WARNING;
  std::vector<report_note> notes;   // the note first, at the finding's place, then the others
  std::vector<report_fix> fixes;
};

// Where a script position stands: its line and column, and its line's bounds.
struct report_place {
  std::uint64_t line, column;
  std::size_t line_begin, line_end;
};

// The findings of a checked script, in its order, one at a time.
struct report_reader {
  const script_reading* reading = nullptr;
  std::string_view file;
  message_language language = LANGUAGE_EN;
  std::vector<std::size_t> positions;  // every position a finding names, sorted, once each
  std::vector<report_place> places;    // the place of each of them
  std::size_t next = 0;                // the next finding
  std::string shown[2];                // room for a finding's texts in UTF-8
  std::string line;                    // room for a source line in UTF-8
};

// How many columns of a long source line a report shows around the caret.
constexpr std::size_t SHOWN_COLUMNS = 100;

void report_begin(report_reader& reader, const script_reading& r, std::string_view file,
                  message_language language);
// Fills `item` with the next finding, using its strings' room again; false when
// none is left.
bool report_next(report_reader& reader, report_item& item);

// All of them at once.
void report_findings(const script_reading& r, std::string_view file, message_language language,
                     std::vector<report_item>& out);

// "FILE:LINE:COLUMN: warning: MESSAGE [NAME]", the source line and the caret, and
// the "note:" line, appended to `out`.
void append_gcc(const report_item& item, std::string& out);
std::string format_gcc(const report_item& item);

// One JSON array of {column, end_column, file, fixes, line, message, name, notes,
// severity}, written an object at a
// time: `append_json` for each (`first` for the first opens the array), then
// `json_close` with how many there were.
void append_json(const report_item& item, bool first, std::string& out);
void json_close(std::size_t count, std::string& out);
std::string format_json(const std::vector<report_item>& items);
