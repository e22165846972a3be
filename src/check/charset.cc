#include "check/charset.h"

#include <cstdint>
#include <cstring>

namespace {

// The code points of cp1251's bytes 0x80 to 0xFF (0x98 is unassigned: U+FFFD).
const std::uint16_t CP1251_HIGH[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    // 0xC0 to 0xFF: А to я
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C,
    0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429,
    0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436,
    0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443,
    0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

// The lower-case letter of each cp1251 byte.
struct cp1251_folding {
  unsigned char to[256];
  constexpr cp1251_folding() : to() {
    for (int c = 0; c < 256; ++c) to[c] = static_cast<unsigned char>(c);
    for (int c = 'A'; c <= 'Z'; ++c) to[c] = static_cast<unsigned char>(c + 32);
    for (int c = 0xC0; c <= 0xDF; ++c) to[c] = static_cast<unsigned char>(c + 32);  // А-Я
    const int pairs[][2] = {{0xA8, 0xB8}, {0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C},
                            {0x8D, 0x9D}, {0x8E, 0x9E}, {0x8F, 0x9F}, {0xA1, 0xA2}, {0xA3, 0xBC},
                            {0xA5, 0xB4}, {0xAA, 0xBA}, {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE}};
    for (const auto& p : pairs) to[p[0]] = static_cast<unsigned char>(p[1]);
  }
};
constexpr cp1251_folding CP1251_FOLD;

void put_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The length of the well-formed UTF-8 character at the start of `s`, or 0.
std::size_t utf8_length(std::string_view s) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = b(0);
  if (c < 0x80) return 1;
  std::size_t n;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  for (std::size_t i = 1; i < n; ++i)
    if ((b(i) & 0xC0) != 0x80) return 0;
  if (n == 3 && ((c == 0xE0 && b(1) < 0xA0) || (c == 0xED && b(1) >= 0xA0))) return 0;  // overlong, surrogate
  if (n == 4 && ((c == 0xF0 && b(1) < 0x90) || (c == 0xF4 && b(1) >= 0x90))) return 0;  // overlong, too large
  return n;
}

}  // namespace

bool is_utf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    // Runs of ASCII, sixteen bytes a step.
    while (i + 16 <= bytes.size()) {
      std::uint64_t words[2];
      std::memcpy(words, bytes.data() + i, 16);
      if (((words[0] | words[1]) & 0x8080808080808080ull) != 0) break;
      i += 16;
    }
    while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
    if (i == bytes.size()) break;
    const std::size_t n = utf8_length(bytes.substr(i));
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string fold_case(std::string_view bytes, bool utf8) {
  std::string out;
  fold_case_into(bytes, utf8, out);
  return out;
}

bool needs_folding(std::string_view bytes) {
  // Eight bytes a step, as `fold_case_into` finds its capitals.
  constexpr std::uint64_t HIGH = 0x8080808080808080ull;
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, bytes.data() + i, 8);
    if ((w & HIGH) != 0 || ((w + 0x3F3F3F3F3F3F3F3Full) & ~(w + 0x2525252525252525ull) & HIGH) != 0) return true;
  }
  for (; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x80 || (c >= 'A' && c <= 'Z')) return true;
  }
  return false;
}

void fold_case_into(std::string_view bytes, bool utf8, std::string& out) {
  out.resize(bytes.size());
  char* const o = out.data();
  if (!utf8) {
    for (std::size_t i = 0; i < bytes.size(); ++i)
      o[i] = static_cast<char>(CP1251_FOLD.to[static_cast<unsigned char>(bytes[i])]);
    return;
  }
  // Eight ASCII bytes a step: a byte from "A" to "Z" gains 0x20, found by adding
  // 0x3F (which reaches 0x80 from "A" on) and 0x25 (from "[" on) to every byte.
  constexpr std::uint64_t HIGH = 0x8080808080808080ull;
  std::uint64_t high = 0;
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, bytes.data() + i, 8);
    high |= w;
    if ((w & HIGH) != 0) break;  // the rest byte by byte
    const std::uint64_t upper = (w + 0x3F3F3F3F3F3F3F3Full) & ~(w + 0x2525252525252525ull) & HIGH;
    w |= upper >> 2;
    std::memcpy(o + i, &w, 8);
  }
  for (; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    high |= c;
    o[i] = static_cast<char>(c + (static_cast<unsigned char>(c - 'A') < 26 ? 32 : 0));
  }
  if ((high & HIGH) == 0) return;
  // A two-byte letter is folded when its first byte comes.
  for (i = 0; i < out.size(); ++i) {
    auto c = static_cast<unsigned char>(out[i]);
    if (c < 0x80) continue;
    if (i + 1 < out.size()) {
      auto d = static_cast<unsigned char>(out[i + 1]);
      if (c == 0xD0 && d >= 0x90 && d <= 0x9F) {  // А-П
        out[i + 1] = static_cast<char>(d + 0x20);
      } else if (c == 0xD0 && d >= 0xA0 && d <= 0xAF) {  // Р-Я
        out[i] = static_cast<char>(0xD1);
        out[i + 1] = static_cast<char>(d - 0x20);
      } else if (c == 0xD0 && d >= 0x80 && d <= 0x8F) {  // Ѐ-Џ
        out[i] = static_cast<char>(0xD1);
        out[i + 1] = static_cast<char>(d + 0x10);
      } else if (c == 0xC3 && d >= 0x80 && d <= 0x9E && d != 0x97) {  // Latin-1 letters
        out[i + 1] = static_cast<char>(d + 0x20);
      }
    }
  }
}

std::string cp1251_to_utf8(std::string_view bytes) {
  std::string out;
  as_utf8_into(bytes, false, out);
  return out;
}

void as_utf8_into(std::string_view bytes, bool utf8, std::string& out) {
  out.assign(bytes);
  if (utf8) return;
  std::size_t ascii = 0;
  while (ascii < bytes.size() && static_cast<unsigned char>(bytes[ascii]) < 0x80) ++ascii;
  if (ascii == bytes.size()) return;
  out.resize(ascii);
  for (const char ch : bytes.substr(ascii)) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      put_utf8(out, CP1251_HIGH[c - 0x80]);
    }
  }
}

std::size_t count_chars(std::string_view bytes, bool utf8) {
  if (!utf8) return bytes.size();
  std::size_t n = 0;
  for (const char c : bytes)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

std::u32string code_points(std::string_view bytes, bool utf8) {
  std::u32string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      out += c;
      ++i;
    } else if (!utf8) {
      out += CP1251_HIGH[c - 0x80];
      ++i;
    } else {
      // Well-formed UTF-8: the lead byte tells the length.
      const std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
      char32_t cp = c & (0x3F >> (n - 1));
      for (std::size_t k = 1; k < n && i + k < bytes.size(); ++k)
        cp = cp << 6 | (static_cast<unsigned char>(bytes[i + k]) & 0x3F);
      out += cp;
      i += n;
    }
  }
  return out;
}
