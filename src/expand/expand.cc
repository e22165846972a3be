#include "expand/expand.h"

#include <bit>
#include <cstddef>
#include <cstring>
#include <string>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "expand/names.h"

namespace {

constexpr std::string_view BLOCK_HEAD = ":%s\n%s";
constexpr std::string_view BLOCK_BODY = "%s\ngoto %s\nend\n\n";
constexpr std::string_view REPLACEMENT = "btn %s,%s";
constexpr std::size_t BLOCK_FIXED = template_fixed_len(BLOCK_HEAD) + template_fixed_len(BLOCK_BODY);
constexpr std::size_t REPLACEMENT_FIXED = template_fixed_len(REPLACEMENT);

constexpr std::size_t NOT_FOUND = static_cast<std::size_t>(-1);

// The text is kept in one buffer, in two parts: at its front `done`, everything
// before the search position, final and never searched again; further on, behind a
// gap, the rest of the text, `ahead`, live from ahead position `read` on, with every
// new block appended at its end. Ahead position p is buffer byte p + shift. A
// statement is replaced by writing its replacement at the end of `done` and moving
// `read` past it, so each step costs only the bytes it touches; when a replacement
// does not fit in the gap, what lies ahead moves further on. The whole text is
// `done` followed by the live part of `ahead`.
struct split_text {
  script_text buffer;
  std::size_t done = 0;   // the number of final bytes at the front
  std::size_t shift = 0;  // always done <= read + shift
  std::size_t read = 0;

  // The text ahead, by ahead positions; the bytes before `read` are dead.
  std::string_view ahead() const { return std::string_view(buffer).substr(shift); }
  // The byte at ahead position `pos`, or, for pos < read, of `done` just before it.
  char at(std::ptrdiff_t pos) const {
    const auto r = static_cast<std::ptrdiff_t>(read);
    return pos >= r ? buffer[static_cast<std::size_t>(pos) + shift]
                    : buffer[done - static_cast<std::size_t>(r - pos)];
  }
  // The position, counted like `at`, of the first byte of the whole text.
  std::ptrdiff_t start() const { return static_cast<std::ptrdiff_t>(read) - static_cast<std::ptrdiff_t>(done); }
};

// The position of the first keyword at or after `from`, or npos.
std::size_t find_keyword(std::string_view text, std::size_t from) {
#ifdef __SSE2__
  // 16 positions a step: those with "m" and, two bytes on, "v" are compared whole.
  static_assert(KEYWORD.size() == 5 && KEYWORD[0] == 'm' && KEYWORD[2] == 'v');
  const char* const t = text.data();
  for (; from + 16 + KEYWORD.size() <= text.size(); from += 16) {
    const __m128i m = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t + from)), _mm_set1_epi8('m'));
    const __m128i v = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t + from + 2)), _mm_set1_epi8('v'));
    for (auto maybe = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(m, v))); maybe != 0; maybe &= maybe - 1) {
      const std::size_t at = from + static_cast<std::size_t>(std::countr_zero(maybe));
      if (t[at + 1] == KEYWORD[1] && t[at + 3] == KEYWORD[3] && t[at + 4] == KEYWORD[4]) return at;
    }
  }
#endif
  return text.find(KEYWORD, from);
}

// The first byte of a kind at or after a position of a text that only grows at
// its end, remembering its last answer: the searches of successive statements
// start at positions that never go back, so each byte is looked at about once.
struct forward_finder {
  std::size_t from = NOT_FOUND;  // where the remembered search started
  std::size_t at = 0;            // what it found, or the end of the text then
  bool found = false;
};

