#include "expand/expand.h"

#include <cstddef>
#include <cstring>

#include "expand/names.h"

namespace {

constexpr std::string_view BLOCK_HEAD = ":%s\n%s";
constexpr std::string_view BLOCK_BODY = "%s\ngoto %s\nend\n\n";
constexpr std::string_view REPLACEMENT = "btn %s,%s";

constexpr std::size_t NOT_FOUND = static_cast<std::size_t>(-1);

// The text is kept in two parts: `done`, everything before the search position,
// final and never searched again; and `ahead`, the rest from `ahead[read]` on,
// with every new block appended at its end. A statement is replaced by moving
// `read` past it and appending its replacement to `done`, so each step costs only
// the bytes it touches. Bytes of `ahead` before `read` are dead.
struct split_text {
  script_text done;
  script_text ahead;
  std::size_t read = 0;

  // The byte at position `pos` of `ahead`, or, for pos < read, of `done` just before it.
  char at(std::ptrdiff_t pos) const {
    const auto r = static_cast<std::ptrdiff_t>(read);
    return pos >= r ? ahead[static_cast<std::size_t>(pos)]
                    : done[done.size() - static_cast<std::size_t>(r - pos)];
  }
  // The position, counted like `at`, of the first byte of the whole text.
  std::ptrdiff_t start() const {
    return static_cast<std::ptrdiff_t>(read) - static_cast<std::ptrdiff_t>(done.size());
  }
};

// The first byte of a kind at or after a position of a text that only grows at
// its end, remembering its last answer: the searches of successive statements
// start at positions that never go back, so each byte is looked at about once.
struct forward_finder {
  std::size_t from = NOT_FOUND;  // where the remembered search started
  std::size_t at = 0;            // what it found, or the end of the text then
  bool found = false;
};

// The first '&' or newline: where a caption ends.
bool ends_caption(char c) { return c == '&' || c == '\n'; }

template <typename Match>
std::size_t find_forward(const script_text& text, forward_finder& finder, std::size_t pos, Match match) {
  std::size_t scan = pos;
  if (finder.from != NOT_FOUND && pos >= finder.from && pos <= finder.at) {
    if (finder.found) return finder.at;
    scan = finder.at;  // nothing up to the old end: look only at what was appended since
  } else {
    finder.from = pos;
  }
  while (scan < text.size() && !match(text[scan])) ++scan;
  finder.at = scan;
  finder.found = scan < text.size();
  return finder.found ? scan : NOT_FOUND;
}

std::size_t find_byte(const script_text& text, forward_finder& finder, std::size_t pos, char byte) {
  return find_forward(text, finder, pos, [byte](char c) { return c == byte; });
}

// The keyword at `k` starts a statement when the last non-blank byte before it is a
// newline or "&", or ends the word " then" or " else"; never at the text's start.
bool starts_statement(const split_text& t, std::size_t k) {
  const std::ptrdiff_t start = t.start();
  std::ptrdiff_t b = static_cast<std::ptrdiff_t>(k) - 1;
  if (b < start) return false;
  while (b > start && t.at(b) == BLANK) --b;
  const char last = t.at(b);
  if (last == '\n' || last == '&') return true;
  if (b - start < 4) return false;
  char word[5];
  for (int i = 0; i < 5; ++i) word[i] = t.at(b - 4 + i);
  return std::memcmp(word, " then", 5) == 0 || std::memcmp(word, " else", 5) == 0;
}

// Drops trailing blanks, then trailing newlines, from [begin, end).
std::size_t trim_actions(const script_text& text, std::size_t begin, std::size_t end) {
  while (end > begin && text[end - 1] == BLANK) --end;
  while (end > begin && text[end - 1] == '\n') --end;
  return end;
}

}  // namespace

