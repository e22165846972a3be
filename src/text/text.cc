#include "text/text.h"

#include <cstdlib>
#include <cstring>
#include <new>

#ifdef __GLIBC__
#include <malloc.h>
#endif

void out_of_memory() { std::_Exit(1); }

void install_memory_rule() {
  std::set_new_handler(out_of_memory);
#ifdef __GLIBC__
  // Large blocks that are freed (an index outgrown, say) stay with the process for
  // the next ones, rather than going back to the system to be faulted in afresh.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the most glibc takes on a 64-bit machine
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
#endif
}

// The growth behind `alloc_or_exit`, out of line.
void grow_or_exit(script_text& text, std::size_t needed) {
  if (needed > text.max_size()) out_of_memory();
  std::size_t grown = text.capacity() < text.max_size() / 2 ? text.capacity() * 2 : text.max_size();
  text.reserve(needed > grown ? needed : grown);
}



std::uint32_t hash_bytes(std::string_view bytes, std::uint32_t seed) {
  // Eight bytes a step, each step folded in by a multiplication; the last, partial
  // word is the text's last eight bytes (or, for a text shorter than that, its
  // bytes packed one by one), and the length keeps "a" and "a\0" apart.
  std::uint64_t h = seed ^ (bytes.size() * 0x9E3779B97F4A7C15ull);
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes.data() + i, 8);
    h = (h ^ word) * 0xBF58476D1CE4E5B9ull;
    h ^= h >> 31;
  }
  std::uint64_t tail = 0;
  if (i == bytes.size()) {
    // nothing left over
  } else if (bytes.size() >= 8) {
    std::memcpy(&tail, bytes.data() + bytes.size() - 8, 8);
  } else {
    for (std::size_t j = 0; j < bytes.size(); ++j)
      tail |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[j])) << (8 * j);
  }
  h = (h ^ tail) * 0x94D049BB133111EBull;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  return static_cast<std::uint32_t>(h);
}

void filter_reset(hash_filter& filter, std::size_t count) {
  std::size_t words = 16;
  while (words * 8 < count && words < (std::size_t{1} << 26)) words *= 2;  // 64 bits a word, 8 a hash
  std::vector<std::uint64_t>(words).swap(filter.words);
}
