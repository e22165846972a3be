// Generated label names: composed from a button's label and caption, cleaned, kept
// clear of every label in the table, and shared between blocks of equal actions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "labels/labels.h"

constexpr std::string_view NAME_PREFIX = "mavo_";

// What is known of one base name's suffix climb. Taken names stay taken (entries
// are never removed), so a climb can resume where the last one stopped.
struct name_climb {
  std::uint64_t next_suffix;  // every candidate before this one is taken
  std::uint32_t id;
};

// A base name's climb and one action text: the key of a block it may share.
struct shared_key {
  std::uint32_t climb_id;
  std::string_view actions;  // the body of a table entry, which never moves
  bool operator==(const shared_key&) const = default;
};

struct shared_key_hash {
  std::size_t operator()(const shared_key& key) const {
    return std::hash<std::string_view>()(key.actions) ^ static_cast<std::size_t>(key.climb_id * 0x9E3779B97F4A7C15ull);
  }
};

// The run's memory of past climbs, so that the n-th button of one base does not
// try n names again. Only bases whose own name turned out taken get a climb.
struct name_cache {
  std::unordered_map<std::string, name_climb> climbs;
  // For each climb, the first generated block passed on it with the given actions.
  std::unordered_map<shared_key, const label_entry*, shared_key_hash> shared;
  std::string base;       // scratch: the cleaned base name of the current button
  std::string candidate;  // scratch: the base name with a suffix
};

struct generated_name {
  const label_entry* entry;  // the block's table entry: its name and its actions
  bool is_new;               // the entry was added for this button
};

// Names the block of a button: the first of "mavo_<label>_<caption>" (cleaned),
// then the same with "[2]", "[3]", ..., that is free or already names a generated
// block with these very actions. A free name is added to the table with the
// actions as its body.
generated_name make_generated_name(label_table& table, name_cache& cache, std::string_view label,
                                   std::string_view caption, std::string_view actions);
