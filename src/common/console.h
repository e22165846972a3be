// What a run says about itself when nobody may be reading a pipe: on a terminal,
// and in a console of the program's own.
//
// On a terminal (standard error is one; on Windows a console that cmd or
// PowerShell opened) a run of mavo that wrote mavo.qst, or found nothing to
// expand, ends with a line that says so; a pipe, a file or a script sees only what
// it always saw.
//
// A console of the program's own. On Windows a double-click, or a script dropped on
// the program in Explorer, starts it in a console window made for it alone, which
// closes the moment the program ends. Only then does a run end with a short report
// of what it did and "Press any key to close.", and wait for a key. Run from a
// console that was there before (cmd, PowerShell, a .bat file), through a pipe or
// with any standard handle redirected, a program writes what it always writes and
// waits for nothing.
//
// The decision and the reports are plain functions of the facts, the same on every
// platform; the platform part (console-win32.cc, console-posix.cc) reads the facts
// from the system and shows the report.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// How a run of mavo ended, for the report of a console of the program's own.
enum run_outcome : std::uint8_t {
  RUN_USAGE,             // no script named: the usage text was printed
  RUN_HELP,              // "--help": the usage text and what the program does
  RUN_VERSION,           // "--version"
  RUN_WRITTEN,           // mavo.qst was written
  RUN_NOTHING_EXPANDED,  // no action button with actions: nothing was written
  RUN_FAILED,            // a message was printed: status 1
};

struct run_facts {
  run_outcome outcome = RUN_USAGE;
  int arguments = 0;             // the arguments after the program's name
  const char* script = nullptr;  // the script's path as given (the last argument)
  std::uint64_t buttons = 0;     // action buttons expanded
  std::uint64_t blocks = 0;      // blocks made for them
};

// The language of the reports: Russian where the user interface is Russian.
enum ui_language : std::uint8_t { UI_ENGLISH, UI_RUSSIAN };

// What the system tells of the console a process runs in.
struct console_facts {
  std::uint32_t process_count = 0;           // processes attached to it; 0: no console at all
  bool standard_handles_on_console = false;  // input, output and error are all the console itself
  ui_language language = UI_ENGLISH;
};

// ---- the decision and the reports ----

// True when the console was made for this process alone (it is the one process
// attached to it) and no standard handle is redirected away from it.
bool own_console(const console_facts& console);

// The last part of a path, after its last "/" or "\".
std::string_view file_name_of(std::string_view path);

// The language of the messages on POSIX systems, from the locale's variables in the
// order that decides: the first of LC_ALL, LC_MESSAGES and LANG that is set and not
// empty; Russian when it starts with "ru". Each may be null.
ui_language locale_language(const char* lc_all, const char* lc_messages, const char* lang);

// What became of the script, one line each, UTF-8 with LF line ends: "mavo.qst
// written: N action buttons, M blocks" (with " in <folder>" after "written" when
// `folder` is not empty), or "nothing expanded: mavo.qst not written" followed, when
// `earlier_result` (a mavo.qst is in the folder), by "(the mavo.qst here is from an
// earlier run)"; in Russian when `language` says so. Empty for the other outcomes,
// whose output says it all. The terminal's line and the own console's report both
// come from here.
std::string outcome_lines(const run_facts& run, std::string_view folder, bool earlier_result,
                          ui_language language);

// The report that ends a run of mavo in its own console, UTF-8 with LF line ends:
// what became of the script (the usage text or a message that the run printed
// stays on the screen above it), an empty line and the closing line. `folder` is
// the current folder, where mavo.qst is written; `earlier_result` as for
// outcome_lines.
std::string mavo_report(const run_facts& run, std::string_view folder, bool earlier_result,
                        ui_language language);

// The same for mavo-check, whose findings are on the screen already: given no file
// (`argc` < 2), how to use it; given files and ending with `status` 0, that nothing
// was found; then the empty line and the closing line.
std::string check_report(int argc, int status, ui_language language);

// ---- the end of a run (the platform part) ----

// When the console is the program's own, shows the report on it and waits for a
// key; otherwise, when standard error is a terminal, writes the outcome's lines
// there; otherwise does nothing at all.
void close_mavo_console(const run_facts& run);
// When the console is the program's own, shows mavo-check's report on it and waits
// for a key; otherwise does nothing at all.
void close_check_console(int argc, int status);
