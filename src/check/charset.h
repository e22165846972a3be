// The two encodings of scripts: UTF-8, and cp1251 for everything else. Letter case
// is folded as interpreters fold it, Latin and Cyrillic alike.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Whether all of `bytes` is well-formed UTF-8.
bool is_utf8(std::string_view bytes);

// `bytes` with every letter in lower case: Latin and Cyrillic, in UTF-8 when
// `utf8`, otherwise in cp1251.
std::string fold_case(std::string_view bytes, bool utf8);
// The same, into `out`, whose room is used again.
void fold_case_into(std::string_view bytes, bool utf8, std::string& out);
// Whether folding could change `bytes`: they hold a capital ASCII letter or a
// byte that is not ASCII.
bool needs_folding(std::string_view bytes);

// cp1251 bytes as UTF-8.
std::string cp1251_to_utf8(std::string_view bytes);

// The script's bytes as UTF-8 text: as they are when `utf8`, otherwise from cp1251.
inline std::string as_utf8(std::string_view bytes, bool utf8) {
  return utf8 ? std::string(bytes) : cp1251_to_utf8(bytes);
}
// The same, into `out`, whose room is used again.
void as_utf8_into(std::string_view bytes, bool utf8, std::string& out);

// How many characters the bytes hold: UTF-8 characters when `utf8`, else bytes.
std::size_t count_chars(std::string_view bytes, bool utf8);
