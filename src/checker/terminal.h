// The user's side of mavo-check's output: the language of its messages, and text
// written in the form the terminal shows right. Text arrives as UTF-8; on a
// Windows console it is written as such, whatever the console's code page.
#pragma once

#include <string_view>

#include "check/messages.h"

// Russian where the user's language is Russian (the locale on POSIX systems, the
// user interface language on Windows), English everywhere else.
message_language user_language();

// Writes UTF-8 text to standard output; false when it cannot be written.
bool write_output(std::string_view text);

// Writes UTF-8 text to standard error.
void write_error(std::string_view text);
