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

// The characters of the bytes, as Unicode code points: UTF-8 ones when `utf8`
// (the bytes well-formed), else cp1251 ones.
std::u32string code_points(std::string_view bytes, bool utf8);

// How many characters the bytes hold: UTF-8 characters when `utf8`, else bytes.
std::size_t count_chars(std::string_view bytes, bool utf8);

// The length of the UTF-8 byte order mark that starts a UTF-8 script (0 or 3).
// UrqW's reading drops it, as editors do: the first line starts after it.
inline std::size_t byte_order_mark(std::string_view bytes, bool utf8) {
  return utf8 && bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
}
