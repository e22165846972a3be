// The checks on what the clean-up did to the script's lines: comments inside text,
// continuation lines that join where an author does not expect, comments that run
// on, and the silencing comments themselves.
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

// A ";mavo-check: ignore NAME[,NAME...]" comment: the checks it names, or 0.
std::uint32_t silenced_checks(std::string_view comment) {
  comment.remove_prefix(1);  // the ";"
  while (!comment.empty() && is_blank_byte(comment.front())) comment.remove_prefix(1);
  if (comment.substr(0, SILENCE.size()) != SILENCE) return 0;
  comment.remove_prefix(SILENCE.size());
  while (!comment.empty() && is_blank_byte(comment.front())) comment.remove_prefix(1);
  if (comment.substr(0, 6) != "ignore") return 0;
  comment.remove_prefix(6);
  std::uint32_t checks = 0;
  while (!comment.empty()) {
    const std::size_t comma = comment.find(',');
    std::string_view name = comment.substr(0, comma);
    while (!name.empty() && is_blank_byte(name.front())) name.remove_prefix(1);
    while (!name.empty() && (is_blank_byte(name.back()) || name.back() == '\r')) name.remove_suffix(1);
    const check_id id = check_by_name(name);
    if (id != CHECK_COUNT) checks |= std::uint32_t{1} << id;
    if (comma == std::string_view::npos) break;
    comment.remove_prefix(comma + 1);
  }
  return checks;
}

// Records the reach of a silencing comment at script position `at`: its own line,
// and the next one when it stands alone on its line.
void note_silence(script_reading& r, std::size_t at, std::uint32_t checks) {
  const std::string_view src(r.source);
  std::size_t begin = at;
  while (begin > 0 && src[begin - 1] != '\n' && src[begin - 1] != '\r') --begin;
  std::size_t end = editor_line_end(src, at);
  if (all_blank(src.substr(begin, at - begin)) && end < src.size()) end = editor_line_end(src, end + 1);
  r.silences.push_back({begin, end, checks});
}

// A ";" that mavo takes for a comment while the statement before it prints text:
// right after a printed character, or inside an HTML tag or a quoted attribute.
void check_comment_in_text(script_reading& r, const cleanup_event& e) {
  if (r.mode != MODE_URQW) return;  // the older dialects take it for a comment too
  const std::string_view clean(r.text);
  const std::size_t line = clean_line_start(clean, e.clean);
  const std::string_view before = clean.substr(line, e.clean - line);
  piece_reader reader{before};
  std::size_t at = 0;
  std::string_view piece;
  std::string_view last;
  while (next_piece(reader, piece, at)) last = piece;
  while (!last.empty() && last.front() == ' ') last.remove_prefix(1);
  const std::string_view word = first_word(last);
  std::string_view text;
  if (is_print(word)) {
    if (last.size() <= word.size()) return;
    text = last.substr(word.size() + 1);
  } else if (word_is(word, "btn") || word_is(word, "mavo")) {
    const std::size_t comma = last.find(',');
    if (comma == std::string_view::npos) return;  // the ";" is in the label
    text = last.substr(comma + 1);
  } else {
    return;
  }
  if (text.empty()) return;
  const bool after_char = !is_blank_byte(text.back());
  const std::size_t open = text.rfind('<');
  const std::size_t close = text.rfind('>');
  const bool in_tag = open != std::string_view::npos && (close == std::string_view::npos || close < open);
  std::size_t quotes = 0;
  for (const char c : text) quotes += c == '"';
  if (!after_char && !in_tag && quotes % 2 == 0) return;
  const std::string_view comment = std::string_view(r.source).substr(e.source, e.length);
  std::string rest;
  for (const char c : comment) {
    if (c == ';') {
      rest += "##59$";
    } else {
      rest += c;
    }
  }
  finding& f = add_finding(r, COMMENT_IN_TEXT, e.source);
  set_text(r, f, 0, text);
  std::string fixed(last);
  fixed += rest;
  set_text(r, f, 1, fixed, 80);
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
    } else {
      finding& f = add_finding(r, DOUBLE_UNDERSCORE, underscore);
      set_text(r, f, 0, clean_line(clean, e.clean));
    }
    return;
  }
  if (after_comment) {
    finding& f = add_finding(r, CONTINUATION_AFTER_COMMENT, underscore);
    set_text(r, f, 0, clean_line(clean, e.clean));
    return;
  }
  if (blank_before && first_text < line && !rest.empty()) {
    finding& f = add_finding(r, CONTINUATION_AFTER_EMPTY_LINE, underscore);
    set_text(r, f, 0, rest);
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
        const std::uint32_t silenced = silenced_checks(std::string_view(r.source).substr(e.source, e.length));
        if (silenced != 0) {
          note_silence(r, e.source, silenced);
        } else {
          check_comment_in_text(r, e);
        }
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