std::uint64_t expand_action_buttons(script_text& text, label_table& table) {
  split_text t;
  t.ahead = std::move(text);
  name_cache names;
  // Room for a result of about twice the script, reserved at once: only the pages
  // written are ever touched, and the text is never copied to a larger buffer.
  alloc_or_exit(t.done, size_add_or_exit(t.ahead.size(), t.ahead.size() / 4 * 5));
  forward_finder comma, brace, caption_end;
  std::size_t label_comma = NOT_FOUND, label_end = 0;  // the last label's "," and where it ends
  std::uint64_t count = 0;
  std::size_t s = 0;
  for (;;) {
    script_text& ahead = t.ahead;
    const std::size_t k = std::string_view(ahead).find(KEYWORD, s);
    if (k == std::string_view::npos) break;
    s = k + KEYWORD.size();
    if (!starts_statement(t, k)) continue;

    // The label runs up to the first "," anywhere after the keyword, trailing blanks dropped.
    const std::size_t ls = skip_blanks(ahead, s);
    const std::size_t c = find_byte(ahead, comma, ls, ',');
    if (c == NOT_FOUND || c == ls) continue;  // no "," at all, or no label before it
    if (c != label_comma) {
      label_comma = c;
      label_end = c;
      while (label_end > ls && ahead[label_end - 1] == BLANK) --label_end;
    }

    // The caption runs, as written, up to the first "&" or newline.
    std::size_t e = find_forward(ahead, caption_end, c + 1, ends_caption);
    if (e == NOT_FOUND || ahead[e] != '&') {
      std::memcpy(&ahead[k], " btn", 4);  // a plain button, rewritten in place
      continue;
    }

    // The actions: a "{...}" block, or the rest of the line.
    const std::size_t a = skip_blanks(ahead, e + 1);
    std::size_t act_begin, act_end, f;
    if (a < ahead.size() && ahead[a] == '{') {
      act_begin = a + 1;
      act_end = find_byte(ahead, brace, act_begin, '}');
      if (act_end == NOT_FOUND) continue;  // never closed: left as it is
      f = act_end + 1;
    } else {
      act_begin = a;
      const void* nl = std::memchr(ahead.data() + a, '\n', ahead.size() - a);
      act_end = nl == nullptr ? ahead.size() : static_cast<std::size_t>(static_cast<const char*>(nl) - ahead.data());
      f = act_end;
    }
    act_end = trim_actions(ahead, act_begin, act_end);

    const std::string_view label(ahead.data() + ls, label_end - ls);
    const std::string_view caption(ahead.data() + c + 1, e - (c + 1));
    const std::string_view actions(ahead.data() + act_begin, act_end - act_begin);
    const generated_name name = make_generated_name(table, names, label, caption, actions);
    const std::string_view block_name = name.entry->name;

    // What lies before the statement is final now; the replacement follows it.
    std::size_t done_size = size_add_or_exit(t.done.size(), k - t.read);
    done_size = size_add_or_exit(done_size, template_fixed_len(REPLACEMENT));
    done_size = size_add_or_exit(done_size, size_add_or_exit(block_name.size(), caption.size()));
    alloc_or_exit(t.done, done_size);
    t.done.append(ahead, t.read, k - t.read);
    t.done += "btn ";
    t.done += block_name;
    t.done += ',';
    t.done += caption;

    if (name.is_new) {
      const std::string_view body = name.entry->body;
      std::size_t grown = size_add_or_exit(ahead.size(), template_fixed_len(BLOCK_HEAD) + template_fixed_len(BLOCK_BODY));
      grown = size_add_or_exit(grown, size_add_or_exit(block_name.size(), body.size()));
      alloc_or_exit(ahead, size_add_or_exit(grown, label_end - ls));
      // The label is copied from `ahead` itself: the room is already there, so the
      // bytes it is copied from stay where they are.
      ahead += ':';
      ahead += block_name;
      ahead += '\n';
      ahead += body;
      ahead += "\ngoto ";
      ahead.append(ahead.data() + ls, label_end - ls);
      ahead += "\nend\n\n";
    }
    t.read = f;
    s = f;
    ++count;
  }
  alloc_or_exit(t.done, size_add_or_exit(t.done.size(), t.ahead.size() - t.read));
  t.done.append(t.ahead, t.read, script_text::npos);
  text = std::move(t.done);
  return count;
}
