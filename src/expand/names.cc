#include "expand/names.h"

#include <charconv>

namespace {

// Blank becomes "_", "#" becomes "[", "$" becomes "]"; every other byte stays.
char clean_name_byte(char c) {
  switch (c) {
    case ' ': return '_';
    case '#': return '[';
    case '$': return ']';
    default: return c;
  }
}

void compose_base(std::string& base, std::string_view label, std::string_view caption) {
  base.clear();
  base.reserve(size_add_or_exit(NAME_PREFIX.size() + 1, size_add_or_exit(label.size(), caption.size())));
  base += NAME_PREFIX;
  base += label;
  base += '_';
  base += caption;
  for (char& c : base) c = clean_name_byte(c);
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
  return entry.kind == LABEL_GENERATED && entry.body == actions;
}

generated_name add_block(label_table& table, std::string_view name, std::string_view actions) {
  return {&label_add(table, name, LABEL_GENERATED, std::string(actions)), true};
}

}  // namespace

generated_name make_generated_name(label_table& table, name_cache& cache, std::string_view label,
                                   std::string_view caption, std::string_view actions) {
  compose_base(cache.base, label, caption);
  const label_entry* found = label_find(table, cache.base);
  if (found == nullptr) return add_block(table, cache.base, actions);
  if (shares_actions(*found, actions)) return {found, false};

  const auto id = static_cast<std::uint32_t>(cache.climbs.size());
  name_climb& climb = cache.climbs.try_emplace(cache.base, name_climb{2, id}).first->second;
  const auto known = cache.shared.find(shared_key{climb.id, actions});
  if (known != cache.shared.end()) return {known->second, false};

  for (;;) {
    compose_candidate(cache.candidate, cache.base, climb.next_suffix++);
    found = label_find(table, cache.candidate);
    if (found == nullptr) {
      const generated_name made = add_block(table, cache.candidate, actions);
      cache.shared.try_emplace(shared_key{climb.id, made.entry->body}, made.entry);
      return made;
    }
    if (found->kind == LABEL_GENERATED) {
      cache.shared.try_emplace(shared_key{climb.id, found->body}, found);
      if (found->body == actions) return {found, false};
    }
  }
}
