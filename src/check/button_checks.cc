// The checks of the action buttons, each as the expansion read it: where its
// block's "goto" leads, what its actions take in, and buttons it left as they are.
#include <algorithm>
#include <string>

#include "check/charset.h"
#include "check/script.h"

namespace {

bool has_newline(std::string_view s) { return s.find('\n') != std::string_view::npos; }

// The statements of a text of actions, each trimmed, in order; false at the end.
bool next_statement(piece_reader& reader, std::string_view& statement) {
  std::string_view piece;
  std::size_t at = 0;
  while (next_piece(reader, piece, at)) {
    std::size_t offset = 0;
    statement = trim_piece(piece, offset);
    if (!statement.empty()) return true;
  }
  return false;
}

bool actions_print(std::string_view actions) {
  piece_reader reader{actions};
  std::string_view s;
  while (next_statement(reader, s))
    if (is_print(first_word(s))) return true;
  return false;
}

// The variables a label reads with "#name$" or "#%name$", folded.
std::vector<std::string> label_variables(std::string_view label, bool utf8) {
  std::vector<std::string> names;
  for (std::size_t hash = label.find('#'); hash != std::string_view::npos; hash = label.find('#', hash + 1)) {
    const std::size_t dollar = label.find('$', hash + 1);
    if (dollar == std::string_view::npos) break;
    std::string_view name = label.substr(hash + 1, dollar - hash - 1);
    if (!name.empty() && name.front() == '%') name.remove_prefix(1);
    if (!name.empty() && name.find('#') == std::string_view::npos) names.push_back(fold_case(name, utf8));
  }
  return names;
}

// The first variable of `names` that the actions assign, or an empty string.
std::string assigned_variable(std::string_view actions, const std::vector<std::string>& names, bool utf8) {
  piece_reader reader{actions};
  std::string_view s;
  while (next_statement(reader, s)) {
    std::string_view name;
    const std::string_view word = first_word(s);
    if (word_is(word, "if") || word_is(word, "instr") || word_is(word, "input")) {
      if (word_is(word, "if")) continue;
      name = s.substr(word.size());
      name = name.substr(0, name.find('='));
      while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
      while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    } else if (!is_assignment(s, name)) {
      continue;
    }
    const std::string folded = fold_case(name, utf8);
    if (std::find(names.begin(), names.end(), folded) != names.end()) return folded;
  }
  return {};
}

// Whether the button stands in the "then" branch of an "if" on its line.
bool in_then_branch(script_reading& r, std::size_t clean) {
  const std::size_t next = then_after(r, clean);
  return next > 0 && clean < r.thens[next - 1].line_end;
}

// The "}" of a brace form lies past the next location line, or in the blocks.
void check_brace(script_reading& r, const button_cut& cut, std::size_t at, std::size_t keyword_clean) {
  const std::size_t brace = cut.end - 1;
  if (brace >= r.script_end) {
    add_finding(r, BRACE_RUNS_ON, at, 1);
    return;
  }
  const std::size_t after = location_after(r, keyword_clean);
  if (after < r.locations.size() && r.locations[after].at < brace) {
    const location* const next = &r.locations[after];
    finding& f = add_finding(r, BRACE_RUNS_ON, at);
    // The name as the author wrote it: the cleaned text is the expansion's by now.
    f.other = script_position(r, next->at);
    std::string_view name = line_around(r.source, f.other);
    while (!name.empty() && (name.front() == ' ' || name.front() == ':')) name.remove_prefix(1);
    set_text(r, f, 0, name);
  }
}

// Where the block's "goto" leads, and what waits there.
void check_target(script_reading& r, const button_cut& cut, std::size_t at, bool expanded) {
  const std::string_view label = cut.label;
  if (label.find('#') != std::string_view::npos) {
    if (!expanded) return;
    const std::vector<std::string> names = label_variables(label, r.utf8);
    const std::string changed = assigned_variable(label_body(*cut.block), names, r.utf8);
    if (!changed.empty()) {
      finding& f = add_finding(r, LABEL_SUBSTITUTION, at);
      // The label's own spelling of the variable.
      const std::string folded_label = fold_case(label, r.utf8);
      const std::size_t hash = folded_label.find(changed);
      std::size_t from = label.rfind('#', hash);
      std::size_t to = label.find('$', hash);
      set_text(r, f, 0, label.substr(from, to - from + 1), WHOLE_TEXT);
    }
    return;
  }
  const std::string_view folded = folded_name(r, label);
  const std::int64_t found = find_location(r, folded);
  if (found < 0) {
    if (location_elsewhere(r, folded)) return;  // what waits there is that file's to check
    const std::string_view word = first_word(label);
    std::string_view assigned;
    const bool command = is_command_word(word) || is_assignment(label, assigned) ||
                         word.find_first_of("+-=<>*/()") != std::string_view::npos;
    if (command) {
      finding& f = add_finding(r, TARGET_IS_COMMAND, at);
      set_text(r, f, 0, label);
    } else {
      finding& f = add_finding(r, TARGET_NOT_FOUND, at);
      set_text(r, f, 0, label);
      const std::size_t label_clean = clean_position(r, cut.label_begin);
      if (label_clean != NO_POSITION) suggest_location(r, f, label, label_clean);
    }
    return;
  }
  if (!expanded) return;
  const location& target = r.locations[static_cast<std::size_t>(found)];
  const std::string_view actions = label_body(*cut.block);
  const bool goto_changes_loc = r.mode == MODE_URQW || r.mode == MODE_RIPURQ;
  if (goto_changes_loc ? target.reads_previous_loc : target.reads_current_loc) {
    finding& f = add_finding(r, PREVIOUS_LOC, at, goto_changes_loc ? 0 : 1);
    set_text(r, f, 0, label);
    set_text(r, f, 1, MODE_NAMES[r.mode]);
  }
  if (target.clears_first && actions_print(actions)) {
    finding& f = add_finding(r, CLS_WIPES, at);
    set_text(r, f, 0, label);
  }
}

// A keyword that mavo left as it is where its author meant an action button.
void check_not_expanded(script_reading& r, const button_cut& cut, std::size_t at) {
  if (cut.kind == CUT_NOT_AT_START) {
    if (cut.at_text_start) {
      add_finding(r, NOT_EXPANDED, at, 0);
      return;
    }
    // For mavo a UTF-8 byte order mark is text like any other.
    if (r.bom != 0 && cut.before_len == 3 && std::string_view(cut.before, 3) == "\xEF\xBB\xBF") {
      add_finding(r, NOT_EXPANDED, at, 4);
      return;
    }
    if (cut.before_len != 5) return;
    const std::string_view word(cut.before, 5);
    const std::string lower = fold_case(word, false);
    if ((lower == " then" || lower == " else") && word != " then" && word != " else") {
      finding& f = add_finding(r, NOT_EXPANDED, at, 1);
      set_text(r, f, 0, word.substr(1), WHOLE_TEXT);
      set_text(r, f, 1, std::string_view(lower).substr(1), WHOLE_TEXT);
      // The fix writes the word in lower case, where it stands before the keyword.
      // (The script as read: the cleaned text belongs to the expansion by now.)
      const std::string_view src(r.source);
      std::size_t end = std::min(at, src.size());
      while (end > 0 && (src[end - 1] == ' ' || src[end - 1] == '\t')) --end;
      if (end >= 4 && src.substr(end - 4, 4) == word.substr(1)) {
        set_text(r, f, 2, std::string_view(lower).substr(1), WHOLE_TEXT);
        f.fix_begin = end - 4;
        f.fix_end = end;
      }
    }
    return;
  }
  add_finding(r, NOT_EXPANDED, at, cut.kind == CUT_NO_LABEL ? 2 : 3);
}

}  // namespace

