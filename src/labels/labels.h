// The run's table of label names, and the stage that fills it from the script.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

#include "text/text.h"

enum label_kind : std::uint8_t { LABEL_SOURCE = 0, LABEL_GENERATED = 1 };

struct label_entry {
  std::uint32_t name_len;
  std::string name;
  label_kind kind;
  std::string body;  // a generated block's action text; empty for a source label
};

constexpr int LABEL_CHAINS = 256;

// 256 chains chosen by `label_hash`. Each chain maps a name to the newest of its
// entries, so that a lookup costs the same however many names share the chain
// (anagrams always do), while the newest equal name is still the one found.
struct label_table {
  std::deque<label_entry> entries;  // every entry in order of adding; never moves
  std::unordered_map<std::string_view, const label_entry*> chains[LABEL_CHAINS];
};

// The sum of the name's bytes, taken as unsigned values, modulo 256.
std::uint8_t label_hash(std::string_view name);

// Makes every chain empty.
void label_table_clear(label_table& table);

// Adds a new entry (equal names are allowed; the newest is found first) and yields it.
const label_entry& label_add(label_table& table, std::string_view name, label_kind kind,
                             std::string body);

// The newest entry whose name equals `name` byte for byte, or nullptr.
const label_entry* label_find(const label_table& table, std::string_view name);

// Releases every entry, its name and its body; every chain is left empty.
void label_table_release(label_table& table);

// Empties the table and records, for every line holding a ":", the rest of that
// line after its first ":" as a source label.
void collect_labels(const script_text& text, label_table& table);
