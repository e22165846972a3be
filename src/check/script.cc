#include "check/script.h"

#include <algorithm>
#include <bit>

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

namespace {

// Whether the word after the blank at `i` is "then" (or, with `or_else`, "else"),
// with a blank after it.
bool then_at(std::string_view text, std::size_t i, bool or_else) {
  if (i + 6 > text.size() || text[i + 5] != ' ') return false;
  const char* const w = text.data() + i + 1;
  return (w[0] == 't' && w[1] == 'h' && w[2] == 'e' && w[3] == 'n') ||
         (or_else && w[0] == 'e' && w[1] == 'l' && w[2] == 's' && w[3] == 'e');
}

// Whether the statement at `at` starts with the word "if", in any letter case.
bool starts_if(std::string_view text, std::size_t at) {
  while (at < text.size() && text[at] == ' ') ++at;
  return text.size() - at > 3 && (text[at] | 0x20) == 'i' && (text[at + 1] | 0x20) == 'f' && text[at + 2] == ' ';
}

}  // namespace

bool next_piece(piece_reader& reader, std::string_view& piece, std::size_t& piece_at) {
  const std::string_view text = reader.text;
  const std::size_t start = reader.pos;
  if (start > text.size()) return false;
  if (reader.part != IF_CONDITION && starts_if(text, start)) reader.part = IF_CONDITION;
  piece_at = start;
  if (reader.part == IF_CONDITION) {
    // "&" does not end an "if": its condition runs to " then ", else to the line's end.
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::size_t then = find_then(text, start, end, false);
    piece = text.substr(start, std::min(then, end) - start);
    reader.pos = then < end ? then + 6 : end + 1;
    reader.part = then < end ? IF_THEN : IF_NONE;
    return true;
  }
  const std::size_t end = find_either(text, start, '&', '\n');
  if (reader.part == IF_THEN) {
    // The first " else " ends the "then" branch; a " then " in it is its text.
    std::size_t i = find_then(text, start, end, true);
    while (i < end && text[i + 1] == 't') i = find_then(text, i + 1, end, true);
    if (i < end) {
      piece = text.substr(start, i - start);
      reader.pos = i + 6;
      reader.part = IF_ELSE;
      return true;
    }
  }
  piece = text.substr(start, end - start);
  reader.pos = end + 1;
  if (end >= text.size() || text[end] == '\n') reader.part = IF_NONE;
  return true;
}

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

std::span<const game_location> game_locations_named(const script_reading& r, std::string_view folded_name) {
  if (r.game == nullptr) return {};
  const std::vector<game_location>& all = *r.game;
  const auto less = [](const game_location& l, std::string_view n) { return l.name < n; };
  const auto first = std::lower_bound(all.begin(), all.end(), folded_name, less);
  auto last = first;
  while (last != all.end() && last->name == folded_name) ++last;
  return {first, last};
}

