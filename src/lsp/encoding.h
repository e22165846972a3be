// A document's text, which the client sends as Unicode, in the game's encoding:
// UTF-8 as it is, or cp1251, one byte a character.
#pragma once

#include <string>
#include <string_view>

// UTF-8 text in cp1251: a character that cp1251 lacks becomes "?", so that every
// character stays one byte and the columns stay those of the text.
std::string utf8_to_cp1251(std::string_view utf8);