void check_button(script_reading& r, const button_cut& cut) {
  const std::size_t keyword_clean = clean_position(r, cut.keyword);
  const bool expanded = cut.kind == CUT_LINE || cut.kind == CUT_BRACE;
  if (r.views != nullptr) {
    r.views->push_back({cut.kind, std::string(cut.label), std::string(cut.caption),
                        expanded ? std::string(cut.block->bytes, cut.block->name_len) : std::string()});
  }
  // A new block whose actions hold a keyword is searched in its turn: its place is kept.
  if (expanded && cut.is_new) {
    const std::string_view actions = label_body(*cut.block);
    if (actions.find("mavo ") != std::string_view::npos) {
      const std::size_t body = cut.block_at + 1 + cut.block->name_len + 1;
      r.blocks.push_back({body, actions.size(), clean_position(r, cut.actions_begin)});
    }
  }
  if (keyword_clean == NO_POSITION) {
    if (expanded && cut.is_new) r.new_blocks.push_back(NO_POSITION);
    return;
  }
  const std::size_t at = script_position(r, keyword_clean);
  if (expanded && cut.is_new) r.new_blocks.push_back(at);

  switch (cut.kind) {
    case CUT_NOT_AT_START:
    case CUT_NO_COMMA:
    case CUT_NO_LABEL:
      check_not_expanded(r, cut, at);
      return;
    case CUT_NO_BRACE:
    {
      finding& f = add_finding(r, UNCLOSED_BRACE, script_position(r, clean_position(r, cut.actions_begin - 1)));
      // The fix closes the actions at the end of the brace's line.
      // (A "}" already on that line closed an outer brace first: no edit there mends it.)
      const std::string_view src(r.source);
      std::size_t end = f.at;
      while (end < src.size() && src[end] != '\n' && src[end] != '\r') ++end;
      if (src.substr(f.at, end - f.at).find('}') == std::string_view::npos) {
        set_text(r, f, 2, "}", WHOLE_TEXT);
        f.fix_begin = f.fix_end = end;
      }
      return;
    }
    case CUT_PLAIN:
    case CUT_LINE:
    case CUT_BRACE:
      break;
  }
  if (has_newline(cut.label)) {
    finding& f = add_finding(r, LABEL_RUNS_ON, at);
    const std::size_t comma = clean_position(r, cut.label_end);
    if (comma != NO_POSITION) f.other = script_position(r, comma);
    return;
  }
  check_target(r, cut, at, expanded);
  if (!expanded) return;
  if (cut.kind == CUT_BRACE) {
    check_brace(r, cut, at, keyword_clean);
  } else if (in_then_branch(r, keyword_clean)) {
    const std::string_view actions = label_body(*cut.block);
    const std::size_t otherwise = actions.find(" else ");
    if (otherwise != std::string_view::npos && actions.substr(0, otherwise).find(" then ") == std::string_view::npos) {
      finding& f = add_finding(r, ELSE_SWALLOWED, at);
      set_text(r, f, 0, actions.substr(otherwise + 6));
    }
  }
}

