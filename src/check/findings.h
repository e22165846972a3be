// What mavo-check reports: the checks by their stable names, and one finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

// The interpreter's dialect, by UrqW's names for them.
enum check_mode : std::uint8_t { MODE_URQW, MODE_RIPURQ, MODE_DOSURQ, MODE_AKURQ };

constexpr const char* MODE_NAMES[] = {"urqw", "ripurq", "dosurq", "akurq"};

enum check_id : std::uint8_t {
  COMMENT_IN_TEXT,
  SEPARATOR_LINE,
  CONTINUATION_AFTER_EMPTY_LINE,
  CONTINUATION_AFTER_COMMENT,
  DOUBLE_UNDERSCORE,
  CTRL_Z_CUT,
  UNCLOSED_COMMENT,
  LONE_CR,
  ELSE_SWALLOWED,
  TARGET_NOT_FOUND,
  TARGET_IS_COMMAND,
  LABEL_SUBSTITUTION,
  BLOCKS_DIFFER_IN_CASE,
  LABEL_RUNS_ON,
  BRACE_RUNS_ON,
  UNCLOSED_BRACE,
  NOT_EXPANDED,
  PREVIOUS_LOC,
  CLS_WIPES,
  UNKNOWN_LOCATION,
  DUPLICATE_LOCATION,
  MISSING_AMPERSAND,
  UNKNOWN_CHECK_NAME,
  CHECK_COUNT
};

// The names by which findings are reported and silenced; they never change.
constexpr const char* CHECK_NAMES[CHECK_COUNT] = {
    "comment-in-text",  "separator-line",     "continuation-after-empty-line",
    "continuation-after-comment", "double-underscore", "ctrl-z",
    "unclosed-comment", "lone-cr",            "else-swallowed",
    "target-not-found", "target-is-command",  "label-substitution",
    "blocks-differ-in-case", "label-runs-on", "brace-runs-on",
    "unclosed-brace",   "not-expanded",       "previous-loc",
    "cls-wipes",        "unknown-location",   "duplicate-location",
    "missing-ampersand", "unknown-check-name",
};

// Whether the check is about mavo's own reading of the script (comments, joined
// lines, a Ctrl-Z): what it finds reaches the player only through mavo.qst, which
// mavo writes only when it expands an action button.
constexpr bool about_mavo_reading(check_id id) {
  return id == COMMENT_IN_TEXT || id == SEPARATOR_LINE || id == CONTINUATION_AFTER_EMPTY_LINE ||
         id == CONTINUATION_AFTER_COMMENT || id == DOUBLE_UNDERSCORE || id == CTRL_Z_CUT ||
         id == UNCLOSED_COMMENT || id == LONE_CR;
}

constexpr std::size_t NO_POSITION = static_cast<std::size_t>(-1);

// One finding. Positions count bytes of the script as read (CR LF as one LF, up to
// a Ctrl-Z); its texts are script bytes, kept one after the other in the reading's
// `finding_texts` (see `set_text`), shown in the terminal's encoding.
struct finding {
  std::size_t at;                  // where it is reported
  std::size_t other = NO_POSITION; // a second place, named by its line ("%L")
  std::uint64_t count[2] = {0, 0}; // its "%3" and "%4"
  std::size_t text_at[3] = {0, 0, 0};     // where its "%1", "%2" and fix start in `finding_texts`...
  std::uint32_t text_len[3] = {0, 0, 0};  // ...and their lengths
  std::size_t fix_begin = NO_POSITION;    // a fix: the script's bytes [fix_begin, fix_end)
  std::size_t fix_end = 0;                //   become the fix text
  std::uint32_t other_file = 0;    // 0: `other` is a place of this script; else 1 + a file of its
                                   //   game (`script_reading::game_files`), `other` a line there
  std::uint32_t length = 0;        // the bytes reported from `at`; 0: up to a blank or a line end
  check_id id;
  std::uint8_t variant = 0;        // which of the check's messages
};

// In blocks, so that many findings grow without a copy of them all.
using finding_list = std::deque<finding>;

// The check whose name this is, or CHECK_COUNT.
check_id check_by_name(std::string_view name);
