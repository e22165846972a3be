#include "cleanup/cleanup.h"

#include <bit>
#include <cstring>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// A tab counts as a blank everywhere, since the clean-up turns every tab into one.
bool is_blank_or_tab(char c) { return c == BLANK || c == '\t'; }

// The bytes that can start a rule: everything else is copied as a run.
struct special_bytes {
  bool table[256] = {};
  constexpr special_bytes() {
    for (const char c : {'\n', '/', ';', '\t'}) table[static_cast<unsigned char>(c)] = true;
  }
  bool operator()(char c) const { return table[static_cast<unsigned char>(c)]; }
};
constexpr special_bytes is_special;

#ifdef __SSE2__
// Whether the special byte at `at` (before `end`) starts a rule that changes the
// text: a newline before a continuation line, a "/*" while a "*/" may still follow
// it, or a ";". Any other newline or "/" is copied like an ordinary byte.
bool starts_change(const char* at, const char* end, bool no_close_left) {
  if (*at == '\n') {
    const char* q = at + 1;
    while (q < end && is_blank_or_tab(*q)) ++q;
    return q < end && *q == '_';
  }
  if (*at == '/') return !no_close_left && end - at > 1 && at[1] == '*';
  return true;
}

// Copies bytes from `from` to `to <= from`, tabs turned into blanks, 16 at a time,
// up to the first one that starts a change, which is not copied; yields how many
// were copied. It stops 16 bytes before `end`. Bytes not yet read are never
// changed, except that, in place, their tabs may already become blanks.
std::size_t copy_blocks(const char* from, char* to, const char* end, bool no_close_left) {
  const char* const start = from;
  for (; end - from >= 16; from += 16, to += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    const __m128i tabs = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\t'));
    const __m128i blanked = _mm_xor_si128(bytes, _mm_and_si128(tabs, _mm_set1_epi8('\t' ^ BLANK)));
    const __m128i special = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')),
                                         _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('/')),
                                                      _mm_cmpeq_epi8(bytes, _mm_set1_epi8(';'))));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(special));
    while (mask != 0 && !starts_change(from + std::countr_zero(mask), end, no_close_left)) mask &= mask - 1;
    if (mask == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to), blanked);
      continue;
    }
    const auto i = static_cast<std::size_t>(std::countr_zero(mask));
    if (from - to >= 16 || from == to) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to), blanked);  // beyond i: unread bytes only get their tabs blanked, or none
    } else {
      char block[16];
      _mm_storeu_si128(reinterpret_cast<__m128i*>(block), blanked);
      std::memcpy(to, block, i);
    }
    return static_cast<std::size_t>(from - start) + i;
  }
  return static_cast<std::size_t>(from - start);
}
#endif

}  // namespace

// The text is read at `r` and written back at `w <= r`. Everything at or after `r`
// is still the original text, so each rule can look ahead in it exactly as if the
// bytes before had been deleted by moving the rest of the text forward.
std::size_t clean_source(script_text& text, cleanup_record* record) {
  char* const t = text.data();
  const std::size_t n = text.size();
  std::size_t r = 0;
  std::size_t w = 0;
  // Once a search for "*/" fails from some position, none can succeed later:
  // remembering that keeps a text full of unclosed "/*" linear.
  bool no_close_left = false;
  while (r < n) {
    // Copy the run up to the next byte that can start a rule, tabs turned into
    // blanks on the way, 16 bytes a step where the machine can: a block stored at
    // w <= r only covers bytes already loaded.
#ifdef __SSE2__
    {
      const std::size_t copied = copy_blocks(t + r, t + w, t + n, no_close_left);
      r += copied;
      w += copied;
    }
#endif
    while (r < n && !is_special(t[r])) t[w++] = t[r++];
    if (r == n) break;
    const char c = t[r];
    if (c == '\n') {
      std::size_t q = r + 1;
      while (q < n && is_blank_or_tab(t[q])) ++q;
      if (q < n && t[q] == '_') {
        if (record != nullptr) record->events.push_back({w, r, q + 1 - r, CLEAN_JOIN});
        r = q + 1;  // the newline, its blanks and the "_" go; look at what follows
        continue;
      }
    } else if (c == '/' && r + 1 < n && t[r + 1] == '*' && !no_close_left) {
      const std::size_t close = std::string_view(t + r + 2, n - (r + 2)).find("*/");
      if (close != std::string_view::npos) {
        if (record != nullptr) record->events.push_back({w, r, close + 4, CLEAN_BLOCK_COMMENT});
        r = r + 2 + close + 2;  // through the "/" of the first "*/"
        continue;
      }
      if (record != nullptr) record->events.push_back({w, r, 0, CLEAN_UNCLOSED});
      no_close_left = true;
    } else if (c == ';') {
      const void* nl = std::memchr(t + r, '\n', n - r);
      if (nl != nullptr) {
        const auto end = static_cast<std::size_t>(static_cast<const char*>(nl) - t);
        if (record != nullptr) record->events.push_back({w, r, end - r, CLEAN_LINE_COMMENT});
        r = end;
        continue;  // the newline that ends the comment is examined next
      }
    }
    t[w++] = c == '\t' ? BLANK : c;
    ++r;
  }
  text.resize(w);
  return w;
}

std::size_t source_position(const cleanup_record& record, std::size_t clean) {
  std::size_t hint = 0;
  return source_position(record, clean, hint);
}

std::size_t source_position(const cleanup_record& record, std::size_t clean, std::size_t& hint) {
  // The last deletion at or before `clean` tells how far the text had moved there;
  // `hint` is one past the last answer's.
  const std::vector<cleanup_event>& e = record.events;
  const std::size_t lo = upper_bound_from(e, &cleanup_event::clean, clean, hint);
  if (lo == 0) return clean;
  const cleanup_event& last = e[lo - 1];
  return clean - last.clean + last.source + last.length;
}
