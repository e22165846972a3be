// The working text of a run and the small routines every stage shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#ifdef __SSE2__
#include <bit>
#include <emmintrin.h>
#endif

// The whole script as one growable byte string; its length is kept by the string
// itself, so NUL bytes are ordinary bytes and every search is by length.
using script_text = std::string;

// The only character that counts as a blank once tabs are gone.
constexpr char BLANK = ' ';

// Ends the run at once with the memory rule's status (1 unless the program set
// another) and no message: the memory rule.
[[noreturn]] void out_of_memory();

// Makes every failed allocation of the process (operator new, container growth)
// end the run through `out_of_memory` with `status`; with glibc, also keeps freed
// blocks for reuse.
void install_memory_rule(int status = 1);

// a + b, or the end of the run when the sum does not fit in a size_t.
inline std::size_t size_add_or_exit(std::size_t a, std::size_t b) {
  if (a > static_cast<std::size_t>(-1) - b) out_of_memory();
  return a + b;
}

// Makes room in `text` for `needed` bytes in all, growing geometrically so that a
// sequence of appends stays linear; sizes the string cannot hold end the run.
void grow_or_exit(script_text& text, std::size_t needed);
inline void alloc_or_exit(script_text& text, std::size_t needed) {
  if (needed > text.capacity()) grow_or_exit(text, needed);
}

// The first position at or after `pos` that does not hold a blank (or the end).
inline std::size_t skip_blanks(std::string_view text, std::size_t pos) {
  while (pos < text.size() && text[pos] == BLANK) ++pos;
  return pos;
}

// The first byte equal to `a` or `b` at or after `from`, or the end. The searches
// of a statement are short, so 16 bytes a step beats a call to memchr.
inline std::size_t find_either(std::string_view text, std::size_t from, char a, char b) {
#ifdef __SSE2__
  for (; from + 16 <= text.size(); from += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + from));
    const auto found = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(a)), _mm_cmpeq_epi8(bytes, _mm_set1_epi8(b)))));
    if (found != 0) return from + static_cast<std::size_t>(std::countr_zero(found));
  }
#endif
  while (from < text.size() && text[from] != a && text[from] != b) ++from;
  return from;
}

// The first element of `items` (in order of `field`) whose `field` lies past `p`,
// or the count of them. Tried first at and just after `hint`, the last answer, for
// callers whose positions mostly go forward; a binary search otherwise.
template <class T>
std::size_t upper_bound_from(const std::vector<T>& items, std::size_t T::*field, std::size_t p,
                             std::size_t& hint) {
  std::size_t lo = 0;
  std::size_t hi = items.size();
  if (hint <= items.size() && (hint == 0 || items[hint - 1].*field <= p)) {
    lo = hint;
    for (int step = 0; step < 4 && lo < items.size() && items[lo].*field <= p; ++step) ++lo;
    if (lo == items.size() || items[lo].*field > p) hi = lo;
  }
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (items[mid].*field <= p) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return hint = lo;
}

// A 32-bit hash of the bytes, every bit of it depending on every byte, for the
// run's hash tables. Only where names land in a table depends on it, never a result.
std::uint32_t hash_bytes(std::string_view bytes, std::uint32_t seed = 0);

// A set of 32-bit hashes that answers only "maybe" or "surely not", with one bit
// for each hash in a table of at least eight bits a hash: small enough to stay in
// the cache where the index it stands in front of does not, so that most lookups
// of a name that is not there never touch that index.
struct hash_filter {
  std::vector<std::uint64_t> words;  // a power of two in number; empty: holds nothing
};

inline bool filter_may_hold(const hash_filter& filter, std::uint32_t hash) {
  if (filter.words.empty()) return false;
  const std::size_t bit = hash & (filter.words.size() * 64 - 1);
  return (filter.words[bit / 64] >> (bit % 64)) & 1;
}

inline void filter_add(hash_filter& filter, std::uint32_t hash) {
  const std::size_t bit = hash & (filter.words.size() * 64 - 1);
  filter.words[bit / 64] |= std::uint64_t{1} << (bit % 64);
}

// Empties the filter and sizes it for `count` hashes.
void filter_reset(hash_filter& filter, std::size_t count);

// The number of characters an output template writes apart from its conversions
// (every "%" and the character after it are not counted).
constexpr std::size_t template_fixed_len(std::string_view format) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%') {
      ++i;
    } else {
      ++n;
    }
  }
  return n;
}
