#include "labels/labels.h"

#include <bit>
#include <cstring>

namespace {

constexpr std::size_t BLOCK_SIZE = 1 << 20;
constexpr std::size_t FIRST_SLOTS = 16;

// Room for `size` bytes in the table's blocks, where they stay until the release.
// A long text gets a block of its own, so the current block goes on being filled.
char* room_for(label_table& table, std::size_t size) {
  if (size > BLOCK_SIZE / 4) {
    table.blocks.emplace_back(new char[size]);
    return table.blocks.back().get();
  }
  if (size > table.free_left) {
    table.blocks.emplace_back(new char[BLOCK_SIZE]);
    table.free_at = table.blocks.back().get();
    table.free_left = BLOCK_SIZE;
  }
  char* room = table.free_at;
  table.free_at += size;
  table.free_left -= size;
  return room;
}

// A new entry with copies of the name and the body, side by side in one room.
label_entry make_entry(label_table& table, const label_key& key, label_kind kind, std::string_view body) {
  const std::string_view name = key.name;
  const std::size_t size = size_add_or_exit(name.size(), body.size());
  if (size == 0) return {{}, kind, key.hash, {}};
  char* copy = room_for(table, size);
  if (!name.empty()) std::memcpy(copy, name.data(), name.size());
  if (!body.empty()) std::memcpy(copy + name.size(), body.data(), body.size());
  return {{copy, name.size()}, kind, key.hash, {copy + name.size(), body.size()}};
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

// Tells the filter of a new name; it is made anew, twice as large, from every entry
// added since the table was last emptied when it would hold more than it is sized for.
void note_name(label_table& table, std::uint32_t hash) {
  if (++table.names_count * 8 <= table.names.words.size() * 64) {
    filter_add(table.names, hash);
    return;
  }
  filter_reset(table.names, 2 * table.names_count);
  for (std::size_t i = table.first_named; i < table.entries.size(); ++i) filter_add(table.names, table.entries[i].hash);
}

// Puts every pending entry into its chain's index, oldest first, so that a newer
// equal name takes the slot of an older one.
void index_pending(label_table& table) {
  for (std::size_t i = 0; i < table.pending_count; ++i) {
    label_chain& chain = table.chains[table.pending[i].chain];
    while (2 * (chain.used + LABEL_BATCH) > chain.slots.size()) grow_chain(chain);
  }
#if defined(__GNUC__) || defined(__clang__)
  for (std::size_t i = 0; i < table.pending_count; ++i) {
    const label_chain& chain = table.chains[table.pending[i].chain];
    __builtin_prefetch(&chain.slots[table.pending[i].hash & (chain.slots.size() - 1)], 1);
  }
#endif
  for (std::size_t i = 0; i < table.pending_count; ++i) {
    const label_pending& p = table.pending[i];
    label_chain& chain = table.chains[p.chain];
    label_chain::slot& s =
        find_slot(table.entries, chain.slots.data(), chain.slots.size(), table.entries[p.entry - 1].name, p.hash);
    if (s.entry == 0) ++chain.used;
    s = {p.entry, p.hash};
  }
  table.pending_count = 0;
}

}  // namespace

std::uint8_t label_hash(std::string_view name) {
  // Eight bytes a step: the even and the odd bytes of a word are added into four
  // 16-bit lanes, each cut back to 8 bits at once (only the sum modulo 256
  // counts), so no lane ever carries into the next. The bytes left over are the
  // top ones of the last eight bytes of the name.
  constexpr std::uint64_t LOW_BYTES = 0x00FF00FF00FF00FFull;
  std::uint64_t lanes = 0;
  std::size_t i = 0;
  for (; i + 8 <= name.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, name.data() + i, 8);
    lanes = (lanes + (word & LOW_BYTES) + ((word >> 8) & LOW_BYTES)) & LOW_BYTES;
  }
  if (i < name.size() && name.size() >= 8 && std::endian::native == std::endian::little) {
    std::uint64_t word;
    std::memcpy(&word, name.data() + name.size() - 8, 8);
    word >>= 8 * (8 - (name.size() - i));  // the bytes already added are the low ones
    lanes = (lanes + (word & LOW_BYTES) + ((word >> 8) & LOW_BYTES)) & LOW_BYTES;
    i = name.size();
  }
  std::uint64_t sum = (lanes * 0x0001000100010001ull) >> 48;
  for (; i < name.size(); ++i) sum += static_cast<unsigned char>(name[i]);
  return static_cast<std::uint8_t>(sum);
}

label_key label_key_of(std::string_view name) { return {name, label_hash(name), hash_bytes(name)}; }

void label_table_clear(label_table& table) {
  for (label_chain& chain : table.chains) {
    std::vector<label_chain::slot>().swap(chain.slots);
    chain.used = 0;
  }
  table.pending_count = 0;
  std::vector<std::uint64_t>().swap(table.names.words);
  table.names_count = 0;
  table.first_named = table.entries.size();
}

const label_entry& label_add(label_table& table, std::string_view name, label_kind kind, std::string_view body) {
  return label_add(table, label_key_of(name), kind, body);
}

const label_entry& label_add(label_table& table, const label_key& key, label_kind kind, std::string_view body) {
  if (table.entries.size() >= UINT32_MAX) out_of_memory();  // an index must fit in a slot
  const label_entry& entry = table.entries.emplace_back(make_entry(table, key, kind, body));
  table.pending[table.pending_count++] = {static_cast<std::uint32_t>(table.entries.size()), key.hash, key.chain};
  note_name(table, key.hash);
  if (table.pending_count == LABEL_BATCH) index_pending(table);
  return entry;
}

const label_entry* label_find(const label_table& table, std::string_view name) {
  return label_find(table, label_key_of(name));
}

const label_entry* label_find(const label_table& table, const label_key& key) {
  if (!filter_may_hold(table.names, key.hash)) return nullptr;
  for (std::size_t i = table.pending_count; i-- > 0;) {
    const label_pending& p = table.pending[i];
    if (p.hash == key.hash && p.chain == key.chain && table.entries[p.entry - 1].name == key.name)
      return &table.entries[p.entry - 1];
  }
  const std::vector<label_chain::slot>& slots = table.chains[key.chain].slots;
  if (slots.empty()) return nullptr;
  const label_chain::slot& s = find_slot(table.entries, slots.data(), slots.size(), key.name, key.hash);
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
