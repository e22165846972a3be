// Seeded generator of qst scripts for measurements: realistic rooms, and patterns
// that push single stages to their worst case. The same arguments give the same
// bytes on every platform and standard library.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// splitmix64: small, fast, and fully defined by its 64-bit state.
struct bench_rng {
  std::uint64_t state;

  std::uint64_t next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // A value in [0, n), n > 0; the slight bias of the modulo does not matter here.
  std::uint64_t below(std::uint64_t n) { return next() % n; }
  // True with a probability of `percent` in 100.
  bool chance(unsigned percent) { return below(100) < percent; }
};

// A script of `rooms` rooms, each a ":roomN" label with prose, continuation lines,
// comments of both kinds, tab indentation, plain buttons and about six action
// buttons in line form, brace form and conditional branches. Every room also has
// "mavo hall,Back to the hall & ..." with actions of its own.
std::string generate_rooms(std::uint64_t rooms, std::uint64_t seed);

// The names accepted by `generate_pattern`, in the order they are listed in help
// texts and reports, ended by nullptr.
extern const char* const PATTERN_NAMES[];

// Appends the adversarial pattern `name` at `count` statements to `out`; false
// when there is no pattern of that name.
bool generate_pattern(std::string_view name, std::uint64_t count, std::string& out);
