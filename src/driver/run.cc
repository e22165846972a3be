#include "driver/run.h"

#include <cerrno>
#include <cstring>

#include "common/files.h"
#include "common/io.h"
#include "common/version.h"

// The usage text opens with the date and time of the build. A reproducible build
// sets SOURCE_DATE_EPOCH, which the compiler then gives as that date and time (this
// file alone is built without the warning that these macros draw).
constexpr const char* USAGE = "Qor  " __DATE__ " " __TIME__ "\n\nmavo <qst-file>";
// What "--help" adds to the usage text.
constexpr const char* HELP =
    "Expands the action buttons of a qst script into plain buttons and writes the "
    "result to mavo.qst in the current folder.";
constexpr const char* VERSION_LINE = "mavo " MAVO_VERSION;

namespace {

// Prints the usage text, "--help" or "--version" on standard output; yields the
// exit status.
int print_lines(run_facts& facts, run_outcome outcome, const char* first, const char* second) {
  facts.outcome = outcome;
  if (print_line(first) && (second == nullptr || print_line(second))) return 0;
  report_error("standard output");
  facts.outcome = RUN_FAILED;
  return 1;
}

}  // namespace

int run(int argc, char** argv, run_facts& facts) {
  facts = run_facts{};
  facts.arguments = argc < 1 ? 0 : argc - 1;
  if (argc < 2) return print_lines(facts, RUN_USAGE, USAGE, nullptr);
  const char* path = argv[argc - 1];
  facts.script = path;
  script_text text;
  if (!read_script(path, text)) {
    // A lone "--help" (or "-h") or "--version" is the option unless a file of that
    // name is there to be read.
    if (argc == 2 && errno == ENOENT) {
      if (std::strcmp(path, "--help") == 0 || std::strcmp(path, "-h") == 0) {
        return print_lines(facts, RUN_HELP, USAGE, HELP);
      }
      if (std::strcmp(path, "--version") == 0) return print_lines(facts, RUN_VERSION, VERSION_LINE, nullptr);
    }
    report_error(path);
    facts.outcome = RUN_FAILED;
    return 1;
  }
  facts.buttons = transform_script(text, &facts.blocks);
  if (facts.buttons == 0) {
    facts.outcome = RUN_NOTHING_EXPANDED;
    return 0;
  }
  if (!write_result(RESULT_FILE, text, END_SENTINEL)) {
    report_error(RESULT_FILE);
    facts.outcome = RUN_FAILED;
    return 1;
  }
  facts.outcome = RUN_WRITTEN;
  return 0;
}
