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
  if (name.size() >= UINT32_MAX || body.size() >= UINT32_MAX) out_of_memory();
  const auto name_len = static_cast<std::uint32_t>(name.size());
  const auto body_len = static_cast<std::uint32_t>(body.size());
  const std::size_t size = size_add_or_exit(name.size(), body.size());
  if (size == 0) return {nullptr, 0, 0, key.hash, kind};
  char* copy = room_for(table, size);
  if (!name.empty()) std::memcpy(copy, name.data(), name.size());
  if (!body.empty()) std::memcpy(copy + name.size(), body.data(), body.size());
  return {copy, name_len, body_len, key.hash, kind};
}

// The slot that holds `name`, or the empty slot where it belongs.
template <typename Slot>
Slot& find_slot(const label_table& table, Slot* slots, std::size_t size, std::string_view name, std::uint32_t hash) {
  const std::size_t mask = size - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    Slot& s = slots[i];
    if (s.entry == 0 || (s.hash == hash && label_name(label_entry_at(table, s.entry - 1)) == name)) return s;
  }
}

// Room for one more entry at the end of the entry blocks.
label_entry& new_entry(label_table& table) {
  if (table.entry_count >= UINT32_MAX) out_of_memory();  // an index must fit in a slot
  if (table.entry_count % ENTRY_BLOCK == 0) table.entry_blocks.emplace_back(new label_entry[ENTRY_BLOCK]);
  return table.entry_blocks.back()[table.entry_count++ % ENTRY_BLOCK];
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
  for (std::size_t i = table.first_named; i < table.entry_count; ++i) filter_add(table.names, label_entry_at(table, i).hash);
}

// Puts every pending entry into its chain's index, oldest first, so that a newer
// equal name takes the slot of an older one. Each chain has room for them already.
void index_pending(label_table& table) {
  for (std::size_t i = 0; i < table.pending_count; ++i) {
    const label_pending& p = table.pending[i];
    label_chain& chain = table.chains[p.chain];
    label_chain::slot& s =
        find_slot(table, chain.slots.data(), chain.slots.size(), label_name(label_entry_at(table, p.entry - 1)), p.hash);
    if (s.entry == 0) ++chain.used;
    s = {p.entry, p.hash};
  }
  table.pending_count = 0;
}


constexpr std::uint64_t LOW_BYTES = 0x00FF00FF00FF00FFull;

// Adds the bytes of `word` into four 16-bit lanes, the even and the odd bytes
// apart, each lane cut back to 8 bits at once (only the sum modulo 256 counts), so
// that no lane ever carries into the next.
std::uint64_t add_bytes(std::uint64_t lanes, std::uint64_t word) {
  return (lanes + (word & LOW_BYTES) + ((word >> 8) & LOW_BYTES)) & LOW_BYTES;
}

std::uint8_t lanes_sum(std::uint64_t lanes) { return static_cast<std::uint8_t>((lanes * 0x0001000100010001ull) >> 48); }

}  // namespace

std::uint8_t label_hash(std::string_view name) { return label_key_of(name).chain; }

label_key label_key_of(std::string_view name) {
  // Eight bytes a step, for both hashes at once. The bytes left over are the top
  // ones of the name's last eight bytes; a name shorter than a word goes byte by byte.
  const std::size_t n = name.size();
  std::uint64_t lanes = 0;
  std::uint64_t h = n * 0x9E3779B97F4A7C15ull;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, name.data() + i, 8);
    lanes = add_bytes(lanes, word);
    h = (h ^ word) * 0xBF58476D1CE4E5B9ull;
    h ^= h >> 31;
  }
  std::uint64_t tail = 0;
  if (i < n && n >= 8 && std::endian::native == std::endian::little) {
    std::memcpy(&tail, name.data() + n - 8, 8);
    tail >>= 8 * (8 - (n - i));  // the bytes already added are the low ones
  } else {
    for (std::size_t j = 0; i + j < n; ++j)
      tail |= static_cast<std::uint64_t>(static_cast<unsigned char>(name[i + j])) << (8 * j);
  }
  lanes = add_bytes(lanes, tail);
  h = (h ^ tail) * 0x94D049BB133111EBull;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  return {name, lanes_sum(lanes), static_cast<std::uint32_t>(h)};
}

void label_table_clear(label_table& table) {
  for (label_chain& chain : table.chains) {
    std::vector<label_chain::slot>().swap(chain.slots);
    chain.used = 0;
  }
  table.pending_count = 0;
  std::vector<std::uint64_t>().swap(table.names.words);
  table.names_count = 0;
  table.first_named = table.entry_count;
}

const label_entry& label_add(label_table& table, std::string_view name, label_kind kind, std::string_view body) {
  return label_add(table, label_key_of(name), kind, body);
}

const label_entry& label_add(label_table& table, const label_key& key, label_kind kind, std::string_view body) {
  label_entry& entry = new_entry(table);
  entry = make_entry(table, key, kind, body);
  // The chain gets room for a whole batch now, and the slot the entry will take
  // starts coming from memory while the batch fills.
  label_chain& chain = table.chains[key.chain];
  while (4 * (chain.used + LABEL_BATCH) > 3 * chain.slots.size()) grow_chain(chain);
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(&chain.slots[key.hash & (chain.slots.size() - 1)], 1);
#endif
  table.pending[table.pending_count++] = {static_cast<std::uint32_t>(table.entry_count), key.hash, key.chain};
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
    if (p.hash == key.hash && p.chain == key.chain && label_name(label_entry_at(table, p.entry - 1)) == key.name)
      return &label_entry_at(table, p.entry - 1);
  }
  const std::vector<label_chain::slot>& slots = table.chains[key.chain].slots;
  if (slots.empty()) return nullptr;
  const label_chain::slot& s = find_slot(table, slots.data(), slots.size(), key.name, key.hash);
  return s.entry == 0 ? nullptr : &label_entry_at(table, s.entry - 1);
}

void label_table_release(label_table& table) {
  label_table_clear(table);
  std::vector<std::unique_ptr<label_entry[]>>().swap(table.entry_blocks);
  table.entry_count = 0;
  table.first_named = 0;
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
