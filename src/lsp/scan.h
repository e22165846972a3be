// What the editor's features need of a script, read from its text as the editor
// holds it (UTF-8): its locations, and every jump to one (goto, proc, btn, mavo and
// UrqW's [[caption|target]] links), each with the bytes of its name. Comments are
// passed over as the clean-up removes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum jump_kind : std::uint8_t { JUMP_GOTO, JUMP_PROC, JUMP_BTN, JUMP_MAVO, JUMP_LINK };

struct script_name {
  std::size_t at, size;  // the name's bytes in the text
  std::string folded;    // letter case folded as interpreters fold it
};

struct script_jump {
  script_name target;
  jump_kind kind;
  bool substituted;   // the target holds a "#...$": known only when the game runs
  std::size_t statement_at, statement_size;  // the whole statement
  std::string caption;                       // a button's caption, trimmed
};

struct script_outline {
  std::vector<script_name> locations;  // in order
  std::vector<std::size_t> location_end;  // where each one's body ends: the next location's line
  std::vector<script_jump> jumps;      // in order
};

void scan_script(std::string_view text, script_outline& out);

// The index of the location or jump whose name holds byte `offset` (its end
// counted in), or -1.
std::int64_t location_at(const script_outline& o, std::size_t offset);
std::int64_t jump_at(const script_outline& o, std::size_t offset);

// Whether a name can be a location's: no blank, ",", "&", "#" or "$", not empty.
bool valid_location_name(std::string_view name);
