#include "labels/labels.h"

#include <cstring>

std::uint8_t label_hash(std::string_view name) {
  std::uint8_t sum = 0;
  for (const char c : name) sum = static_cast<std::uint8_t>(sum + static_cast<unsigned char>(c));
  return sum;
}

void label_table_clear(label_table& table) {
  for (auto& chain : table.chains) chain.clear();
}

const label_entry& label_add(label_table& table, std::string_view name, label_kind kind,
                             std::string body) {
  // Names longer than the entry's 32-bit length field cannot be represented.
  if (name.size() > UINT32_MAX) out_of_memory();
  label_entry& entry = table.entries.emplace_back(
      label_entry{static_cast<std::uint32_t>(name.size()), std::string(name), kind, std::move(body)});
  table.chains[label_hash(name)].insert_or_assign(std::string_view(entry.name), &entry);
  return entry;
}

const label_entry* label_find(const label_table& table, std::string_view name) {
  const auto& chain = table.chains[label_hash(name)];
  const auto found = chain.find(name);
  return found == chain.end() ? nullptr : found->second;
}

void label_table_release(label_table& table) {
  label_table_clear(table);
  std::deque<label_entry>().swap(table.entries);
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
    label_add(table, std::string_view(t + start, end - start), LABEL_SOURCE, std::string());
    pos = end + 1;
  }
}
