#include <windows.h>

#include <cstdio>
#include <string>

#include "checker/terminal.h"

namespace {

// Writes to a console as UTF-16, so that every letter shows whatever the code
// page; false when `handle` is no console (a file or a pipe).
bool write_console(DWORD which, std::string_view text) {
  const HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetConsoleMode(handle, &mode)) return false;
  if (text.empty()) return true;
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  DWORD written = 0;
  return WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) != 0;
}

}  // namespace

message_language user_language() {
  return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_RUSSIAN ? LANGUAGE_RU : LANGUAGE_EN;
}

bool write_output(std::string_view text) {
  std::fflush(stdout);
  if (write_console(STD_OUTPUT_HANDLE, text)) return true;
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

void write_error(std::string_view text) {
  std::fflush(stderr);
  if (!write_console(STD_ERROR_HANDLE, text)) std::fwrite(text.data(), 1, text.size(), stderr);
}