// The first byte equal to `a` or `b` at or after `pos`, or NOT_FOUND.
std::size_t find_forward(std::string_view text, forward_finder& finder, std::size_t pos, char a, char b) {
  std::size_t from = pos;
  if (finder.from != NOT_FOUND && pos >= finder.from && pos <= finder.at) {
    if (finder.found) return finder.at;
    from = finder.at;  // nothing up to the old end: look only at what was appended since
  } else {
    finder.from = pos;
  }
  finder.at = find_either(text, from, a, b);
  finder.found = finder.at < text.size();
  return finder.found ? finder.at : NOT_FOUND;
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
std::size_t trim_actions(std::string_view text, std::size_t begin, std::size_t end) {
  while (end > begin && text[end - 1] == BLANK) --end;
  while (end > begin && text[end - 1] == '\n') --end;
  return end;
}

// The searches of the stage, each remembering its last answer.
struct finders {
  forward_finder comma, brace, caption_end;
  std::size_t label_comma = NOT_FOUND;  // the "," of the last label cut...
  std::size_t label_end = 0;            // ...and where that label ends
};

// The parts of one statement, as positions in `ahead`.
struct statement {
  std::size_t label_begin, label_end;
  std::size_t caption_begin, caption_end;
  std::size_t actions_begin, actions_end;
  std::size_t end;  // the first byte after the statement
};

// Cuts the statement whose keyword starts at `k` into label, caption and actions.
cut_kind cut_statement(const split_text& t, finders& find, std::size_t k, statement& st) {
  const std::string_view ahead = t.ahead();
  if (!starts_statement(t, k)) return CUT_NOT_AT_START;

  // The label runs up to the first "," anywhere after the keyword, trailing blanks dropped.
  st.label_begin = skip_blanks(ahead, k + KEYWORD.size());
  const std::size_t c = find_forward(ahead, find.comma, st.label_begin, ',', ',');
  if (c == NOT_FOUND) return CUT_NO_COMMA;
  if (c == st.label_begin) return CUT_NO_LABEL;
  if (c != find.label_comma) {
    find.label_comma = c;
    find.label_end = c;
    while (find.label_end > st.label_begin && ahead[find.label_end - 1] == BLANK) --find.label_end;
  }
  st.label_end = find.label_end;

  // The caption runs, as written, up to the first "&" or newline.
  st.caption_begin = c + 1;
  st.caption_end = find_forward(ahead, find.caption_end, st.caption_begin, '&', '\n');
  if (st.caption_end == NOT_FOUND || ahead[st.caption_end] != '&') return CUT_PLAIN;

  // The actions: a "{...}" block, or the rest of the line.
  const std::size_t a = skip_blanks(ahead, st.caption_end + 1);
  if (a < ahead.size() && ahead[a] == '{') {
    st.actions_begin = a + 1;
    st.actions_end = find_forward(ahead, find.brace, st.actions_begin, '}', '}');
    if (st.actions_end == NOT_FOUND) return CUT_NO_BRACE;  // never closed: left as it is
    st.end = st.actions_end + 1;
    st.actions_end = trim_actions(ahead, st.actions_begin, st.actions_end);
    return CUT_BRACE;
  } else {
    st.actions_begin = a;
    st.actions_end = find_either(ahead, a, '\n', '\n');
    st.end = st.actions_end;  // the newline stays
  }
  st.actions_end = trim_actions(ahead, st.actions_begin, st.actions_end);
  return CUT_LINE;
}

// Widens the gap, by moving everything from ahead position `end` on further into
// the buffer, so that `len` more bytes of `done` fit before it. The move leaves
// room for more than this one replacement, so that moves stay rare.
void make_room(split_text& t, std::size_t len, std::size_t end) {
  const std::size_t limit = end + t.shift;
  const std::size_t needed = size_add_or_exit(t.done, len);
  if (needed <= limit) return;
  const std::size_t size = t.buffer.size();
  const std::size_t delta = size_add_or_exit(needed - limit, (size - limit) / 4 + 64);
  alloc_or_exit(t.buffer, size_add_or_exit(size, delta));
  t.buffer.resize(size + delta);
  std::memmove(t.buffer.data() + limit + delta, t.buffer.data() + limit, size - limit);
  t.shift += delta;
}

// Makes the text before the statement at `k` final and writes "btn <name>,<caption>"
// after it; the statement ends at `end`, where the text goes on.
void write_replacement(split_text& t, std::size_t k, std::size_t end, std::string_view name,
                       std::size_t caption_begin, std::size_t caption_end) {
  const std::size_t before = k - t.read;
  const std::size_t caption_len = caption_end - caption_begin;
  std::size_t len = size_add_or_exit(before, REPLACEMENT_FIXED);
  len = size_add_or_exit(len, size_add_or_exit(name.size(), caption_len));
  // The sources lie before `end`, which is all that the widening moves.
  const std::size_t from = t.read + t.shift;
  const std::size_t caption_from = caption_begin + t.shift;
  make_room(t, len, end);
  char* const b = t.buffer.data();
  std::memmove(b + t.done, b + from, before);
  char* const w = b + t.done + before;
  // The caption first: "btn <name>," may be written over where it was.
  std::memmove(w + 4 + name.size() + 1, b + caption_from, caption_len);
  std::memcpy(w, "btn ", 4);
  std::memcpy(w + 4, name.data(), name.size());
  w[4 + name.size()] = ',';
  t.done += len;
}

// Appends ":<name>", the actions, "goto <label>" and "end" at the end of the text;
// the label is at ahead positions [label_begin, label_end).
void append_block(split_text& t, const label_entry& block, std::size_t label_begin, std::size_t label_end) {
  script_text& buffer = t.buffer;
  const std::size_t label_len = label_end - label_begin;
  const std::size_t at = buffer.size();
  std::size_t size = size_add_or_exit(at, BLOCK_FIXED);
  size = size_add_or_exit(size, size_add_or_exit(block.name_len, block.body_len));
  size = size_add_or_exit(size, label_len);
  alloc_or_exit(buffer, size);
  buffer.resize(size);
  // The label is copied from the text itself, which the room made above leaves
  // where it is.
  char* w = buffer.data() + at;
  const auto put = [&w](std::string_view part) {
    if (part.empty()) return;
    std::memcpy(w, part.data(), part.size());
    w += part.size();
  };
  *w++ = ':';
  put(label_name(block));
  *w++ = '\n';
  put(label_body(block));
  std::memcpy(w, "\ngoto ", 6);
  w += 6;
  put(std::string_view(buffer.data() + label_begin + t.shift, label_len));
  std::memcpy(w, "\nend\n\n", 6);
}

// Puts the whole text, `done` and then the live part of `ahead`, into `text`.
void join_parts(split_text& t, script_text& text) {
  const std::size_t from = t.read + t.shift;
  const std::size_t tail = t.buffer.size() - from;
  std::memmove(t.buffer.data() + t.done, t.buffer.data() + from, tail);
  t.buffer.resize(t.done + tail);
  text = std::move(t.buffer);
}

}  // namespace

