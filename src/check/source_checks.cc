// The checks on what the clean-up did to the script's lines: comments inside text,
// continuation lines that join where an author does not expect, comments that run
// on, and the silencing comments themselves.
#include <algorithm>
#include <string>

#include "check/charset.h"
#include "check/script.h"

namespace {

constexpr std::string_view SILENCE = "mavo-check:";

bool is_blank_byte(char c) { return c == ' ' || c == '\t'; }

bool all_blank(std::string_view s) {
  for (const char c : s)
    if (!is_blank_byte(c)) return false;
  return true;
}

// The start of the line of `text` holding `pos` (lines end at LF only: the cleaned
// text's own lines).
std::size_t clean_line_start(std::string_view text, std::size_t pos) {
  while (pos > 0 && text[pos - 1] != '\n') --pos;
  return pos;
}

// The cleaned line holding `pos`, as mavo writes it.
std::string_view clean_line(std::string_view text, std::size_t pos) {
  const std::size_t begin = clean_line_start(text, pos);
  std::size_t end = text.find('\n', pos);
  if (end == std::string_view::npos) end = text.size();
  return text.substr(begin, end - begin);
}

// The end of the editor's line of `text` holding `pos`: its LF or lone CR.
std::size_t editor_line_end(std::string_view text, std::size_t pos) {
  while (pos < text.size() && text[pos] != '\n' && text[pos] != '\r') ++pos;
  return pos;
}

// The first lines of a script in which a file-wide ";mavo-check: ignore-file" may stand.
constexpr std::uint64_t IGNORE_FILE_LINES = 20;

std::string_view skip_blanks(std::string_view s) {
  while (!s.empty() && is_blank_byte(s.front())) s.remove_prefix(1);
  return s;
}

// Where a comment (from its ";") holds a ";mavo-check:" directive: at its own
// start, or at a later ";" of it (a directive at the end of a line whose text has
// a ";" of its own). NO_POSITION when none.
std::size_t directive_at(std::string_view comment) {
  for (std::size_t semi = 0; semi != std::string_view::npos; semi = comment.find(';', semi + 1)) {
    if (skip_blanks(comment.substr(semi + 1)).substr(0, SILENCE.size()) == SILENCE) return semi;
  }
  return NO_POSITION;
}

// The nearest check name to a mistyped one, or "" when none is close.
std::string_view nearest_check_name(std::string_view name) {
  const std::u32string wanted(name.begin(), name.end());
  std::size_t best = std::max<std::size_t>(2, name.size() / 4) + 1;
  std::string_view found;
  std::vector<std::size_t> rows;
  for (const char* known : CHECK_NAMES) {
    const std::string_view k(known);
    const std::size_t d = edit_distance(wanted, std::u32string(k.begin(), k.end()), best - 1, rows);
    if (d < best) {
      best = d;
      found = k;
    }
  }
  return found;
}

// A ";mavo-check: ignore NAME[,NAME...]" (or "ignore-file") directive at script
// position `at`: the checks it names; each name that is no check's is reported.
std::uint32_t silenced_checks(script_reading& r, std::size_t at, bool& whole_file) {
  const std::string_view src(r.source);
  std::string_view comment = src.substr(at, editor_line_end(src, at) - at);
  comment = skip_blanks(comment.substr(1));  // the ";"
  comment = skip_blanks(comment.substr(SILENCE.size()));
  whole_file = comment.substr(0, 11) == "ignore-file";
  if (!whole_file && comment.substr(0, 6) != "ignore") return 0;
  comment.remove_prefix(whole_file ? 11 : 6);
  std::uint32_t checks = 0;
  while (!comment.empty()) {
    const std::size_t comma = comment.find(',');
    std::string_view name = skip_blanks(comment.substr(0, comma));
    while (!name.empty() && is_blank_byte(name.back())) name.remove_suffix(1);
    const check_id id = check_by_name(name);
    if (id != CHECK_COUNT) {
      checks |= std::uint32_t{1} << id;
    } else if (!name.empty()) {
      const std::string_view near = nearest_check_name(name);
      finding& f = add_finding(r, UNKNOWN_CHECK_NAME, static_cast<std::size_t>(name.data() - src.data()),
                               near.empty() ? 0 : 1);
      set_text(r, f, 0, name);
      f.length = static_cast<std::uint32_t>(name.size());
      if (!near.empty()) {
        set_text(r, f, 1, near, WHOLE_TEXT);
        set_text(r, f, 2, near, WHOLE_TEXT);
        f.fix_begin = f.at;
        f.fix_end = f.at + name.size();
      }
    }
    if (comma == std::string_view::npos) break;
    comment.remove_prefix(comma + 1);
  }
  return checks;
}

// Whether script position `at` stands in the first lines, where a file-wide
// directive counts.
bool in_first_lines(const script_reading& r, std::size_t at) {
  const std::string_view src(r.source);
  std::uint64_t lines = 1;
  for (std::size_t i = 0; i < at && lines <= IGNORE_FILE_LINES; ++i) {
    lines += src[i] == '\n' || (src[i] == '\r' && (i + 1 >= src.size() || src[i + 1] != '\n'));
  }
  return lines <= IGNORE_FILE_LINES;
}

// Records the reach of a silencing comment at script position `at`: its own line,
// and the next one when it stands alone on its line.
void note_silence(script_reading& r, std::size_t at, std::uint32_t checks, bool whole_file) {
  const std::string_view src(r.source);
  if (whole_file) {
    r.silences.push_back({0, src.size(), checks});
    return;
  }
  std::size_t begin = at;
  while (begin > 0 && src[begin - 1] != '\n' && src[begin - 1] != '\r') --begin;
  std::size_t end = editor_line_end(src, at);
  if (all_blank(src.substr(begin, at - begin)) && end < src.size()) end = editor_line_end(src, end + 1);
  r.silences.push_back({begin, end, checks});
}

// How many characters of a statement the fixed text of comment-in-text shows on
// each side of the ";".
constexpr std::size_t FIX_CONTEXT = 40;

// The last `limit` characters of `text`, with "..." before them where it was cut.
void append_tail(std::string& out, std::string_view text, bool utf8, std::size_t limit) {
  std::size_t cut = text.size();
  for (std::size_t chars = 0; cut > 0 && chars < limit; --cut) {
    if (!utf8 || (static_cast<unsigned char>(text[cut - 1]) & 0xC0) != 0x80) ++chars;
  }
  if (cut > 0) out += "...";
  out.append(text, cut);
}

// A ";" that mavo takes for a comment while UrqW reads it as part of the statement:
// after a printed character, inside an HTML tag or a quoted attribute of printed
// text, or inside a double-quoted string of any statement (a JavaScript one breaks
// in its own way). `upto` bounds the comment where a silencing directive follows.
void check_comment_in_text(script_reading& r, const cleanup_event& e, std::size_t upto) {
  if (r.mode != MODE_URQW) return;  // the older dialects take it for a comment too
  const std::string_view clean(r.text);
  const std::size_t line = clean_line_start(clean, e.clean);
  const std::string_view before = clean.substr(line, e.clean - line);
  piece_reader reader{before, line == 0 ? r.bom : 0};
  std::size_t at = 0;
  std::string_view piece;
  std::string_view last;
  while (next_piece(reader, piece, at)) last = piece;
  while (!last.empty() && last.front() == ' ') last.remove_prefix(1);
  const std::string_view word = first_word(last);
  std::size_t quotes = 0;
  for (const char c : last) quotes += c == '"';
  std::string_view text;
  std::uint8_t variant = 0;
  if (is_print(word)) {
    if (last.size() <= word.size()) return;
    text = last.substr(word.size() + 1);
  } else if (word_is(word, "btn") || word_is(word, "mavo")) {
    const std::size_t comma = last.find(',');
    if (comma == std::string_view::npos) return;  // the ";" is in the label
    text = last.substr(comma + 1);
  } else if (quotes % 2 == 1) {
    std::string_view name;
    variant = is_assignment(last, name) && word_is(name, "javascript") ? 2 : 1;
    text = last;
  } else {
    return;
  }
  if (text.empty()) return;
  if (variant == 0) {
    const bool after_char = !is_blank_byte(text.back());
    const std::size_t open = text.rfind('<');
    const std::size_t close = text.rfind('>');
    const bool in_tag = open != std::string_view::npos && (close == std::string_view::npos || close < open);
    std::size_t text_quotes = 0;
    for (const char c : text) text_quotes += c == '"';
    if (!after_char && !in_tag && text_quotes % 2 == 0) return;
  }
  const std::string_view comment = std::string_view(r.source).substr(e.source, upto);
  std::string rest;
  for (const char c : comment) {
    if (c == ';') {
      rest += "##59$";
    } else {
      rest += c;
    }
  }
  while (!rest.empty() && is_blank_byte(rest.back())) rest.pop_back();
  finding& f = add_finding(r, COMMENT_IN_TEXT, e.source, variant);
  f.length = 1;
  set_text(r, f, 0, variant == 0 ? text : last);
  // The fixed statement where the ";" stands: its end before it, then the rest.
  std::string fixed;
  append_tail(fixed, last, r.utf8, FIX_CONTEXT);
  append_shortened(fixed, rest, r.utf8, FIX_CONTEXT);
  set_text(r, f, 1, fixed, WHOLE_TEXT);
  if (variant != 2) {
    set_text(r, f, 2, "##59$", WHOLE_TEXT);
    f.fix_begin = e.source;
    f.fix_end = e.source + 1;
  } else if (skip_blanks(comment.substr(1)).substr(0, 1) == "\"") {
    // A ";" that ends the code: JavaScript does without it.
    set_text(r, f, 2, "", WHOLE_TEXT);
    f.fix_begin = e.source;
    f.fix_end = e.source + 1;
  }
}

// A comment that runs over a lone CR: the editor shows the text after it on a line
// of its own, and mavo removes it with the comment.
void check_lone_cr(script_reading& r, const cleanup_event& e) {
  const std::string_view comment = std::string_view(r.source).substr(e.source, e.length);
  std::size_t cr = comment.find('\r');
  while (cr != std::string_view::npos) {
    std::size_t text = cr + 1;
    while (text < comment.size() && (is_blank_byte(comment[text]) || comment[text] == '\r')) ++text;
    if (text < comment.size()) {
      std::size_t end = comment.find('\r', text);
      if (end == std::string_view::npos) end = comment.size();
      finding& f = add_finding(r, LONE_CR, e.source + text);
      set_text(r, f, 0, comment.substr(text, end - text));
      return;
    }
    cr = comment.find('\r', cr + 1);
  }
}

// A continuation line that does not join as its author meant: after an empty
// line, after a comment, a line of underscores, a line starting "__".
void check_join(script_reading& r, const cleanup_event& e, const cleanup_event* before,
                std::size_t first_text) {
  const std::string_view clean(r.text);
  const std::string_view src(r.source);
  const std::size_t line = clean_line_start(clean, e.clean);
  const bool after_comment = before != nullptr && before->kind == CLEAN_LINE_COMMENT && before->clean == e.clean;
  const bool blank_before = all_blank(clean.substr(line, e.clean - line));
  // What the continuation line holds after its "_", up to a comment.
  const std::size_t from = e.source + e.length;
  std::string_view rest = src.substr(from, editor_line_end(src, from) - from);
  rest = rest.substr(0, rest.find(';'));
  while (!rest.empty() && is_blank_byte(rest.back())) rest.remove_suffix(1);
  const std::size_t underscore = e.source + e.length - 1;  // the line's first "_"

  if (!rest.empty() && rest.front() == '_') {
    if (blank_before) return;  // a line of its own for both readings
    if (rest.find_first_not_of('_') == std::string_view::npos) {
      finding& f = add_finding(r, SEPARATOR_LINE, underscore);
      set_text(r, f, 0, clean_line(clean, e.clean));
      std::string joined(1, '_');
      joined += rest;
      set_text(r, f, 1, joined, WHOLE_TEXT);
      // Printed, the line is no continuation any more.
      set_text(r, f, 2, "pln ", WHOLE_TEXT);
      f.fix_begin = f.fix_end = underscore;
    } else {
      finding& f = add_finding(r, DOUBLE_UNDERSCORE, underscore);
      set_text(r, f, 0, clean_line(clean, e.clean));
    }
    return;
  }
  // UrqW's own reading never takes a ";" for a comment, and mavo's join gives what
  // the author meant; the older dialects cut the comment after joining.
  if (after_comment && r.mode != MODE_URQW) {
    finding& f = add_finding(r, CONTINUATION_AFTER_COMMENT, underscore);
    set_text(r, f, 0, clean_line(clean, e.clean));
    return;
  }
  if (blank_before && first_text < line && !rest.empty()) {
    finding& f = add_finding(r, CONTINUATION_AFTER_EMPTY_LINE, underscore);
    set_text(r, f, 0, rest);
    // The fix removes the empty lines before it.
    std::size_t begin = underscore;
    while (begin > 0 && src[begin - 1] != '\n' && src[begin - 1] != '\r') --begin;
    const std::size_t line_start = begin;
    while (begin > 0) {
      std::size_t up = begin - 1;  // the line end of the line before
      while (up > 0 && src[up - 1] != '\n' && src[up - 1] != '\r') --up;
      if (!all_blank(src.substr(up, begin - 1 - up))) break;
      begin = up;
    }
    if (begin < line_start) {
      set_text(r, f, 2, "", WHOLE_TEXT);
      f.fix_begin = begin;
      f.fix_end = line_start;
    }
  }
}

}  // namespace

