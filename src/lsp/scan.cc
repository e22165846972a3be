#include "lsp/scan.h"

#include "check/charset.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The text with every comment's bytes as blanks (line ends kept), so that the
// places stay those of the text.
std::string without_comments(std::string_view text) {
  std::string out(text);
  for (std::size_t p = 0; p < out.size();) {
    if (out[p] == ';') {
      while (p < out.size() && out[p] != '\n' && out[p] != '\r') out[p++] = ' ';
    } else if (out[p] == '/' && p + 1 < out.size() && out[p + 1] == '*') {
      const std::size_t close = out.find("*/", p + 2);
      if (close == std::string::npos) {
        ++p;
        continue;
      }
      for (; p < close + 2; ++p)
        if (out[p] != '\n' && out[p] != '\r') out[p] = ' ';
    } else {
      ++p;
    }
  }
  return out;
}

// [begin, end) without blanks at its ends.
void trim(std::string_view s, std::size_t& begin, std::size_t& end) {
  while (begin < end && is_blank(s[begin])) ++begin;
  while (end > begin && is_blank(s[end - 1])) --end;
}

bool word_is(std::string_view word, std::string_view lower) {
  if (word.size() != lower.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    const char c = word[i] >= 'A' && word[i] <= 'Z' ? static_cast<char>(word[i] + 32) : word[i];
    if (c != lower[i]) return false;
  }
  return true;
}

script_name make_name(std::string_view text, std::size_t begin, std::size_t end) {
  return {begin, end - begin, fold_case(text.substr(begin, end - begin), true)};
}

// One statement of [begin, end): a jump when its first word is one.
void read_statement(std::string_view text, std::string_view masked, std::size_t begin, std::size_t end,
                    script_outline& out) {
  trim(masked, begin, end);
  std::size_t word_end = begin;
  while (word_end < end && !is_blank(masked[word_end])) ++word_end;
  const std::string_view word = masked.substr(begin, word_end - begin);
  jump_kind kind;
  if (word_is(word, "goto")) kind = JUMP_GOTO;
  else if (word_is(word, "proc")) kind = JUMP_PROC;
  else if (word_is(word, "btn")) kind = JUMP_BTN;
  else if (word_is(word, "mavo")) kind = JUMP_MAVO;
  else return;
  std::size_t t_begin = word_end, t_end = end, c_begin = end, c_end = end;
  if (kind == JUMP_BTN || kind == JUMP_MAVO) {
    const std::size_t comma = masked.find(',', word_end);
    if (comma != std::string_view::npos && comma < end) {
      t_end = comma;
      c_begin = comma + 1;
    }
  }
  trim(masked, t_begin, t_end);
  if (t_begin == t_end) return;
  trim(masked, c_begin, c_end);
  const std::string_view target = text.substr(t_begin, t_end - t_begin);
  const bool substituted = target.find('#') != std::string_view::npos;
  out.jumps.push_back({make_name(text, t_begin, t_end), kind, substituted, begin, end - begin,
                       std::string(text.substr(c_begin, c_end - c_begin))});
}

// The [[caption|target]] links of a line: the target, or the caption when there is
// no "|".
void read_links(std::string_view text, std::string_view masked, std::size_t begin, std::size_t end,
                script_outline& out) {
  for (std::size_t open = masked.find("[[", begin); open != std::string_view::npos && open < end;
       open = masked.find("[[", open + 2)) {
    const std::size_t close = masked.find("]]", open + 2);
    if (close == std::string_view::npos || close > end) return;
    std::size_t t_begin = open + 2, t_end = close;
    const std::size_t bar = masked.rfind('|', close);
    if (bar != std::string_view::npos && bar > open) t_begin = bar + 1;
    const std::size_t c_end = bar != std::string_view::npos && bar > open ? bar : close;
    trim(masked, t_begin, t_end);
    if (t_begin < t_end) {
      const std::string_view target = text.substr(t_begin, t_end - t_begin);
      out.jumps.push_back({make_name(text, t_begin, t_end), JUMP_LINK, target.find('#') != std::string_view::npos,
                           open, close + 2 - open, std::string(text.substr(open + 2, c_end - open - 2))});
    }
    open = close;
  }
}

}  // namespace

void scan_script(std::string_view text, script_outline& out) {
  out.locations.clear();
  out.location_end.clear();
  out.jumps.clear();
  const std::string masked_text = without_comments(text);
  const std::string_view masked(masked_text);
  std::size_t line = 0;
  while (line <= text.size()) {
    std::size_t end = line;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
    std::size_t first = line;
    while (first < end && is_blank(masked[first])) ++first;
    if (first < end && masked[first] == '_') ++first;  // a continuation: read on as a line
    if (first < end && masked[first] == ':') {
      if (!out.locations.empty()) out.location_end.push_back(line);
      std::size_t n_begin = first + 1, n_end = end;
      trim(masked, n_begin, n_end);
      out.locations.push_back(make_name(text, n_begin, n_end));
    } else if (first < end) {
      // Statements at "&"; an "if" cut at its " then " and " else " too.
      std::size_t s = first;
      while (s < end) {
        std::size_t amp = masked.find('&', s);
        if (amp == std::string_view::npos || amp > end) amp = end;
        std::size_t piece = s;
        std::size_t b = s;
        while (b < amp && is_blank(masked[b])) ++b;
        std::size_t w = b;
        while (w < amp && !is_blank(masked[w])) ++w;
        if (word_is(masked.substr(b, w - b), "if")) {
          for (;;) {
            std::size_t cut = amp;
            std::size_t skip = 0;
            for (const std::string_view key : {std::string_view(" then "), std::string_view(" else ")}) {
              std::size_t k = piece;
              for (; k + key.size() <= amp; ++k) {
                bool same = true;
                for (std::size_t j = 0; j < key.size() && same; ++j)
                  same = (masked[k + j] | 0x20) == (key[j] | 0x20) || (key[j] == ' ' && masked[k + j] == '\t');
                if (same) break;
              }
              if (k + key.size() <= amp && k < cut) {
                cut = k;
                skip = key.size();
              }
            }
            read_statement(text, masked, piece, cut, out);
            if (cut == amp) break;
            piece = cut + skip - 1;
          }
        } else {
          read_statement(text, masked, piece, amp, out);
        }
        s = amp + 1;
      }
      read_links(text, masked, first, end, out);
    }
    if (end == text.size()) break;
    line = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
  }
  if (!out.locations.empty()) out.location_end.push_back(text.size());
}

std::int64_t location_at(const script_outline& o, std::size_t offset) {
  for (std::size_t i = 0; i < o.locations.size(); ++i)
    if (offset >= o.locations[i].at && offset <= o.locations[i].at + o.locations[i].size)
      return static_cast<std::int64_t>(i);
  return -1;
}

std::int64_t jump_at(const script_outline& o, std::size_t offset) {
  for (std::size_t i = 0; i < o.jumps.size(); ++i)
    if (offset >= o.jumps[i].target.at && offset <= o.jumps[i].target.at + o.jumps[i].target.size)
      return static_cast<std::int64_t>(i);
  return -1;
}

bool valid_location_name(std::string_view name) {
  if (name.empty()) return false;
  for (const char c : name)
    if (c == ' ' || c == '\t' || c == ',' || c == '&' || c == '#' || c == '$' || c == '\r' || c == '\n') return false;
  return true;
}
