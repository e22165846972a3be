#include "check/script.h"

#include <algorithm>

#include "check/charset.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// The statements of a location's lines, in order, up to the first that prints,
// offers or waits: whether that one is a "cls".
bool clears_before_anything(std::string_view body) {
  piece_reader reader{body};
  std::string_view piece;
  std::size_t at = 0;
  while (next_piece(reader, piece, at)) {
    std::size_t offset = 0;
    const std::string_view s = trim_piece(piece, offset);
    if (s.empty()) continue;
    const std::string_view word = first_word(s);
    if (word_is(word, "cls")) return true;
    std::string_view name;
    if (!word_is(word, "if") && is_assignment(s, name)) continue;
    if (word_is(word, "inv+") || word_is(word, "inv-") || word_is(word, "invkill") || word_is(word, "perkill") ||
        word_is(word, "varkill") || word_is(word, "music") || word_is(word, "play"))
      continue;
    return false;  // anything else may print, offer, wait or go elsewhere
  }
  return false;
}

}  // namespace

bool next_piece(piece_reader& reader, std::string_view& piece, std::size_t& piece_at) {
  const std::string_view text = reader.text;
  std::size_t start = reader.pos;
  if (start > text.size()) return false;
  if (!reader.in_if) {
    std::size_t first = start;
    while (first < text.size() && text[first] == ' ') ++first;
    reader.in_if = text.size() - first > 3 && (text[first] | 0x20) == 'i' && (text[first + 1] | 0x20) == 'f' &&
                   text[first + 2] == ' ';
  }
  const std::size_t end = find_either(text, start, '&', '\n');
  if (reader.in_if) {
    // The first " then " or " else " before the end, if any, cuts the piece there.
    const std::size_t i = find_then(text, start, end, true);
    if (i < end) {
      piece = text.substr(start, i - start);
      piece_at = start;
      reader.pos = i + 6;
      return true;
    }
  }
  piece = text.substr(start, end - start);
  piece_at = start;
  reader.pos = end + 1;
  if (end < text.size()) reader.in_if = false;
  return true;
}

namespace {

// Whether the word after the blank at `i` is "then" (or, with `or_else`, "else"),
// with a blank after it.
bool then_at(std::string_view text, std::size_t i, bool or_else) {
  if (i + 6 > text.size() || text[i + 5] != ' ') return false;
  const char* const w = text.data() + i + 1;
  return (w[0] == 't' && w[1] == 'h' && w[2] == 'e' && w[3] == 'n') ||
         (or_else && w[0] == 'e' && w[1] == 'l' && w[2] == 's' && w[3] == 'e');
}

}  // namespace

std::size_t find_then(std::string_view text, std::size_t from, std::size_t end, bool or_else) {
  std::size_t i = from;
#ifdef __SSE2__
  // 16 positions a step: those with a blank and, one byte on, a "t" (or an "e")
  // are looked at whole. The step may read past `end`, never past the text.
  const char* const t = text.data();
  for (; i < end && i + 17 <= text.size(); i += 16) {
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i + 1));
    __m128i letter = _mm_cmpeq_epi8(next, _mm_set1_epi8('t'));
    if (or_else) letter = _mm_or_si128(letter, _mm_cmpeq_epi8(next, _mm_set1_epi8('e')));
    const __m128i blank = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i)), _mm_set1_epi8(' '));
    for (auto maybe = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(blank, letter))); maybe != 0;
         maybe &= maybe - 1) {
      const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(maybe));
      if (at >= end) return end;
      if (then_at(text, at, or_else)) return at;
    }
  }
#endif
  for (; i < end; ++i)
    if (text[i] == ' ' && then_at(text, i, or_else)) return i;
  return end;
}

std::string_view trim_piece(std::string_view piece, std::size_t& offset) {
  offset = 0;
  while (!piece.empty() && (is_blank(piece.front()) || piece.front() == '{')) {
    piece.remove_prefix(1);
    ++offset;
  }
  while (!piece.empty() && (is_blank(piece.back()) || piece.back() == '}')) piece.remove_suffix(1);
  return piece;
}

std::string_view first_word(std::string_view statement) {
  std::size_t i = 0;
  while (i < statement.size() && statement[i] == ' ') ++i;
  std::size_t end = i;
  while (end < statement.size() && statement[end] != ' ') ++end;
  return statement.substr(i, end - i);
}

