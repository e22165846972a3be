#include "text/text.h"

#include <cstdlib>
#include <new>

void out_of_memory() { std::_Exit(1); }

void install_memory_rule() { std::set_new_handler(out_of_memory); }

std::size_t size_add_or_exit(std::size_t a, std::size_t b) {
  if (a > static_cast<std::size_t>(-1) - b) out_of_memory();
  return a + b;
}

void alloc_or_exit(script_text& text, std::size_t needed) {
  if (needed <= text.capacity()) return;
  if (needed > text.max_size()) out_of_memory();
  std::size_t grown = text.capacity() < text.max_size() / 2 ? text.capacity() * 2 : text.max_size();
  text.reserve(needed > grown ? needed : grown);
}

script_text dup_span(std::string_view text, std::size_t start, std::size_t length) {
  return script_text(text.substr(start, length));
}

std::size_t skip_blanks(std::string_view text, std::size_t pos) {
  while (pos < text.size() && text[pos] == BLANK) ++pos;
  return pos;
}

std::size_t skip_blanks_back(std::string_view text, std::size_t start, std::size_t pos) {
  while (pos > start && text[pos] == BLANK) --pos;
  return pos;
}

std::uint32_t hash_bytes(std::string_view bytes, std::uint32_t seed) {
  std::uint32_t h = seed;
  for (const char c : bytes) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  h ^= h >> 16;
  h *= 0x85ebca6bu;
  h ^= h >> 13;
  h *= 0xc2b2ae35u;
  h ^= h >> 16;
  return h;
}
