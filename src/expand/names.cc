#include "expand/names.h"

#include <charconv>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

#ifndef __SSE2__
// The cleaning of each byte value, for machines without SSE2.
struct name_cleaning {
  char to[256];
  constexpr name_cleaning() : to() {
    for (int c = 0; c < 256; ++c) to[c] = static_cast<char>(c);
    to[static_cast<unsigned char>(' ')] = '_';
    to[static_cast<unsigned char>('#')] = '[';
    to[static_cast<unsigned char>('$')] = ']';
    to[static_cast<unsigned char>(',')] = '_';
  }
};
constexpr name_cleaning CLEANING;
#endif

// Cleans the `n` bytes at `at` in place: blank and "," become "_", "#" becomes
// "[", "$" becomes "]", every other byte stays. A "," left in the name would end
// the label operand of the "btn" line inside it. With SSE2 it goes 16 bytes a step and may
// rewrite up to 15 bytes after them, which the caller provides.
void clean_in_place(char* at, std::size_t n) {
#ifdef __SSE2__
  for (std::size_t i = 0; i < n; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + i));
    const __m128i fix = _mm_or_si128(
        _mm_or_si128(_mm_and_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')), _mm_set1_epi8(' ' ^ '_')),
                     _mm_and_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(',')), _mm_set1_epi8(',' ^ '_'))),
        _mm_or_si128(_mm_and_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('#')), _mm_set1_epi8('#' ^ '[')),
                     _mm_and_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('$')), _mm_set1_epi8('$' ^ ']'))));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at + i), _mm_xor_si128(bytes, fix));
  }
#else
  for (std::size_t i = 0; i < n; ++i) at[i] = CLEANING.to[static_cast<unsigned char>(at[i])];
#endif
}

// "mavo_<label>_<caption>", cleaned, as the first bytes of `base`, which holds 16
// more for the cleaning to run over; yields the name.
std::string_view compose_base(std::string& base, std::string_view label, std::string_view caption) {
  const std::size_t size = size_add_or_exit(NAME_PREFIX.size() + 1, size_add_or_exit(label.size(), caption.size()));
  if (base.size() < size_add_or_exit(size, 16)) base.resize(size + 16);  // never shrunk: no refill
  char* const w = base.data();
  std::memcpy(w, NAME_PREFIX.data(), NAME_PREFIX.size());
  if (!label.empty()) std::memcpy(w + NAME_PREFIX.size(), label.data(), label.size());
  w[NAME_PREFIX.size() + label.size()] = '_';
  if (!caption.empty()) std::memcpy(w + NAME_PREFIX.size() + label.size() + 1, caption.data(), caption.size());
  clean_in_place(w + NAME_PREFIX.size(), size - NAME_PREFIX.size());  // the prefix needs no cleaning
  return {w, size};
}

// The base name followed by "[suffix]".
void compose_candidate(std::string& candidate, std::string_view base, std::uint64_t suffix) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, suffix).ptr;
  candidate.assign(base);
  candidate += '[';
  candidate.append(digits, end);
  candidate += ']';
}

bool shares_actions(const label_entry& entry, std::string_view actions) {
  return entry.kind == LABEL_GENERATED && label_body(entry) == actions;
}

generated_name add_block(label_table& table, const label_key& key, std::string_view actions) {
  return {&label_add(table, key, LABEL_GENERATED, actions), true};
}

// Doubles an open-addressing index (value-initialised slots are empty) and puts
// every used slot back by its hash.
template <typename Slot, typename Used, typename Hash>
void grow_index(std::vector<Slot>& slots, Used used, Hash hash_of) {
  std::vector<Slot> old(slots.empty() ? 64 : 2 * slots.size());
  old.swap(slots);
  const std::size_t mask = slots.size() - 1;
  for (const Slot& s : old) {
    if (!used(s)) continue;
    std::size_t i = hash_of(s) & mask;
    while (used(slots[i])) i = (i + 1) & mask;
    slots[i] = s;
  }
}

// The climb of the base name `name`, whose hash in its `label_key` is `hash`, or
// nullptr when there is none yet.
name_climb* known_climb(name_cache& cache, std::string_view name, std::uint32_t hash) {
  if (cache.climb_slots.empty()) return nullptr;
  const std::size_t mask = cache.climb_slots.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const std::uint32_t slot = cache.climb_slots[i];
    if (slot == 0) return nullptr;
    name_climb& climb = cache.climbs[slot - 1];
    if (climb.hash == hash && label_name(*climb.base) == name) return &climb;
  }
}