struct expansion_state {
  split_text t;
  name_cache names;
  finders find;
  statement st;
  label_table* table = nullptr;
  std::uint64_t count = 0;
  std::size_t k = std::string_view::npos;  // the next keyword
  std::string label, caption;              // a reader's copies of the last statement's parts
};

namespace {

// What a reader is told of a keyword that the stage left as it is or rewrote in place.
void tell_cut(const expansion_state& s, cut_kind kind, button_cut& cut) {
  const split_text& t = s.t;
  const statement& st = s.st;
  cut.kind = kind;
  cut.keyword = s.k;
  cut.block = nullptr;
  cut.is_new = false;
  const std::ptrdiff_t start = t.start();
  std::ptrdiff_t b = static_cast<std::ptrdiff_t>(s.k) - 1;
  while (b > start && t.at(b) == BLANK) --b;
  cut.at_text_start = b < start || t.at(b) == BLANK;
  cut.before_len = 0;
  if (!cut.at_text_start) {
    const std::ptrdiff_t from = b - 4 > start ? b - 4 : start;
    for (std::ptrdiff_t i = from; i <= b; ++i) cut.before[cut.before_len++] = t.at(i);
  }
  if (kind == CUT_NOT_AT_START || kind == CUT_NO_COMMA) return;
  cut.label_begin = st.label_begin;
  cut.label_end = st.label_end;
  cut.caption_begin = st.caption_begin;
  cut.caption_end = st.caption_end;
}

// The step behind both the whole expansion and a reader's steps: a reader is
// told what became of each keyword, in `cut`; the whole expansion passes nullptr
// and builds without the telling.
template <bool TELL>
inline bool step(expansion_state& s, button_cut* cut) {
  split_text& t = s.t;
  statement& st = s.st;
  const std::size_t k = s.k;
  if (k == std::string_view::npos) return false;
  const cut_kind kind = cut_statement(t, s.find, k, st);
  if (kind != CUT_LINE && kind != CUT_BRACE) {
    if (kind == CUT_PLAIN) std::memcpy(&t.buffer[k + t.shift], " btn", 4);  // in place, not counted
    if (TELL) {
      tell_cut(s, kind, *cut);
      if (kind != CUT_NOT_AT_START && kind != CUT_NO_COMMA) {
        const std::string_view ahead = t.ahead();
        s.label.assign(ahead.substr(st.label_begin, st.label_end - st.label_begin));
        cut->label = s.label;
        s.caption.assign(ahead.substr(st.caption_begin, st.caption_end - st.caption_begin));
        cut->caption = s.caption;
        if (kind == CUT_NO_BRACE) cut->actions_begin = st.actions_begin;  // right after the "{"
      }
    }
    s.k = find_keyword(t.ahead(), k + KEYWORD.size());
    return true;
  }
  const std::string_view ahead = t.ahead();
  const std::string_view label = ahead.substr(st.label_begin, st.label_end - st.label_begin);
  const std::string_view caption = ahead.substr(st.caption_begin, st.caption_end - st.caption_begin);
  if (TELL) {
    tell_cut(s, kind, *cut);
    s.label.assign(label);
    s.caption.assign(caption);
    cut->label = s.label;
    cut->caption = s.caption;
    cut->actions_begin = st.actions_begin;
    cut->actions_end = st.actions_end;
    cut->end = st.end;
  }
  begin_generated_name(s.names, label, caption);
  // The search resumes right after the statement. What lies there stays as it is,
  // so the next keyword is looked for at once, while the work of naming is still
  // in flight; only when none is found before the present end is the search
  // repeated in the blocks to come.
  const std::size_t old_end = ahead.size();
  std::size_t next = find_keyword(ahead, st.end);
  const generated_name name =
      make_generated_name(*s.table, s.names, ahead.substr(st.actions_begin, st.actions_end - st.actions_begin));
  if (TELL) {
    cut->block = name.entry;
    cut->is_new = name.is_new;
    cut->block_at = old_end;
  }
  // The block first: the replacement may be written over the label it copies.
  if (name.is_new) append_block(t, *name.entry, st.label_begin, st.label_end);
  write_replacement(t, k, st.end, label_name(*name.entry), st.caption_begin, st.caption_end);
  t.read = st.end;
  ++s.count;
  if (next == std::string_view::npos) {
    const std::size_t from = old_end < KEYWORD.size() ? st.end : old_end - KEYWORD.size() + 1;
    next = find_keyword(t.ahead(), from > st.end ? from : st.end);
  }
  s.k = next;
  return true;
}

void begin(expansion_state& s, script_text& text, label_table& table) {
  s.t.buffer = std::move(text);
  s.table = &table;
  s.count = 0;
  s.k = find_keyword(s.t.ahead(), 0);
}

}  // namespace

// Everything the loop calls in this file is built into it, as one loop would be:
// the steps a reader takes share the code but not its cost.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((flatten))
#endif
std::uint64_t expand_action_buttons(script_text& text, label_table& table) {
  expansion_state s;
  begin(s, text, table);
  while (step<false>(s, nullptr)) {
  }
  join_parts(s.t, text);
  return s.count;
}

expansion::expansion() = default;
expansion::~expansion() = default;

void expansion_begin(expansion& run, script_text& text, label_table& table) {
  run.state = std::make_unique<expansion_state>();
  begin(*run.state, text, table);
}

bool expansion_step(expansion& run, button_cut& cut) { return step<true>(*run.state, &cut); }

std::uint64_t expansion_end(expansion& run, script_text& text) {
  join_parts(run.state->t, text);
  const std::uint64_t count = run.state->count;
  run.state.reset();
  return count;
}
