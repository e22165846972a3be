#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "checker/terminal.h"

message_language user_language() {
  // The first of these that is set decides, as it does for messages everywhere.
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    return std::strncmp(value, "ru", 2) == 0 ? LANGUAGE_RU : LANGUAGE_EN;
  }
  return LANGUAGE_EN;
}

bool write_output(std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

void write_error(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); }
