// The run's table of label names, and the stage that fills it from the script.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "text/text.h"

enum label_kind : std::uint8_t { LABEL_SOURCE = 0, LABEL_GENERATED = 1 };

struct label_entry {
  const char* bytes;       // the entry's own copy of its name, its body right after it
  std::uint32_t name_len;
  std::uint32_t body_len;  // of a generated block's action text; 0 for a source label
  std::uint32_t hash;      // of the name, as `label_key` has it
  label_kind kind;
};

inline std::string_view label_name(const label_entry& entry) { return {entry.bytes, entry.name_len}; }
inline std::string_view label_body(const label_entry& entry) { return {entry.bytes + entry.name_len, entry.body_len}; }

constexpr int LABEL_CHAINS = 256;

// One chain: every name whose byte sum falls on it. It is stored as an open-
// addressing index of its newest entries by name, so that a lookup costs the same
// however many names share the chain (anagrams always do).
struct label_chain {
  struct slot {
    std::uint32_t entry;  // the entry's index + 1; 0: empty
    std::uint32_t hash;   // of the entry's name, to pass over most other names at once
  };
  std::vector<slot> slots;  // a power of two in size, at most three quarters full
  std::size_t used = 0;
};

constexpr std::size_t LABEL_BATCH = 16;
constexpr std::size_t ENTRY_BLOCK = 4096;  // entries are kept in blocks of this many

// An entry added but not yet indexed by its chain.
struct label_pending {
  std::uint32_t entry;  // the entry's index + 1
  std::uint32_t hash;
  std::uint8_t chain;
};

// 256 chains chosen by `label_hash`; a name added again hides the older entry, so
// the newest equal name is the one found. New entries wait in a short list, newest
// last, and go into their chains a batch at a time, so that the slots of a whole
// batch come from memory at once rather than one after the other. Names and bodies
// live in large blocks that are released at once.
struct label_table {
  std::vector<std::unique_ptr<label_entry[]>> entry_blocks;  // every entry in order of adding; they never move
  std::size_t entry_count = 0;
  label_chain chains[LABEL_CHAINS];
  label_pending pending[LABEL_BATCH];
  std::size_t pending_count = 0;
  hash_filter names;            // the hash of every name indexed or pending
  std::size_t names_count = 0;  // how many entries the filter was told of
  std::size_t first_named = 0;  // the first entry added since the table was emptied
  std::vector<std::unique_ptr<char[]>> blocks;
  char* free_at = nullptr;
  std::size_t free_left = 0;
};

// The entry added `index`-th (from 0) since the table was made or released.
inline const label_entry& label_entry_at(const label_table& table, std::size_t index) {
  return table.entry_blocks[index / ENTRY_BLOCK][index % ENTRY_BLOCK];
}

// The sum of the name's bytes, taken as unsigned values, modulo 256.
std::uint8_t label_hash(std::string_view name);

// A name with its chain and its hash inside the chain, computed in one pass, so
// that a lookup and the add that may follow it hash the name only once.
struct label_key {
  std::string_view name;
  std::uint8_t chain;  // label_hash(name)
  std::uint32_t hash;  // places the name inside its chain
};

label_key label_key_of(std::string_view name);

// Makes every chain empty (the entries stay until the table is released).
void label_table_clear(label_table& table);

// Adds a new entry with its own copies of the name and the body (equal names are
// allowed; the newest is found first) and yields it. A name or a body of 4 GiB or
// more counts as running out of memory.
const label_entry& label_add(label_table& table, std::string_view name, label_kind kind, std::string_view body);
const label_entry& label_add(label_table& table, const label_key& key, label_kind kind, std::string_view body);

// The newest entry whose name equals `name` byte for byte, or nullptr.
const label_entry* label_find(const label_table& table, std::string_view name);
const label_entry* label_find(const label_table& table, const label_key& key);

// Releases every entry, its name and its body; every chain is left empty.
void label_table_release(label_table& table);

// Empties the table and records, for every line holding a ":", the rest of that
// line after its first ":" as a source label.
void collect_labels(const script_text& text, label_table& table);
