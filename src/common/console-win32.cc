// The console on Windows. A console that Windows made for this process alone (a
// double-click, a script dropped on the program in Explorer) has it as its one
// attached process; one opened by cmd, PowerShell or a .bat file has their process
// too. A redirected standard handle (a pipe, a file) is no console handle.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/console.h"
#include "common/files.h"
#include "common/pipeline.h"

namespace {

console_facts console_facts_now() {
  console_facts facts;
  DWORD ids[2];
  // The number of attached processes, even when more than fit in `ids`; 0 when
  // the process has no console.
  facts.process_count = GetConsoleProcessList(ids, 2);
  DWORD mode;
  facts.standard_handles_on_console = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) &&
                                      GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) &&
                                      GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode);
  facts.language = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_RUSSIAN ? UI_RUSSIAN : UI_ENGLISH;
  return facts;
}

// The current folder in UTF-8.
std::string current_folder() {
  std::wstring wide(MAX_PATH, L'\0');
  DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(wide.size()), wide.data());
  if (n >= wide.size()) {
    wide.resize(n);
    n = GetCurrentDirectoryW(static_cast<DWORD>(wide.size()), wide.data());
  }
  if (n == 0 || n >= wide.size()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(n), nullptr, 0, nullptr, nullptr);
  std::string folder(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(n), folder.data(), size, nullptr, nullptr);
  return folder;
}

// Keys that alone are no answer to "press any key": Shift, Ctrl, Alt, the Windows
// keys and the locks.
bool is_modifier(WORD key) {
  switch (key) {
    case VK_SHIFT: case VK_LSHIFT: case VK_RSHIFT:
    case VK_CONTROL: case VK_LCONTROL: case VK_RCONTROL:
    case VK_MENU: case VK_LMENU: case VK_RMENU:
    case VK_LWIN: case VK_RWIN:
    case VK_CAPITAL: case VK_NUMLOCK: case VK_SCROLL:
      return true;
    default:
      return false;
  }
}

// Writes UTF-8 text on the console behind `handle`, each LF as CR LF, whatever the
// console's code page.
void write_console(DWORD handle, const std::string& text) {
  std::fflush(nullptr);
  std::wstring wide;
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring decoded(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), decoded.data(), n);
  for (const wchar_t c : decoded) {
    if (c == L'\n') wide += L'\r';
    wide += c;
  }
  DWORD written;
  WriteConsoleW(GetStdHandle(handle), wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

// Writes the UTF-8 report on the console, then waits until a key is pressed (keys
// pressed during the run do not count) or the console is gone.
void show_and_wait(const std::string& report) {
  write_console(STD_OUTPUT_HANDLE, report);

  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  FlushConsoleInputBuffer(input);
  for (;;) {
    INPUT_RECORD record;
    DWORD read = 0;
    if (!ReadConsoleInputW(input, &record, 1, &read) || read == 0) return;
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
        !is_modifier(record.Event.KeyEvent.wVirtualKeyCode)) {
      return;
    }
  }
}

}  // namespace

void close_mavo_console(const run_facts& run) {
  const console_facts console = console_facts_now();
  const bool earlier = run.outcome == RUN_NOTHING_EXPANDED && path_present(RESULT_FILE);
  if (own_console(console)) {
    show_and_wait(mavo_report(run, current_folder(), earlier, console.language));
    return;
  }
  // A console that cmd or PowerShell opened: standard error is the console itself.
  DWORD mode;
  if (GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode)) {
    const std::string lines = outcome_lines(run, {}, earlier, console.language);
    if (!lines.empty()) write_console(STD_ERROR_HANDLE, lines);
  }
}

void close_check_console(int argc, int status) {
  const console_facts console = console_facts_now();
  if (own_console(console)) show_and_wait(check_report(argc, status, console.language));
}
