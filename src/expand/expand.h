// Action-button expansion: every "mavo label,caption & actions" becomes a plain
// "btn" to a generated label, whose implementation block is appended to the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "labels/labels.h"
#include "text/text.h"

constexpr std::string_view KEYWORD = "mavo ";

// Rewrites every action button of `text` and appends the new blocks at its end;
// yields the number of statements expanded (plain buttons are rewritten, not counted).
std::uint64_t expand_action_buttons(script_text& text, label_table& table);

// ---- the expansion one keyword at a time, for a reader of what it made ----

// What became of one keyword "mavo ".
enum cut_kind : std::uint8_t {
  CUT_NOT_AT_START,  // not at the start of a statement: left as it is
  CUT_NO_COMMA,      // no "," anywhere after it: left as it is
  CUT_NO_LABEL,      // the "," is the first non-blank byte after it: left as it is
  CUT_NO_BRACE,      // a "{" with no "}" anywhere after it: left as it is
  CUT_PLAIN,         // no "&" after the caption: rewritten in place into a plain "btn"
  CUT_LINE,          // an action button whose actions are the rest of its line
  CUT_BRACE,         // an action button whose actions lie between "{" and "}"
};

// One keyword as the expansion read it. Positions count in the searched text: the
// text as it was given, then each appended block in the order they were made
// (replacements do not move them). The parts are those the kind got to.
struct button_cut {
  cut_kind kind;
  std::size_t keyword;                     // the "m" of the keyword
  std::size_t label_begin, label_end;      // the label, trailing blanks dropped
  std::size_t caption_begin, caption_end;  // the caption, as written
  std::size_t actions_begin, actions_end;  // the actions, trimmed
  std::size_t end;                         // the first byte after the statement
  std::string_view label, caption;         // copies, valid until the next step
  bool at_text_start;                      // only blanks stand before the keyword
  char before[5];                          // the five bytes (fewer at the start) that end
  std::size_t before_len;                  //   at the last non-blank byte before the keyword
  const label_entry* block;                // CUT_LINE, CUT_BRACE: the block led to (name, actions)
  bool is_new;                             //   ...made for this button
  std::size_t block_at;                    //   ...and, when new, where its ":" line starts
};

struct expansion_state;

// An expansion in steps. Between `expansion_begin` and `expansion_end` the text
// belongs to the expansion.
struct expansion {
  std::unique_ptr<expansion_state> state;
  expansion();
  ~expansion();
};

void expansion_begin(expansion& run, script_text& text, label_table& table);
// Handles the next keyword and tells what it was; false when none is left.
bool expansion_step(expansion& run, button_cut& cut);
// Gives the whole text back and yields the number of statements expanded.
std::uint64_t expansion_end(expansion& run, script_text& text);
