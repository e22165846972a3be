// mavo-check's reading of one script: the script as read, the text as the stages
// made it, and what the checks look up in it (the locations, where each place of
// the stages' text came from).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "check/findings.h"
#include "cleanup/cleanup.h"
#include "expand/expand.h"
#include "labels/labels.h"
#include "text/text.h"

// A location: a line whose first non-blank byte is ":", as interpreters read them.
// Its name, what follows the ":" with letter case folded and blanks at the ends
// dropped, is kept with the others (`location_name`).
struct location {
  std::size_t at;              // where its ":" stands in the cleaned text
  std::size_t body_end;        // where the next location's line starts (or the script ends)
  bool reads_previous_loc;     // its lines read previous_loc...
  bool reads_current_loc;      // ...or current_loc
  bool clears_first;           // a "cls" comes before it prints, offers or waits for anything
};

// An appended block whose actions may hold keywords, so that a keyword found in
// it can be traced back to where its actions stood.
struct traced_block {
  std::size_t body;   // where its actions start in the searched text
  std::size_t size;   // their length
  std::size_t clean;  // where they were copied from, in the cleaned text
};

// The span of an "if ... then" on a line of the cleaned text: from its " then " to
// the end of the line.
struct then_span {
  std::size_t then;
  std::size_t line_end;
};

// A silencing comment's reach: findings of the named checks between the two
// script positions are not reported.
struct silence {
  std::size_t begin, end;
  std::uint32_t checks;  // a bit for each check_id
};

// A location of a game in several files: UrqW plays all the .qst files of a game
// together, so a name that one of them defines leads somewhere from the others.
struct game_location {
  std::string name;    // what follows the ":", folded as in its own file
  std::uint32_t file;  // which of the game's files defines it
  std::uint64_t line = 0;  // the line of its ":", as the file's editor counts them
  std::string written;     // the name as written there
};

// The game's files, as a checked script's findings name them: the path of each,
// whether UrqW loads it first (its name starts with "_"), and whether it is a
// mavo.qst.
struct game_file_name {
  std::string path;
  bool loaded_first = false;
  bool is_mavo_result = false;
};

// What the checker read of one keyword, kept only when a caller asks for it (the
// tests compare it with what the expansion wrote).
struct button_view {
  cut_kind kind;
  std::string label, caption;
  std::string block;  // the block led to, for an expanded statement
};

// A slot of an open-addressing index over names: 1 + the index of what it names
// (0: empty), and the name's hash, so that most other names are passed over at once.
struct name_slot {
  std::uint32_t entry;
  std::uint32_t hash;
};

// How many slots an index of `count` names takes: a power of two, at most two
// thirds of them full.
inline std::size_t slot_count(std::size_t count) {
  std::size_t size = 16;
  while (size < count + count / 2) size *= 2;
  return size;
}

// The names a misspelt one is compared with, made on first need: the script's
// locations, then those of the game's other files, each as letters (letter case
// folded, Cyrillic look-alikes taken as Latin), one after the other, with a mask
// of the letters each holds, so that most names are passed over at once.
struct suggestion_index {
  bool made = false;
  std::u32string letters;
  std::vector<std::uint32_t> starts;     // where each name starts in `letters`; one more for the end
  std::vector<std::uint64_t> masks;      // a bit for each letter (modulo 64) the name holds
  std::unordered_map<std::string, std::int64_t> asked;  // a folded name: the index of the name meant, or -1
  std::vector<std::size_t> rows;         // room for the distance's three rows
};