bool location_elsewhere(const script_reading& r, std::string_view folded_name) {
  for (const game_location& l : game_locations_named(r, folded_name))
    if (l.file != r.game_file) return true;
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

void add_game_locations(std::string_view cleaned, bool utf8, std::size_t bom, std::uint32_t file,
                        std::vector<game_location>& out) {
  std::string folded;
  for (std::size_t line = bom, end; line < cleaned.size(); line = end + 1) {
    end = find_either(cleaned, line, '\n', '\n');
    std::size_t first;
    if (!is_location_line(cleaned, line, end, first)) continue;
    const std::string_view written = location_line_name(cleaned, first, end);
    fold_case_into(written, utf8, folded);
    // Where its ":" stands, for the line: kept in `line` until the caller counts it.
    out.push_back({folded, file, first, std::string(written)});
  }
}

void read_locations(script_reading& r) {
  const std::string_view text = std::string_view(r.text).substr(0, r.script_end);
  std::size_t line = r.bom;  // UrqW reads the text without its byte order mark
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

bool is_player_command(std::string_view word) {
  // The statements of UrqW's reader, which its player runs for a button's target
  // that names no location.
  static constexpr std::string_view WORDS[] = {
      "save", "image", "music", "play", "clsb", "clsl", "clst", "cls", "forget_procs", "proc",
      "end", "anykey", "pause", "input", "quit", "invkill", "perkill", "varkill", "inv-", "inv+",
      "goto", "p", "print", "pln", "println", "btn", "tokens", "instr"};
  for (const std::string_view w : WORDS)
    if (word_is(word, w)) return true;
  return false;
}

std::string_view location_written(const script_reading& r, std::size_t index) {
  // Read from the script as written, where the cleaned text's ":" came from.
  std::string_view name = line_around(r.source, source_position(r.cleanup, r.locations[index].at));
  while (!name.empty() && (name.front() == ' ' || name.front() == '\t' || name.front() == ':')) name.remove_prefix(1);
  if (r.bom != 0 && name.substr(0, 3) == "\xEF\xBB\xBF") name.remove_prefix(3);
  while (!name.empty() && name.front() == ':') name.remove_prefix(1);
  return trim_blanks(name.substr(0, name.find(';')));
}

namespace {

// A name's letters as compared for a suggestion: letter case folded, and the
// Cyrillic letters that look like Latin ones taken for those.
std::u32string skeleton_of(std::string_view folded, bool utf8) {
  std::u32string s = code_points(folded, utf8);
  for (char32_t& c : s) {
    switch (c) {
      case U'\u0430': c = U'a'; break;
      case U'\u0432': c = U'b'; break;
      case U'\u0435': c = U'e'; break;
      case U'\u043a': c = U'k'; break;
      case U'\u043c': c = U'm'; break;
      case U'\u043d': c = U'h'; break;
      case U'\u043e': c = U'o'; break;
      case U'\u0440': c = U'p'; break;
      case U'\u0441': c = U'c'; break;
      case U'\u0442': c = U't'; break;
      case U'\u0445': c = U'x'; break;
      default: break;
    }
  }
  return s;
}

}  // namespace

// The edit distance of `a` and `b` with adjacent letters swapped as one edit, or
// `limit` + 1 once it is sure to exceed `limit`.
std::size_t edit_distance(std::u32string_view a, std::u32string_view b, std::size_t limit,
                          std::vector<std::size_t>& rows) {
  const std::size_t n = a.size(), m = b.size();
  if ((n > m ? n - m : m - n) > limit) return limit + 1;
  rows.assign(3 * (m + 1), 0);
  std::size_t* before = rows.data();
  std::size_t* row = before + (m + 1);
  std::size_t* now = row + (m + 1);
  for (std::size_t j = 0; j <= m; ++j) row[j] = j;
  for (std::size_t i = 1; i <= n; ++i) {
    now[0] = i;
    std::size_t best = now[0];
    for (std::size_t j = 1; j <= m; ++j) {
      std::size_t d = std::min({row[j] + 1, now[j - 1] + 1, row[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d = std::min(d, before[j - 2] + 1);
      now[j] = d;
      best = std::min(best, d);
    }
    if (best > limit) return limit + 1;
    std::size_t* oldest = before;
    before = row;
    row = now;
    now = oldest;
  }
  return row[m];
}

namespace {

bool is_latin(char32_t c) { return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z'); }
bool is_cyrillic(char32_t c) { return c >= 0x400 && c <= 0x4FF; }

}  // namespace

namespace {

// A bit for each letter of `s`, modulo 64: an edit changes at most two of them.
std::uint64_t letter_mask(std::u32string_view s) {
  std::uint64_t mask = 0;
  for (const char32_t c : s) mask |= std::uint64_t{1} << (c % 64);
  return mask;
}

void add_suggestion_name(suggestion_index& index, std::string_view folded, bool utf8) {
  const std::u32string letters = skeleton_of(folded, utf8);
  index.letters += letters;
  index.starts.push_back(static_cast<std::uint32_t>(index.letters.size()));
  index.masks.push_back(letter_mask(letters));
}

void make_suggestions(script_reading& r) {
  suggestion_index& index = r.suggestions;
  index.made = true;
  index.starts.push_back(0);
  for (std::size_t i = 0; i < r.locations.size(); ++i) add_suggestion_name(index, location_name(r, i), r.utf8);
  if (r.game == nullptr) return;
  for (const game_location& l : *r.game) add_suggestion_name(index, l.file == r.game_file ? std::string_view() : l.name, r.utf8);
}

// The index of the nearest name to `wanted` within `limit` edits, or -1.
std::int64_t nearest_name(script_reading& r, std::u32string_view wanted, std::size_t limit) {
  suggestion_index& index = r.suggestions;
  const std::uint64_t mask = letter_mask(wanted);
  std::size_t best = limit + 1;
  std::int64_t found = -1;
  for (std::size_t i = 0; i + 1 < index.starts.size(); ++i) {
    const std::size_t size = index.starts[i + 1] - index.starts[i];
    if (size == 0 || (size > wanted.size() ? size - wanted.size() : wanted.size() - size) >= best) continue;
    if (static_cast<std::size_t>(std::popcount(mask ^ index.masks[i])) > 2 * (best - 1)) continue;
    const std::u32string_view s = std::u32string_view(index.letters).substr(index.starts[i], size);
    const std::size_t d = edit_distance(wanted, s, best - 1, index.rows);
    if (d < best) {
      best = d;
      found = static_cast<std::int64_t>(i);
      if (d == 0) break;
    }
  }
  return found;
}

}  // namespace

void suggest_location(script_reading& r, finding& f, std::string_view name, std::size_t clean) {
  const std::u32string letters = code_points(name, r.utf8);
  const bool mixed = std::any_of(letters.begin(), letters.end(), is_latin) &&
                     std::any_of(letters.begin(), letters.end(), is_cyrillic);
  f.count[1] = mixed ? 1 : 0;
  if (!r.suggestions.made) make_suggestions(r);
  // Many jumps lead to the same missing name: it is looked for once.
  const std::string folded = fold_case(name, r.utf8);
  auto [it, is_new] = r.suggestions.asked.try_emplace(folded, -1);
  if (is_new) {
    const std::u32string wanted = skeleton_of(folded, r.utf8);
    // A one-letter name is one edit from every other: nothing is close to it.
    if (wanted.size() > 1) it->second = nearest_name(r, wanted, std::max<std::size_t>(1, wanted.size() / 4));
  }
  if (it->second < 0) return;
  const auto found = static_cast<std::size_t>(it->second);
  const std::string_view best_name =
      found < r.locations.size() ? location_written(r, found) : std::string_view((*r.game)[found - r.locations.size()].written);
  set_text(r, f, 1, best_name, WHOLE_TEXT);
  set_text(r, f, 2, best_name, WHOLE_TEXT);
  f.fix_begin = script_position(r, clean);
  f.fix_end = script_position(r, clean + name.size());
}
