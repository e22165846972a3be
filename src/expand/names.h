// Generated label names: composed from a button's label and caption, cleaned, kept
// clear of every label in the table, and shared between blocks of equal actions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "labels/labels.h"

constexpr std::string_view NAME_PREFIX = "mavo_";

// What is known of one base name's suffix climb. Taken names stay taken (entries
// are never removed), so a climb can resume where the last one stopped.
struct name_climb {
  const label_entry* base;    // the entry that took the base name itself: its name is the key
  std::uint64_t next_suffix;  // every candidate before this one is taken
  std::uint32_t hash;         // of the base name
};

// A generated block passed on a climb, to be found again by the climb and its actions.
struct shared_block {
  const label_entry* entry;  // nullptr: an empty slot
  std::uint32_t climb;       // the climb's index
  std::uint32_t hash;        // of the climb and the actions
};

// The run's memory of past climbs, so that the n-th button of one base does not
// try n names again. Only bases whose own name turned out taken get a climb. Both
// indexes are open-addressing tables, a power of two in size, the climbs at most
// half full, the shared blocks at most three quarters.
struct name_cache {
  std::vector<name_climb> climbs;
  std::vector<std::uint32_t> climb_slots;  // a climb's index + 1; 0: empty
  // For each climb, the first generated block passed on it with given actions.
  std::vector<shared_block> shared;
  std::size_t shared_used = 0;
  hash_filter shared_hashes;  // the hash of every block in `shared`, to pass over new actions at once
  std::string base;       // scratch: the cleaned base name of the current button, and room after it
  label_key base_key;     // ...with its hashes
  std::string candidate;  // scratch: the base name with a suffix
};

struct generated_name {
  const label_entry* entry;  // the block's table entry: its name and its actions
  bool is_new;               // the entry was added for this button
};

// Names the block of a button, in two steps so that other work can go on in
// between. The first composes and hashes the base name "mavo_<label>_<caption>"
// (cleaned). The second yields the first of that name, then the same with "[2]",
// "[3]", ..., that is free or already names a generated block with these very
// actions; a free name is added to the table with the actions as its body.
void begin_generated_name(name_cache& cache, std::string_view label, std::string_view caption);
generated_name make_generated_name(label_table& table, name_cache& cache, std::string_view actions);
