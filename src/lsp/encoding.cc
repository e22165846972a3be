#include "lsp/encoding.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include "check/charset.h"

namespace {

// The code points of cp1251's bytes 0x80 to 0xFF paired with the bytes, sorted.
using byte_table = std::array<std::pair<std::uint32_t, unsigned char>, 128>;

byte_table make_table() {
  byte_table table{};
  for (int b = 0x80; b <= 0xFF; ++b) {
    const std::string utf8 = cp1251_to_utf8(std::string(1, static_cast<char>(b)));
    std::uint32_t cp = 0xFFFD;
    if (utf8.size() == 2)
      cp = (static_cast<unsigned char>(utf8[0]) & 0x1Fu) << 6 | (static_cast<unsigned char>(utf8[1]) & 0x3Fu);
    else if (utf8.size() == 3)
      cp = (static_cast<unsigned char>(utf8[0]) & 0x0Fu) << 12 | (static_cast<unsigned char>(utf8[1]) & 0x3Fu) << 6 |
           (static_cast<unsigned char>(utf8[2]) & 0x3Fu);
    table[static_cast<std::size_t>(b - 0x80)] = {cp, static_cast<unsigned char>(b)};
  }
  std::sort(table.begin(), table.end());
  return table;
}

}  // namespace

std::string utf8_to_cp1251(std::string_view utf8) {
  static const byte_table table = make_table();
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++i;
      continue;
    }
    std::size_t n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    std::uint32_t cp = n == 4 ? lead & 0x07u : n == 3 ? lead & 0x0Fu : lead & 0x1Fu;
    std::size_t k = 1;
    for (; k < n && i + k < utf8.size() && (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80; ++k)
      cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3Fu);
    i += k;
    const auto it = std::lower_bound(table.begin(), table.end(), std::pair<std::uint32_t, unsigned char>{cp, 0});
    out += n == k && cp != 0xFFFD && it != table.end() && it->first == cp ? static_cast<char>(it->second) : '?';
  }
  return out;
}