struct script_reading {
  check_mode mode = MODE_URQW;
  // Set by the caller: whether findings about mavo's reading are kept when no action
  // button is expanded (mavo then writes nothing), and the checks not to report.
  bool show_all = true;
  std::uint32_t disabled = 0;           // a bit for each check_id
  std::uint64_t left_out = 0;           // findings about mavo's reading left out, as `show_all` says
  std::uint64_t expanded = 0;           // action buttons that mavo expands
  bool utf8 = false;                    // the whole script is UTF-8 (else cp1251)
  std::size_t bom = 0;                  // the length of a UTF-8 byte order mark at its start (0 or 3)
  script_text source;                   // the script as read: CR LF as LF, up to a Ctrl-Z
  std::string ctrl_z_rest;              // what follows a Ctrl-Z on its line, to show it
  script_text text;                     // cleaned, with the banner; the expansion's afterwards
  cleanup_record cleanup;               // what the clean-up deleted
  std::size_t cleanup_hint = 0;         // where the last script position was found in `cleanup`
  std::size_t script_end = 0;           // where the cleaned script ends (its end sentinel starts)
  std::size_t searched_end = 0;         // where the expansion's searched text first ended
  std::vector<location> locations;      // every location line, in order
  std::vector<name_slot> location_slots;      // by folded name: its first definition (1 + its record)
  std::string location_names;                 // a record each: index and length (32 bits each), then the name
  std::vector<std::uint32_t> location_name_at;  // where each one's record starts
  std::string folded;                         // room for a name being folded
  std::vector<then_span> thens;         // in order
  std::size_t location_hint = 0;        // the last answers of `location_after`...
  std::size_t then_hint = 0;            // ...and of `then_after`
  std::vector<traced_block> blocks;     // in order
  std::vector<std::size_t> new_blocks;  // where the button of each new block stands in the script
  std::vector<silence> silences;
  suggestion_index suggestions;         // made on the first name that leads nowhere
  finding_list findings;
  std::string finding_texts;            // the texts of every finding, one after the other
  std::vector<button_view>* views = nullptr;  // when given: every keyword as read, in order
  const std::vector<game_location>* game = nullptr;  // when given: the locations of every file of
  std::uint32_t game_file = 0;                       //   the game, sorted by name; and which is this one
  const std::vector<game_file_name>* game_files = nullptr;  // when given: the names of those files
};

// ---- the statements of a line ----

// Cuts a text into statements as UrqW reads them: at "&" and at newlines, except
// that a statement starting with "if" runs to the end of its line. Its condition
// ends at the first " then "; its "then" branch at the first " else " after it, its
// "else" branch at the line's end; each branch is cut at "&" in turn, and a piece
// of a branch that starts with "if" is an "if" of its own. Each call yields the
// next piece and where it starts; false at the end.
enum if_part : std::uint8_t { IF_NONE, IF_CONDITION, IF_THEN, IF_ELSE };
struct piece_reader {
  std::string_view text;
  std::size_t pos = 0;
  if_part part = IF_NONE;  // where in an "if" statement the next piece stands
};
bool next_piece(piece_reader& reader, std::string_view& piece, std::size_t& piece_at);

// The piece without blanks (and a "{" or "}" of a brace form) at its ends.
std::string_view trim_piece(std::string_view piece, std::size_t& offset);

// The first word of a statement, up to a blank, as written.
std::string_view first_word(std::string_view statement);

// Whether `word` is `lower` (lower-case ASCII) in any letter case of its ASCII letters.
inline bool word_is(std::string_view word, std::string_view lower) {
  if (word.size() != lower.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    const char c = word[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c) != lower[i]) return false;
  }
  return true;
}

// The first position in [from, end) where " then " (or, with `or_else`, " else ")
// starts in `text`, or `end`.
std::size_t find_then(std::string_view text, std::size_t from, std::size_t end, bool or_else);

// Whether the statement assigns a value ("name = ..."), and to what name.
bool is_assignment(std::string_view statement, std::string_view& name);

// Whether the statement prints text ("p", "pln", "print", "println").
bool is_print(std::string_view word);

// Whether the word is one of the interpreter's commands.
bool is_command_word(std::string_view word);

// Whether the word is a statement that UrqW's player runs as a command when a
// button's target names no location (quit, end, cls, save, ...).
bool is_player_command(std::string_view word);

// ---- places ----

// The folded name in the location record at `record`, and of the `index`-th location.
inline std::string_view location_record_name(const script_reading& r, std::size_t record) {
  std::uint32_t length;
  std::memcpy(&length, r.location_names.data() + record + 4, 4);
  return std::string_view(r.location_names).substr(record + 8, length);
}
inline std::string_view location_name(const script_reading& r, std::size_t index) {
  return location_record_name(r, r.location_name_at[index]);
}

// The index of the first location named `name` (as folded), or -1.
std::int64_t find_location(const script_reading& r, std::string_view folded_name);
// A name as written with its letter case folded: `name` itself where folding
// changes nothing, else `r.folded`, valid until the next folding.
std::string_view folded_name(script_reading& r, std::string_view name);

