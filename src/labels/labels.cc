#include "labels/labels.h"

#include <cstring>

namespace {

constexpr std::size_t BLOCK_SIZE = 1 << 20;
constexpr std::size_t FIRST_SLOTS = 16;

// The chain's byte sum and a hash of the whole name.
struct name_hashes {
  std::uint8_t chain;
  std::uint32_t full;
};

name_hashes hash_name(std::string_view name) { return {label_hash(name), hash_bytes(name)}; }

// A copy of `bytes` in the table's blocks, where it stays until the release. A
// long text gets a block of its own, so the current block goes on being filled.
std::string_view keep(label_table& table, std::string_view bytes) {
  if (bytes.empty()) return {};
  char* copy;
  if (bytes.size() > BLOCK_SIZE / 4) {
    table.blocks.emplace_back(new char[bytes.size()]);
    copy = table.blocks.back().get();
  } else {
    if (bytes.size() > table.free_left) {
      table.blocks.emplace_back(new char[BLOCK_SIZE]);
      table.free_at = table.blocks.back().get();
      table.free_left = BLOCK_SIZE;
    }
    copy = table.free_at;
    table.free_at += bytes.size();
    table.free_left -= bytes.size();
  }
  std::memcpy(copy, bytes.data(), bytes.size());
  return {copy, bytes.size()};
}

// The slot that holds `name`, or the empty slot where it belongs.
template <typename Slot>
Slot& find_slot(const std::deque<label_entry>& entries, Slot* slots, std::size_t size, std::string_view name,
                std::uint32_t hash) {
  const std::size_t mask = size - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    Slot& s = slots[i];
    if (s.entry == 0 || (s.hash == hash && entries[s.entry - 1].name == name)) return s;
  }
}

void grow_chain(label_chain& chain) {
  std::vector<label_chain::slot> old(chain.slots.empty() ? FIRST_SLOTS : 2 * chain.slots.size());
  old.swap(chain.slots);
  const std::size_t mask = chain.slots.size() - 1;
  for (const label_chain::slot& s : old) {
    if (s.entry == 0) continue;
    std::size_t i = s.hash & mask;  // every name in the index is distinct: only a free slot is looked for
    while (chain.slots[i].entry != 0) i = (i + 1) & mask;
    chain.slots[i] = s;
  }
}

}  // namespace

std::uint8_t label_hash(std::string_view name) {
  std::uint8_t sum = 0;
  for (const char c : name) sum = static_cast<std::uint8_t>(sum + static_cast<unsigned char>(c));
  return sum;
}

void label_table_clear(label_table& table) {
  for (label_chain& chain : table.chains) {
    std::vector<label_chain::slot>().swap(chain.slots);
    chain.used = 0;
  }
}

const label_entry& label_add(label_table& table, std::string_view name, label_kind kind, std::string_view body) {
  const name_hashes h = hash_name(name);
  label_chain& chain = table.chains[h.chain];
  if (2 * (chain.used + 1) > chain.slots.size()) grow_chain(chain);
  if (table.entries.size() >= UINT32_MAX) out_of_memory();  // an index must fit in a slot
  label_chain::slot& s = find_slot(table.entries, chain.slots.data(), chain.slots.size(), name, h.full);
  if (s.entry == 0) ++chain.used;
  const label_entry& entry = table.entries.emplace_back(label_entry{keep(table, name), kind, keep(table, body)});
  s = {static_cast<std::uint32_t>(table.entries.size()), h.full};
  return entry;
}

const label_entry* label_find(const label_table& table, std::string_view name) {
  const name_hashes h = hash_name(name);
  const std::vector<label_chain::slot>& slots = table.chains[h.chain].slots;
  if (slots.empty()) return nullptr;
  const label_chain::slot& s = find_slot(table.entries, slots.data(), slots.size(), name, h.full);
  return s.entry == 0 ? nullptr : &table.entries[s.entry - 1];
}

void label_table_release(label_table& table) {
  label_table_clear(table);
  std::deque<label_entry>().swap(table.entries);
  std::vector<std::unique_ptr<char[]>>().swap(table.blocks);
  table.free_at = nullptr;
  table.free_left = 0;
}

void collect_labels(const script_text& text, label_table& table) {
  label_table_clear(table);
  const char* const t = text.data();
  const std::size_t n = text.size();
  std::size_t pos = 0;
  while (pos < n) {
    const void* colon = std::memchr(t + pos, ':', n - pos);
    if (colon == nullptr) return;
    const std::size_t start = static_cast<std::size_t>(static_cast<const char*>(colon) - t) + 1;
    const void* nl = std::memchr(t + start, '\n', n - start);
    const std::size_t end = nl == nullptr ? n : static_cast<std::size_t>(static_cast<const char*>(nl) - t);
    label_add(table, std::string_view(t + start, end - start), LABEL_SOURCE, {});
    pos = end + 1;
  }
}
