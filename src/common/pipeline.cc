#include "common/pipeline.h"

#include "cleanup/cleanup.h"
#include "expand/expand.h"
#include "labels/labels.h"

namespace {

void append_or_exit(script_text& text, std::string_view tail) {
  alloc_or_exit(text, size_add_or_exit(text.size(), tail.size()));
  text += tail;
}

}  // namespace

std::uint64_t transform_script(script_text& text, std::uint64_t* blocks) {
  append_or_exit(text, END_SENTINEL);
  clean_source(text);
  append_or_exit(text, BANNER);
  label_table table;
  collect_labels(text, table);
  const std::size_t source_labels = table.entry_count;
  const std::uint64_t count = expand_action_buttons(text, table);
  // The expansion adds one entry to the table for each new block, and no other.
  if (blocks != nullptr) *blocks = table.entry_count - source_labels;
  label_table_release(table);
  return count;
}
