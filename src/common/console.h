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

// The report that ends a run of mavo in its own console, UTF-8 with LF line ends:
// what became of the script (the usage text or a message that the run printed
// stays on the screen above it), an empty line and the closing line. `folder` is
// the current folder, where mavo.qst is written.
std::string mavo_report(const run_facts& run, std::string_view folder, ui_language language);

// The same for mavo-check, whose findings are on the screen already: given no file
// (`argc` < 2), how to use it; given files and ending with `status` 0, that nothing
// was found; then the empty line and the closing line.
std::string check_report(int argc, int status, ui_language language);

// ---- the end of a run (the platform part) ----

// When the console is the program's own, shows the report on it and waits for a
// key; otherwise does nothing at all.
void close_mavo_console(const run_facts& run);
void close_check_console(int argc, int status);
