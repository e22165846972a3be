// Source clean-up: tabs become blanks, comments go, continuation lines are joined.
#pragma once

#include <cstddef>

#include "text/text.h"

// Cleans `text` in place in one pass and yields its new length.
std::size_t clean_source(script_text& text);