bool is_assignment(std::string_view statement, std::string_view& name) {
  const std::size_t eq = statement.find('=');
  if (eq == std::string_view::npos || eq == 0) return false;
  const std::string_view left = trim_blanks(statement.substr(0, eq));
  if (left.empty()) return false;
  for (const char c : left) {
    // A variable's name: letters (any, cp1251 or UTF-8 too), digits and "_".
    const auto u = static_cast<unsigned char>(c);
    if (!(u >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
      return false;
  }
  if (eq + 1 < statement.size() && statement[eq + 1] == '=') return false;  // a comparison
  name = left;
  return true;
}

bool is_print(std::string_view word) {
  return word_is(word, "p") || word_is(word, "pln") || word_is(word, "print") || word_is(word, "println");
}

bool is_command_word(std::string_view word) {
  static constexpr std::string_view WORDS[] = {
      "goto", "proc", "btn", "p", "pln", "print", "println", "inv+", "inv-", "invkill", "perkill", "varkill",
      "cls", "clsb", "clsl", "clst", "end", "if", "input", "instr", "pause", "anykey", "music", "play", "image",
      "quit", "save", "tokens", "forget_procs", "mavo"};
  for (const std::string_view w : WORDS)
    if (word_is(word, w)) return true;
  return false;
}

namespace {

// The slot of `folded_name` in the index: the one that holds it, or the empty one
// where it would go.
std::size_t location_slot(const script_reading& r, std::string_view folded_name, std::uint32_t hash) {
  const std::size_t mask = r.location_slots.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const name_slot& slot = r.location_slots[i];
    if (slot.entry == 0) return i;
    if (slot.hash != hash) continue;
    // A record holds its name: a lookup touches the slot and the record only.
    if (location_record_name(r, slot.entry - 1) == folded_name) return i;
  }
}

// Indexes every location by its folded name; a name defined again keeps its first.
void index_locations(script_reading& r) {
  r.location_slots.assign(slot_count(r.locations.size()), {0, 0});
  for (std::size_t i = 0; i < r.locations.size(); ++i) {
    const std::string_view name = location_name(r, i);
    const std::uint32_t hash = hash_bytes(name);
    name_slot& slot = r.location_slots[location_slot(r, name, hash)];
    if (slot.entry == 0) slot = {r.location_name_at[i] + 1, hash};
  }
}

}  // namespace

std::int64_t find_location(const script_reading& r, std::string_view folded_name) {
  if (r.location_slots.empty()) return -1;
  const std::uint32_t held = r.location_slots[location_slot(r, folded_name, hash_bytes(folded_name))].entry;
  if (held == 0) return -1;
  std::uint32_t index;
  std::memcpy(&index, r.location_names.data() + held - 1, 4);
  return index;
}

std::string_view folded_name(script_reading& r, std::string_view name) {
  // Most names are written as they fold (no capital letter, nothing but ASCII).
  if (!needs_folding(name)) return name;
  fold_case_into(name, r.utf8, r.folded);
  return r.folded;
}

bool location_elsewhere(const script_reading& r, std::string_view folded_name) {
  if (r.game == nullptr) return false;
  const std::vector<game_location>& all = *r.game;
  auto it = std::lower_bound(all.begin(), all.end(), folded_name,
                             [](const game_location& l, std::string_view n) { return l.name < n; });
  for (; it != all.end() && it->name == folded_name; ++it)
    if (it->file != r.game_file) return true;
  return false;
}

bool location_exists(script_reading& r, std::string_view name) {
  const std::string_view folded = folded_name(r, name);
  return find_location(r, folded) >= 0 || location_elsewhere(r, folded);
}

std::size_t clean_position(const script_reading& r, std::size_t searched) {
  while (searched >= r.searched_end) {
    // The last block that starts at or before it.
    const auto it = std::upper_bound(r.blocks.begin(), r.blocks.end(), searched,
                                     [](std::size_t p, const traced_block& b) { return p < b.body; });
    if (it == r.blocks.begin()) return NO_POSITION;
    const traced_block& b = *(it - 1);
    if (searched >= b.body + b.size || b.clean == NO_POSITION) return NO_POSITION;
    searched = b.clean + (searched - b.body);
  }
  return searched < r.script_end ? searched : NO_POSITION;
}

std::string_view line_around(std::string_view text, std::size_t pos) {
  if (pos > text.size()) pos = text.size();
  std::size_t begin = pos;
  while (begin > 0 && text[begin - 1] != '\n' && text[begin - 1] != '\r') --begin;
  std::size_t end = pos;
  while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
  return text.substr(begin, end - begin);
}

void append_shortened(std::string& out, std::string_view text, bool utf8, std::size_t limit) {
  if (limit == WHOLE_TEXT || count_chars(text, utf8) <= limit) {
    out += text;
    return;
  }
  std::size_t cut = 0;
  for (std::size_t chars = 0; cut < text.size() && chars < limit; ++cut) {
    if (!utf8 || (static_cast<unsigned char>(text[cut]) & 0xC0) != 0x80) ++chars;
  }
  while (utf8 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) ++cut;
  out.append(text, 0, cut);
  out += "...";
}

std::string shorten(std::string_view text, bool utf8, std::size_t limit) {
  std::string out;
  append_shortened(out, text, utf8, limit);
  return out;
}

finding& add_finding(script_reading& r, check_id id, std::size_t at, std::uint8_t variant) {
  finding& f = r.findings.emplace_back();
  f.at = at;
  f.id = id;
  f.variant = variant;
  return f;
}

void set_text(script_reading& r, finding& f, int which, std::string_view text, std::size_t limit) {
  std::string& all = r.finding_texts;
  const std::size_t from = all.size();
  append_shortened(all, text, r.utf8, limit);
  if (all.size() - from > 0xFFFFFFFFu) out_of_memory();  // the lengths are 32-bit
  f.text_at[which] = from;
  f.text_len[which] = static_cast<std::uint32_t>(all.size() - from);
}

namespace {

// Whether `text` holds `word` (lower-case ASCII) in any letter case. The words looked
// for are ASCII, so the script's other letters need no folding; "_" anchors the
// search, since every such word holds one.
bool contains_ascii_word(std::string_view text, std::string_view word) {
  const std::size_t anchor = word.find('_');
  for (std::size_t at = text.find('_', anchor); at != std::string_view::npos; at = text.find('_', at + 1)) {
    const std::size_t begin = at - anchor;
    if (begin + word.size() > text.size()) return false;
    if (word_is(text.substr(begin, word.size()), word)) return true;
  }
  return false;
}

// Whether the line [line, end) of `text` is a location's: its first non-blank byte,
// at `first`, is ":".
bool is_location_line(std::string_view text, std::size_t line, std::size_t end, std::size_t& first) {
  first = line;
  while (first < end && text[first] == ' ') ++first;
  return first < end && text[first] == ':';
}

// The name of the location whose ":" is at `first`, its line ending at `end`, as written.
std::string_view location_line_name(std::string_view text, std::size_t first, std::size_t end) {
  return trim_blanks(text.substr(first + 1, end - first - 1));
}

}  // namespace

void add_game_locations(std::string_view cleaned, bool utf8, std::uint32_t file, std::vector<game_location>& out) {
  std::string folded;
  for (std::size_t line = 0, end; line < cleaned.size(); line = end + 1) {
    end = find_either(cleaned, line, '\n', '\n');
    std::size_t first;
    if (!is_location_line(cleaned, line, end, first)) continue;
    fold_case_into(location_line_name(cleaned, first, end), utf8, folded);
    out.push_back({folded, file});
  }
}

void read_locations(script_reading& r) {
  const std::string_view text = std::string_view(r.text).substr(0, r.script_end);
  std::size_t line = 0;
  while (line < text.size()) {
    const std::size_t end = find_either(text, line, '\n', '\n');
    std::size_t first;
    if (is_location_line(text, line, end, first)) {
      if (!r.locations.empty()) r.locations.back().body_end = line;
      fold_case_into(location_line_name(text, first, end), r.utf8, r.folded);
      const std::size_t record = r.location_names.size();
      if (record + 8 + r.folded.size() > 0xFFFFFFFFu) out_of_memory();  // the offsets are 32-bit
      const std::uint32_t head[2] = {static_cast<std::uint32_t>(r.locations.size()),
                                     static_cast<std::uint32_t>(r.folded.size())};
      r.location_names.append(reinterpret_cast<const char*>(head), sizeof head);
      r.location_names += r.folded;
      r.location_name_at.push_back(static_cast<std::uint32_t>(record));
      r.locations.push_back({first, text.size(), false, false, false});
    } else {
      // The "then" of an "if" on this line, for the buttons in its branch.
      const std::size_t then = find_then(text, line, end, false);
      if (then < end) r.thens.push_back({then, end});
    }
    line = end + 1;
  }
  index_locations(r);
  for (std::size_t i = 0; i < r.locations.size(); ++i) {
    location& loc = r.locations[i];
    const std::size_t body_begin = std::min(text.find('\n', loc.at), loc.body_end);
    const std::string_view body = text.substr(body_begin, loc.body_end - body_begin);
    loc.reads_previous_loc = contains_ascii_word(body, "previous_loc");
    loc.reads_current_loc = contains_ascii_word(body, "current_loc");
    loc.clears_first = clears_before_anything(body);
  }
}