// The locations of the game's files (this one's included) named `folded_name`.
std::span<const game_location> game_locations_named(const script_reading& r, std::string_view folded_name);
// Whether another file of the script's game defines a location `folded_name`.
bool location_elsewhere(const script_reading& r, std::string_view folded_name);
// Whether a location `name` (as written) is defined in the script or elsewhere in its game.
bool location_exists(script_reading& r, std::string_view name);

// The name of the `index`-th location as written, blanks at its ends dropped.
std::string_view location_written(const script_reading& r, std::size_t index);

// The edit distance of `a` and `b`, adjacent letters swapped counting as one edit,
// or `limit` + 1 once it is sure to exceed `limit`.
// `rows` is room for the work, kept between calls.
std::size_t edit_distance(std::u32string_view a, std::u32string_view b, std::size_t limit,
                          std::vector<std::size_t>& rows);

// For a finding on a name that leads nowhere, `name` as written at cleaned-text
// position `clean`: the nearest location of the game, when one is close enough
// to be a slip of the keyboard (letters swapped, one wrong, a Cyrillic letter
// that looks Latin), becomes its "%2" and its fix; its count[1] says whether the
// name mixes Latin and Cyrillic letters.
void suggest_location(script_reading& r, finding& f, std::string_view name, std::size_t clean);

// Appends the locations of a cleaned script, `file` of its game, to `out`.
void add_game_locations(std::string_view cleaned, bool utf8, std::size_t bom, std::uint32_t file,
                        std::vector<game_location>& out);

// The cleaned-text position that a position of the searched text came from, or
// NO_POSITION when it lies in a part the script did not write.
std::size_t clean_position(const script_reading& r, std::size_t searched);

// The first location whose ":" stands after cleaned-text position `clean`.
inline std::size_t location_after(script_reading& r, std::size_t clean) {
  return upper_bound_from(r.locations, &location::at, clean, r.location_hint);
}
// The first line's "then" after cleaned-text position `clean`.
inline std::size_t then_after(script_reading& r, std::size_t clean) {
  return upper_bound_from(r.thens, &then_span::then, clean, r.then_hint);
}

// The script position of a cleaned-text position.
inline std::size_t script_position(script_reading& r, std::size_t clean) {
  return source_position(r.cleanup, clean, r.cleanup_hint);
}

// The line of `text` around `pos`: from after the line end before it to the next
// line end (LF or CR).
std::string_view line_around(std::string_view text, std::size_t pos);

// How many characters a finding's text shows of a script's text; WHOLE_TEXT: all.
constexpr std::size_t SHORT_TEXT = 60;
constexpr std::size_t WHOLE_TEXT = 0;

// At most `limit` characters of `text`, with "..." where it was cut, appended to `out`.
void append_shortened(std::string& out, std::string_view text, bool utf8, std::size_t limit = SHORT_TEXT);
std::string shorten(std::string_view text, bool utf8, std::size_t limit = SHORT_TEXT);

// Adds a finding.
finding& add_finding(script_reading& r, check_id id, std::size_t at, std::uint8_t variant = 0);

// Sets the finding's "%1" (`which` 0) or "%2" (1) to at most `limit` characters of
// `text`. A text of 4 GiB or more counts as running out of memory.
void set_text(script_reading& r, finding& f, int which, std::string_view text, std::size_t limit = SHORT_TEXT);
// The finding's "%1" (0) or "%2" (1).
inline std::string_view finding_text(const script_reading& r, const finding& f, int which) {
  return std::string_view(r.finding_texts).substr(f.text_at[which], f.text_len[which]);
}

// ---- the phases ----

// Reads what the script's lines hold: its locations and the "then" of each line.
void read_locations(script_reading& r);

// The checks on what the clean-up did, and the silencing comments it removed.
void check_cleanup(script_reading& r);

// The checks of one keyword as the expansion read it.
void check_button(script_reading& r, const button_cut& cut);

// The checks on the blocks made, once the expansion is over.
void check_blocks(script_reading& r, const label_table& table);

// The checks of the plain statements: "goto", "proc" and "btn" targets, locations
// defined twice, a missing "&".
void check_statements(script_reading& r);

// Locations that another file of the game defines too, once the expansion has
// told whether this script has action buttons.
void check_game_duplicates(script_reading& r);