void check_cleanup(script_reading& r) {
  const std::string_view clean(r.text);
  std::size_t first_text = 0;
  while (first_text < clean.size() && (clean[first_text] == ' ' || clean[first_text] == '\n')) ++first_text;
  const std::vector<cleanup_event>& events = r.cleanup.events;
  for (std::size_t i = 0; i < events.size(); ++i) {
    const cleanup_event& e = events[i];
    if (e.source >= r.source.size()) break;  // the end sentinel's
    switch (e.kind) {
      case CLEAN_LINE_COMMENT: {
        const std::string_view comment = std::string_view(r.source).substr(e.source, e.length);
        const std::size_t directive = directive_at(comment);
        if (directive != NO_POSITION) {
          bool whole_file = false;
          const std::uint32_t silenced = silenced_checks(r, e.source + directive, whole_file);
          if (silenced != 0) note_silence(r, e.source + directive, silenced, whole_file && in_first_lines(r, e.source));
        }
        // A directive after the text's own ";" leaves that ";" to be checked.
        if (directive != 0) check_comment_in_text(r, e, directive == NO_POSITION ? e.length : directive);
        check_lone_cr(r, e);
        break;
      }
      case CLEAN_JOIN:
        check_join(r, e, i > 0 ? &events[i - 1] : nullptr, first_text);
        break;
      case CLEAN_UNCLOSED:
        add_finding(r, UNCLOSED_COMMENT, e.source);
        break;
      case CLEAN_BLOCK_COMMENT:
        break;
    }
  }
}
