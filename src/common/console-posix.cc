// The console on POSIX systems: a program there is always started from a terminal,
// a shell script or another program that stays when it ends, never in a window
// that closes with it. So a run never ends with a report, and nothing is waited for;
// on a terminal, mavo says in one line what became of the script.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/console.h"
#include "common/files.h"
#include "common/pipeline.h"

void close_mavo_console(const run_facts& run) {
  if (run.outcome != RUN_WRITTEN && run.outcome != RUN_NOTHING_EXPANDED) return;
  if (isatty(STDERR_FILENO) != 1) return;
  const ui_language language =
      locale_language(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
  const bool earlier = run.outcome == RUN_NOTHING_EXPANDED && path_present(RESULT_FILE);
  const std::string lines = outcome_lines(run, {}, earlier, language);
  std::fwrite(lines.data(), 1, lines.size(), stderr);
}

void close_check_console(int, int) {}
