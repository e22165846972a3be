// Action-button expansion: every "mavo label,caption & actions" becomes a plain
// "btn" to a generated label, whose implementation block is appended to the text.
#pragma once

#include <cstdint>

#include "labels/labels.h"
#include "text/text.h"

constexpr std::string_view KEYWORD = "mavo ";

// Rewrites every action button of `text` and appends the new blocks at its end;
// yields the number of statements expanded (plain buttons are rewritten, not counted).
std::uint64_t expand_action_buttons(script_text& text, label_table& table);
