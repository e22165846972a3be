// The checks of plain statements, with or without action buttons: where "goto",
// "proc" and "btn" lead, locations defined twice, and a jump written inside
// another statement.
#include <algorithm>
#include <string>

#include "check/charset.h"
#include "check/script.h"

namespace {

// A set of bytes, looked up by a table.
struct byte_set {
  bool has[256];
  constexpr explicit byte_set(std::string_view bytes) : has() {
    for (const char c : bytes) has[static_cast<unsigned char>(c)] = true;
  }
};
constexpr byte_set NOT_IN_NAMES(" #$+-*/<>=()&,\"'![]{}%");

// One word that can only be a location's name: no blank, no "#...$", no operator.
bool is_plain_name(std::string_view name) {
  if (name.empty()) return false;
  for (const char c : name)
    if (NOT_IN_NAMES.has[static_cast<unsigned char>(c)]) return false;
  return true;
}

// A target that names no location. A button's target that is one of UrqW's
// command words runs as that command when no location has its name.
void check_target_name(script_reading& r, std::string_view target, std::size_t clean, std::uint8_t variant) {
  if (!is_plain_name(target) || location_exists(r, target)) return;
  if (variant == 2 && is_player_command(target)) return;
  finding& f = add_finding(r, UNKNOWN_LOCATION, script_position(r, clean), variant);
  set_text(r, f, 0, target);
  f.length = static_cast<std::uint32_t>(target.size());
  suggest_location(r, f, target, clean);
}

// "goto", "proc" or "btn" and a location's name inside the text of another statement:
// the first such "goto", else the first "proc", else the first "btn". The text is
// read once, each blank looked at for the three words.
void check_missing_ampersand(script_reading& r, std::string_view text, std::size_t clean, std::uint8_t variant) {
  static constexpr std::string_view WORDS[] = {" goto ", " proc ", " btn "};
  std::size_t found[3] = {std::string_view::npos, std::string_view::npos, std::string_view::npos};
  std::size_t found_end[3] = {0, 0, 0};
  for (std::size_t at = 0; at + WORDS[2].size() <= text.size() && found[0] == std::string_view::npos; ++at) {
    if (text[at] != ' ') continue;
    const char next = static_cast<char>(text[at + 1] | 0x20);
    if (next != 'g' && next != 'p' && next != 'b') continue;
    for (int w = 0; w < 3; ++w) {
      const std::string_view word = WORDS[w];
      if (found[w] != std::string_view::npos || at + word.size() > text.size() ||
          !word_is(text.substr(at, word.size()), word))
        continue;
      const std::size_t name_at = at + word.size();
      std::size_t end = name_at;
      while (end < text.size() && text[end] != ' ' && text[end] != ',') ++end;
      const std::string_view name = text.substr(name_at, end - name_at);
      if (!is_plain_name(name) || !location_exists(r, name)) continue;
      found[w] = at;
      found_end[w] = end;
    }
  }
  for (int w = 0; w < 3; ++w) {
    if (found[w] == std::string_view::npos) continue;
    const std::size_t at = found[w];
    finding& f = add_finding(r, MISSING_AMPERSAND, script_position(r, clean + at + 1), variant);
    set_text(r, f, 0, text.substr(at + 1, found_end[w] - at - 1), WHOLE_TEXT);
    f.length = static_cast<std::uint32_t>(WORDS[w].size() - 2);
    set_text(r, f, 2, "& ", WHOLE_TEXT);
    f.fix_begin = f.fix_end = f.at;
    return;
  }
}

// One statement of the script, at cleaned-text position `clean`.
void check_statement(script_reading& r, std::string_view s, std::size_t clean) {
  const std::string_view word = first_word(s);
  const bool is_goto = word_is(word, "goto");
  if (is_goto || word_is(word, "proc")) {
    std::string_view target = s.substr(word.size());
    std::size_t skip = 0;
    while (skip < target.size() && target[skip] == ' ') ++skip;
    check_target_name(r, target.substr(skip), clean + word.size() + skip, is_goto ? 0 : 1);
    return;
  }
  if (word_is(word, "btn")) {
    const std::size_t comma = s.find(',');
    if (comma == std::string_view::npos) return;
    std::string_view target = s.substr(word.size(), comma - word.size());
    std::size_t skip = 0;
    while (skip < target.size() && target[skip] == ' ') ++skip;
    target.remove_prefix(skip);
    while (!target.empty() && target.back() == ' ') target.remove_suffix(1);
    check_target_name(r, target, clean + word.size() + skip, 2);
    return;
  }
  if (is_print(word)) {
    check_missing_ampersand(r, s, clean, 1);
    return;
  }
  std::string_view name;
  if (!word_is(word, "if") && !word_is(word, "instr") && !word_is(word, "mavo") && is_assignment(s, name)) {
    const std::size_t eq = s.find('=');
    check_missing_ampersand(r, s.substr(eq), clean + eq, 0);
  }
}

}  // namespace

