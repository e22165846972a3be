#include "cleanup/cleanup.h"

#include <cstring>
#include <string_view>

namespace {

// A tab counts as a blank everywhere, since the clean-up turns every tab into one.
bool is_blank_or_tab(char c) { return c == BLANK || c == '\t'; }

// The bytes that can start a rule: everything else is copied as a run.
struct special_bytes {
  bool table[256] = {};
  constexpr special_bytes() {
    for (const char c : {'\n', '/', ';', '\t'}) table[static_cast<unsigned char>(c)] = true;
  }
  bool operator()(char c) const { return table[static_cast<unsigned char>(c)]; }
};
constexpr special_bytes is_special;

}  // namespace

// The text is read at `r` and written back at `w <= r`. Everything at or after `r`
// is still the original text, so each rule can look ahead in it exactly as if the
// bytes before had been deleted by moving the rest of the text forward.
std::size_t clean_source(script_text& text) {
  char* const t = text.data();
  const std::size_t n = text.size();
  std::size_t r = 0;
  std::size_t w = 0;
  // Once a search for "*/" fails from some position, none can succeed later:
  // remembering that keeps a text full of unclosed "/*" linear.
  bool no_close_left = false;
  while (r < n) {
    std::size_t run = r;
    while (run < n && !is_special(t[run])) ++run;
    if (run > r) {
      if (w != r) std::memmove(t + w, t + r, run - r);
      w += run - r;
      r = run;
      if (r == n) break;
    }
    const char c = t[r];
    if (c == '\n') {
      std::size_t q = r + 1;
      while (q < n && is_blank_or_tab(t[q])) ++q;
      if (q < n && t[q] == '_') {
        r = q + 1;  // the newline, its blanks and the "_" go; look at what follows
        continue;
      }
    } else if (c == '/' && r + 1 < n && t[r + 1] == '*' && !no_close_left) {
      const std::size_t close = std::string_view(t + r + 2, n - (r + 2)).find("*/");
      if (close != std::string_view::npos) {
        r = r + 2 + close + 2;  // through the "/" of the first "*/"
        continue;
      }
      no_close_left = true;
    } else if (c == ';') {
      const void* nl = std::memchr(t + r, '\n', n - r);
      if (nl != nullptr) {
        r = static_cast<std::size_t>(static_cast<const char*>(nl) - t);
        continue;  // the newline that ends the comment is examined next
      }
    }
    t[w++] = c == '\t' ? BLANK : c;
    ++r;
  }
  text.resize(w);
  return w;
}