// A new climb for the base name that `base` has taken.
name_climb& add_climb(name_cache& cache, const label_entry& base, std::uint32_t hash) {
  if (2 * (cache.climbs.size() + 1) > cache.climb_slots.size())
    grow_index(cache.climb_slots, [](std::uint32_t slot) { return slot != 0; },
               [&](std::uint32_t slot) { return cache.climbs[slot - 1].hash; });
  const std::size_t mask = cache.climb_slots.size() - 1;
  std::size_t i = hash & mask;
  while (cache.climb_slots[i] != 0) i = (i + 1) & mask;
  cache.climbs.push_back(name_climb{&base, 2, hash});
  cache.climb_slots[i] = static_cast<std::uint32_t>(cache.climbs.size());
  return cache.climbs.back();
}

// The hash under which blocks with these actions passed on climb `climb` are kept.
std::uint32_t shared_hash(std::uint32_t climb, std::string_view actions) { return hash_bytes(actions, climb); }

// The slot of the block with these actions passed on climb `climb`, or the empty
// slot where it belongs; `hash` is their `shared_hash`.
shared_block& find_shared(name_cache& cache, std::uint32_t climb, std::string_view actions, std::uint32_t hash) {
  if (4 * (cache.shared_used + 1) > 3 * cache.shared.size()) {
    grow_index(cache.shared, [](const shared_block& s) { return s.entry != nullptr; },
               [](const shared_block& s) { return s.hash; });
    filter_reset(cache.shared_hashes, cache.shared.size() * 3 / 4);
    for (const shared_block& s : cache.shared)
      if (s.entry != nullptr) filter_add(cache.shared_hashes, s.hash);
  }
  const std::size_t mask = cache.shared.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    shared_block& s = cache.shared[i];
    if (s.entry == nullptr) {
      s.climb = climb;
      s.hash = hash;
      return s;
    }
    if (s.hash == hash && s.climb == climb && label_body(*s.entry) == actions) return s;
  }
}

// Remembers that climb `climb` passed the generated block `entry`, unless a block
// with the same actions was passed earlier on it.
void remember_shared(name_cache& cache, std::uint32_t climb, const label_entry& entry, std::uint32_t hash) {
  shared_block& s = find_shared(cache, climb, label_body(entry), hash);
  if (s.entry != nullptr) return;
  s.entry = &entry;
  ++cache.shared_used;
  filter_add(cache.shared_hashes, hash);
}

}  // namespace

void begin_generated_name(name_cache& cache, std::string_view label, std::string_view caption) {
  cache.base_key = label_key_of(compose_base(cache.base, label, caption));
}

generated_name make_generated_name(label_table& table, name_cache& cache, std::string_view actions) {
  const label_key& base_key = cache.base_key;
  // A base with a climb is taken, for good, by the climb's base entry: no entry of
  // that name can be added after it, so it stays the newest.
  name_climb* known = known_climb(cache, base_key.name, base_key.hash);
  if (known == nullptr) {
    const label_entry* found = label_find(table, base_key);
    if (found == nullptr) return add_block(table, base_key, actions);
    if (shares_actions(*found, actions)) return {found, false};
    known = &add_climb(cache, *found, base_key.hash);
  } else if (shares_actions(*known->base, actions)) {
    return {known->base, false};
  }
  name_climb& climb = *known;

  const auto climb_index = static_cast<std::uint32_t>(&climb - cache.climbs.data());
  const std::uint32_t actions_hash = shared_hash(climb_index, actions);
  if (filter_may_hold(cache.shared_hashes, actions_hash)) {
    const shared_block& passed = find_shared(cache, climb_index, actions, actions_hash);
    if (passed.entry != nullptr) return {passed.entry, false};
  }
#if defined(__GNUC__) || defined(__clang__)
  // The block made below is remembered in this slot: it comes from memory meanwhile.
  if (!cache.shared.empty()) __builtin_prefetch(&cache.shared[actions_hash & (cache.shared.size() - 1)], 1);
#endif
  const label_entry* found;

  for (;;) {
    compose_candidate(cache.candidate, base_key.name, climb.next_suffix++);
    const label_key key = label_key_of(cache.candidate);
    found = label_find(table, key);
    if (found == nullptr) {
      const generated_name made = add_block(table, key, actions);
      remember_shared(cache, climb_index, *made.entry, actions_hash);
      return made;
    }
    if (found->kind == LABEL_GENERATED) {
      if (label_body(*found) == actions) {
        remember_shared(cache, climb_index, *found, actions_hash);
        return {found, false};
      }
      remember_shared(cache, climb_index, *found, shared_hash(climb_index, label_body(*found)));
    }
  }
}