void check_statements(script_reading& r) {
  const std::string_view text = std::string_view(r.text).substr(0, r.script_end);
  piece_reader reader{text, r.bom};
  std::string_view piece;
  std::size_t at = 0;
  while (next_piece(reader, piece, at)) {
    std::size_t offset = 0;
    const std::string_view s = trim_piece(piece, offset);
    if (s.empty() || s.front() == ':') continue;
    check_statement(r, s, at + offset);
  }
  for (std::size_t i = 0; i < r.locations.size(); ++i) {
    const location& loc = r.locations[i];
    const std::string_view folded = location_name(r, i);
    if (folded.empty()) continue;
    const auto first = static_cast<std::size_t>(find_location(r, folded));
    if (first == i) continue;
    finding& f = add_finding(r, DUPLICATE_LOCATION, script_position(r, loc.at));
    set_text(r, f, 0, location_written(r, i));
    f.other = script_position(r, r.locations[first].at);
  }
}

namespace {

// Reports the script's `index`-th location as defined in the game's file `other` too.
finding& add_game_duplicate(script_reading& r, std::size_t index, const game_location& other,
                            std::uint8_t variant) {
  finding& f = add_finding(r, DUPLICATE_LOCATION, script_position(r, r.locations[index].at), variant);
  set_text(r, f, 0, location_written(r, index));
  set_text(r, f, 1, (*r.game_files)[other.file].path, WHOLE_TEXT);
  f.other = static_cast<std::size_t>(other.line);
  f.other_file = other.file + 1;
  return f;
}

}  // namespace

void check_game_duplicates(script_reading& r) {
  if (r.game == nullptr || r.game_files == nullptr) return;
  const std::vector<game_file_name>& files = *r.game_files;
  const game_file_name& self = files[r.game_file];
  // A script beside the mavo.qst written from it: said once, at its first location
  // there, with how many more it shares.
  if (!self.is_mavo_result && r.expanded > 0) {
    finding* told = nullptr;
    for (std::size_t i = 0; i < r.locations.size(); ++i) {
      const std::string_view name = location_name(r, i);
      if (name.empty() || static_cast<std::size_t>(find_location(r, name)) != i) continue;
      for (const game_location& l : game_locations_named(r, name)) {
        if (l.file == r.game_file || !files[l.file].is_mavo_result) continue;
        if (told != nullptr) {
          ++told->count[0];
        } else {
          told = &add_game_duplicate(r, i, l, 3);
        }
        break;
      }
    }
    if (told != nullptr) return;
  }
  for (std::size_t i = 0; i < r.locations.size(); ++i) {
    const std::string_view name = location_name(r, i);
    if (name.empty() || static_cast<std::size_t>(find_location(r, name)) != i) continue;
    for (const game_location& l : game_locations_named(r, name)) {
      if (l.file == r.game_file) continue;
      const game_file_name& other = files[l.file];
      // A script and a mavo.qst beside it are told in the script: as above when
      // mavo expands its buttons, else as two files of the game.
      if (self.is_mavo_result && !other.is_mavo_result) continue;
      const bool beside_result = !self.is_mavo_result && other.is_mavo_result;
      // UrqW reads the "_" files first, then the others; within either kind the
      // order of the zip decides, and the later file on the command line tells it.
      if (other.loaded_first && !self.loaded_first) {
        add_game_duplicate(r, i, l, 1);
      } else if (other.loaded_first == self.loaded_first && (l.file < r.game_file || beside_result)) {
        add_game_duplicate(r, i, l, 2);
      } else {
        continue;
      }
      break;
    }
  }
}
