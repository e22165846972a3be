#include "text/text.h"

#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <new>

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

int memory_rule_status = 1;

#if defined(__linux__) && defined(MADV_HUGEPAGE)
constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t{2} << 20;

// Asks for the whole huge pages inside [begin, begin + size) to be transparent huge
// pages, where the system gives them on request: the run's tables are read at
// random, and with small pages nearly every such read also misses the TLB. A hint
// only; nothing changes where it is refused.
void advise_huge(void* begin, std::size_t size) {
  const auto from = (reinterpret_cast<std::uintptr_t>(begin) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
  const auto to = (reinterpret_cast<std::uintptr_t>(begin) + size) & ~(HUGE_PAGE - 1);
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}
#else
void advise_huge(void*, std::size_t) {}
#endif

}  // namespace

void out_of_memory() { std::_Exit(memory_rule_status); }

void install_memory_rule(int status) {
  memory_rule_status = status;
  std::set_new_handler(out_of_memory);
#if defined(__GLIBC__) && defined(__linux__) && UINTPTR_MAX > 0xFFFFFFFFu
  // Large blocks that are freed (an index outgrown, say) stay with the process for
  // the next ones, rather than going back to the system to be faulted in afresh.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the most glibc takes on a 64-bit machine
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  // The tables of a run live in the heap: it is grown once, by a large pad, and
  // the pad is put on huge pages. Only address space is taken until it is used; if
  // it cannot be had (a tight limit), the heap just grows as it would have.
  constexpr std::size_t PAD = std::size_t{256} << 20;
  void* const before = sbrk(0);
  mallopt(M_TOP_PAD, static_cast<int>(PAD));
  static void* volatile grown;  // volatile: the compiler may not drop the pair below
  grown = std::malloc(1 << 20);
  mallopt(M_TOP_PAD, 128 << 10);  // the usual pad from now on
  void* const after = sbrk(0);
  std::free(grown);
  if (before != reinterpret_cast<void*>(-1) && after > before)
    advise_huge(before, static_cast<std::size_t>(static_cast<char*>(after) - static_cast<char*>(before)));
#endif
}

// The growth behind `alloc_or_exit`, out of line.
void grow_or_exit(script_text& text, std::size_t needed) {
  if (needed > text.max_size()) out_of_memory();
  std::size_t grown = text.capacity() < text.max_size() / 2 ? text.capacity() * 2 : text.max_size();
  text.reserve(needed > grown ? needed : grown);
  if (text.capacity() >= (std::size_t{8} << 20)) advise_huge(text.data(), text.capacity());
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
