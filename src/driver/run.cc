#include "driver/run.h"

#include "cleanup/cleanup.h"
#include "driver/files.h"
#include "driver/io.h"
#include "expand/expand.h"
#include "labels/labels.h"

namespace {

void append_or_exit(script_text& text, std::string_view tail) {
  alloc_or_exit(text, size_add_or_exit(text.size(), tail.size()));
  text += tail;
}

}  // namespace

std::uint64_t transform_script(script_text& text) {
  append_or_exit(text, END_SENTINEL);
  clean_source(text);
  append_or_exit(text, BANNER);
  label_table table;
  collect_labels(text, table);
  const std::uint64_t count = expand_action_buttons(text, table);
  label_table_release(table);
  return count;
}

// The usage text opens with the date and time of the build. A reproducible build
// sets SOURCE_DATE_EPOCH, which the compiler then gives as that date and time (this
// file alone is built without the warning that these macros draw).
constexpr const char* USAGE = "Qor  " __DATE__ " " __TIME__ "\n\nmavo <qst-file>";

int run(int argc, char** argv) {
  if (argc < 2) {
    if (print_line(USAGE)) return 0;
    report_error("standard output");
    return 1;
  }
  const char* path = argv[argc - 1];
  script_text text;
  if (!read_script(path, text)) {
    report_error(path);
    return 1;
  }
  if (transform_script(text) == 0) return 0;
  if (!write_result(RESULT_FILE, text, END_SENTINEL)) {
    report_error(RESULT_FILE);
    return 1;
  }
  return 0;
}