void check_blocks(script_reading& r, const label_table& table) {
  // The new blocks, in the order they were made; each against the first earlier
  // one whose name folds to the same: other actions under it are a finding.
  std::vector<const label_entry*> entries;
  entries.reserve(r.new_blocks.size());
  for (std::size_t i = 0; i < table.entry_count; ++i) {
    const label_entry& e = label_entry_at(table, i);
    if (e.kind == LABEL_GENERATED) entries.push_back(&e);
  }
  if (entries.size() != r.new_blocks.size()) return;  // cannot happen: one entry per new block
  // The first block of each folded name.
  const std::size_t size = slot_count(entries.size());
  std::vector<name_slot> slots(size, {0, 0});
  std::string first_folded;
  for (std::size_t b = 0; b < entries.size(); ++b) {
    const label_entry& later = *entries[b];
    fold_case_into(label_name(later), r.utf8, r.folded);
    const std::uint32_t hash = hash_bytes(r.folded);
    for (std::size_t i = hash & (size - 1);; i = (i + 1) & (size - 1)) {
      if (slots[i].entry == 0) {
        slots[i] = {static_cast<std::uint32_t>(b + 1), hash};
        break;
      }
      if (slots[i].hash != hash) continue;
      const std::size_t a = slots[i].entry - 1;
      const label_entry& first = *entries[a];
      fold_case_into(label_name(first), r.utf8, first_folded);
      if (first_folded != r.folded) continue;
      const std::size_t at = r.new_blocks[b];
      if (label_body(first) != label_body(later) && at != NO_POSITION) {
        finding& f = add_finding(r, BLOCKS_DIFFER_IN_CASE, at);
        set_text(r, f, 0, label_name(later));
        set_text(r, f, 1, label_name(first));
        f.other = r.new_blocks[a];
      }
      break;
    }
  }
}
