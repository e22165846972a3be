#include "script_gen.h"

#include <array>
#include <charconv>

namespace {

constexpr std::array<std::string_view, 64> WORDS = {
    "the",    "a",      "damp",    "stone",  "corridor", "lamp",    "old",    "door",
    "window", "dust",   "shadow",  "quiet",  "cold",     "narrow",  "stair",  "wooden",
    "iron",   "gate",   "smell",   "moss",   "light",    "dark",    "wind",   "floor",
    "table",  "chair",  "book",    "map",    "key",      "rope",    "candle", "river",
    "tower",  "bell",   "long",    "small",  "red",      "green",   "grey",   "silent",
    "far",    "near",   "north",   "south",  "east",     "west",    "echo",   "picture",
    "carpet", "crack",  "wall",    "roof",   "hook",     "chest",   "coin",   "bread",
    "water",  "mirror", "clock",   "slowly", "softly",   "again",   "here",   "there"};
constexpr std::array<std::string_view, 8> VARS = {"gold", "hp", "keys", "steps", "oil", "food", "luck", "mana"};
constexpr std::array<std::string_view, 8> PLACES = {"shop",   "well",  "tower",   "cellar",
                                                    "garden", "attic", "kitchen", "chapel"};
constexpr std::array<std::string_view, 8> NOUNS = {"door", "chest", "window", "gate", "book", "box", "lamp", "map"};
constexpr std::array<std::string_view, 8> VERBS = {"Open", "Search", "Take", "Read", "Push", "Break", "Light", "Study"};

template <std::size_t N>
std::string_view pick(bench_rng& rng, const std::array<std::string_view, N>& from) {
  return from[rng.below(N)];
}

void put_number(std::string& out, std::uint64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// Writes one room at a time; every choice comes from the one generator state.
struct room_writer {
  std::string& out;
  bench_rng rng;
  std::uint64_t rooms;

  void words(std::uint64_t least, std::uint64_t most) {
    const std::uint64_t n = least + rng.below(most - least + 1);
    for (std::uint64_t i = 0; i < n; ++i) {
      if (i > 0) out += ' ';
      out += pick(rng, WORDS);
    }
  }

  void indent() {
    if (rng.chance(40)) out += '\t';
  }

  void room_label() {
    out += "room";
    put_number(out, 1 + rng.below(rooms));
  }

  // Where a button leads: another room most of the time, else a named place.
  void target() {
    if (rng.chance(70)) {
      room_label();
    } else {
      out += pick(rng, PLACES);
    }
  }

  // Captions as written; some carry a "#...$" part.
  void caption() {
    switch (rng.below(4)) {
      case 0:
        out += "Go to #";
        put_number(out, 1 + rng.below(rooms));
        out += '$';
        break;
      case 1:
        out += pick(rng, VERBS);
        out += ' ';
        out += pick(rng, NOUNS);
        break;
      case 2:
        out += "Pay #";
        out += pick(rng, VARS);
        out += '$';
        break;
      default:
        out += "Visit the ";
        out += pick(rng, PLACES);
        break;
    }
  }

  void action() {
    switch (rng.below(6)) {
      case 0:
      case 1: {
        const std::string_view var = pick(rng, VARS);
        out += var;
        out += '=';
        out += var;
        out += rng.chance(50) ? '+' : '-';
        put_number(out, 1 + rng.below(9));
        break;
      }
      case 2:
        out += "pl ";
        words(1, 2);
        break;
      case 3:
        out += "p ";
        words(1, 3);
        break;
      case 4:
        out += "goto ";
        room_label();
        break;
      default:
        out += pick(rng, VARS);
        out += "=0";
        break;
    }
  }

  void actions(std::uint64_t least, std::uint64_t most) {
    const std::uint64_t n = least + rng.below(most - least + 1);
    for (std::uint64_t i = 0; i < n; ++i) {
      if (i > 0) out += " & ";
      action();
    }
  }

  void head() {
    out += "mavo ";
    target();
    out += ',';
    caption();
    out += " & ";
  }

  // A "{" block over several lines; the first action sometimes on the "{" line.
  void brace_block() {
    out += '{';
    if (rng.chance(50)) action();
    out += '\n';
    const std::uint64_t lines = rng.chance(25) ? 2 : 1;
    for (std::uint64_t i = 0; i < lines; ++i) {
      out += '\t';
      action();
      out += '\n';
    }
    out += "}\n";
  }

  void condition() {
    out += "if ";
    out += pick(rng, VARS);
    out += "<>="[rng.below(3)];
    put_number(out, rng.below(10));
    out += " then ";
  }

  // One action button in one of its written forms.
  void action_button() {
    indent();
    switch (rng.below(7)) {
      case 0:  // line form
        head();
        actions(1, rng.chance(25) ? 2 : 1);
        out += '\n';
        break;
      case 1:  // brace form
        head();
        brace_block();
        break;
      case 2:  // in the "then" branch
        condition();
        head();
        action();
        out += '\n';
        break;
      case 3:  // in the "else" branch
        condition();
        out += "pl ";
        out += pick(rng, WORDS);
        out += " else ";
        head();
        action();
        out += '\n';
        break;
      case 4:  // brace form in a branch
        condition();
        head();
        brace_block();
        break;
      case 5:  // line form whose actions go on in a continuation line
        head();
        action();
        out += "\n\t_ & ";
        action();
        out += '\n';
        break;
      default:  // after another statement of the line
        action();
        out += " & ";
        head();
        action();
        out += '\n';
        break;
    }
  }

  void room(std::uint64_t n) {
    out += ":room";
    put_number(out, n);
    out += '\n';

    // Every room has one block comment, inside its first line or on lines of its
    // own, and one line comment, on a line of its own or after its plain button.
    const bool inline_block = rng.chance(30);
    const bool comment_after_button = rng.chance(50);
    indent();
    out += "pl ";
    words(2, 3);
    if (inline_block) {
      out += " /* ";
      out += pick(rng, WORDS);
      out += " */ ";
      out += pick(rng, WORDS);
    }
    out += ".\n";
    if (rng.chance(30)) {
      out += "p ";
      words(1, 3);
      out += '\n';
      out += rng.chance(50) ? "\t_ " : "_ ";
      out += pick(rng, WORDS);
      out += ".\n";
    }
    if (rng.chance(5)) {  // a prose line with a ":" is read as a label too
      out += "pl Note: ";
      words(1, 3);
      out += '\n';
    }
    if (!comment_after_button) {
      out += "; ";
      words(1, 2);
      out += '\n';
    }
    if (!inline_block) {
      out += "/* ";
      out += pick(rng, WORDS);
      if (rng.chance(50)) {
        out += "\n\t";
        out += pick(rng, WORDS);
      }
      out += " */\n";
    }

    indent();
    out += "btn ";
    target();
    out += ',';
    out += pick(rng, VERBS);
    if (comment_after_button) {
      out += " ; ";
      out += pick(rng, WORDS);
    }
    out += '\n';

    // The same label and caption in every room, with actions of this room.
    out += "mavo hall,Back to the hall & seen";
    put_number(out, n);
    out += "=1";
    if (rng.chance(15)) {
      out += " & ";
      action();
    }
    out += '\n';

    for (int i = 0; i < 5; ++i) action_button();
    if (rng.chance(10)) {  // no "&": a plain button
      out += "mavo ";
      target();
      out += ',';
      caption();
      out += '\n';
    }
    out += "end\n";
  }
};

// The i-th permutation, in lexicographic order, of the distinct bytes `set`.
void put_permutation(std::string& out, std::string_view set, std::uint64_t i) {
  std::string left(set);
  std::uint64_t radix = 1;  // (left.size() - 1)!: how many orders each first byte leads
  for (std::size_t k = 1; k < left.size(); ++k) radix *= k;
  i %= radix * left.size();
  while (!left.empty()) {
    const auto digit = static_cast<std::size_t>(i / radix);
    i %= radix;
    out += left[digit];
    left.erase(digit, 1);
    if (!left.empty()) radix /= left.size();
  }
}

std::uint8_t byte_sum(std::string_view s) {
  unsigned sum = 0;
  for (const char c : s) sum += static_cast<unsigned char>(c);
  return static_cast<std::uint8_t>(sum);
}

// Lower-case letters whose byte sum is `need` modulo 256.
std::string letters_with_sum(std::uint8_t need) {
  for (unsigned k = 1;; ++k) {
    for (unsigned total = need; total <= 122 * k; total += 256) {
      if (total < 97 * k) continue;
      std::string pad(k, 'a');
      unsigned extra = total - 97 * k;
      for (char& c : pad) {
        const unsigned step = extra < 25 ? extra : 25;
        c = static_cast<char>('a' + step);
        extra -= step;
      }
      return pad;
    }
  }
}

// Every pattern starts with a label and one action button, so that the program
// writes its result even when the rest expands nothing.
void pattern_start(std::string& out) { out += ":start\nmavo start,Start & x=1\n"; }

void same_base(std::string& out, std::uint64_t count) {
  pattern_start(out);
  for (std::uint64_t i = 0; i < count; ++i) {
    out += "mavo same,Same caption & x=";
    put_number(out, i);
    out += '\n';
  }
}

void no_comma(std::string& out, std::uint64_t count) {
  pattern_start(out);
  for (std::uint64_t i = 0; i < count; ++i) out += "&mavo x\n";
}

void no_brace(std::string& out, std::uint64_t count) {
  pattern_start(out);
  for (std::uint64_t i = 0; i < count; ++i) out += "mavo a,b & {x\n";
}

void unclosed_comment(std::string& out, std::uint64_t count) {
  pattern_start(out);
  for (std::uint64_t i = 0; i < count; ++i) out += "x /* y\n";
}

void continuations(std::string& out, std::uint64_t count) {
  pattern_start(out);
  for (std::uint64_t i = 0; i < count; ++i) {
    switch (i % 4) {
      case 0:
        out += "pl text ";
        put_number(out, i);
        out += '\n';
        break;
      case 1: out += "\t_ continued\n"; break;
      case 2: out += "; comment\n"; break;
      default: out += "/* c */\n"; break;
    }
  }
}

// One button whose actions are a line of count * 100 bytes full of keywords and
// commas that start no statement, so that its block is as long as the line.
void long_line(std::string& out, std::uint64_t count) {
  out += ":start\nmavo long,Long line & x=1";
  constexpr std::string_view CHUNK = ", pl mavo a,b qthen mavo c,d welse mavo e,f x=1, y=2 & z=3, mavo ";
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::size_t before = out.size();
    out += CHUNK;
    put_number(out, i);
    out.append(100 - (out.size() - before), 'k');
  }
  out += '\n';
}

// One button whose label runs over `count` lines before its ",".
void long_label(std::string& out, std::uint64_t count) {
  out += ":start\nmavo ";
  for (std::uint64_t i = 0; i < count; ++i) {
    if (i > 0) out += '\n';
    out += "part";
    put_number(out, i);
  }
  out += ",Long label & x=1\n";
}

// One brace form whose actions take `count` lines.
void long_brace(std::string& out, std::uint64_t count) {
  out += ":start\nmavo start,Long block & {\n";
  for (std::uint64_t i = 0; i < count; ++i) {
    out += '\t';
    switch (i % 3) {
      case 0: out += "x=x+1"; break;
      case 1: out += "pl line "; put_number(out, i); break;
      default: out += "btn start,Again"; break;
    }
    out += '\n';
  }
  out += "}\n";
}

// Source labels that are permutations of one set of bytes, then buttons whose
// generated names are permutations of one another; the source labels get a
// suffix that puts them in the same chain of the label table as the names.
void anagrams(std::string& out, std::uint64_t count) {
  constexpr std::string_view SOURCE_SET = "abcdefghijkl";
  constexpr std::string_view BUTTON_SET = "mnopqrstuvwx";
  constexpr std::string_view CAPTION = "Go ";  // as written before the "&"
  const std::uint8_t name_sum = static_cast<std::uint8_t>(byte_sum("mavo_") + byte_sum(BUTTON_SET) +
                                                          byte_sum("_") + byte_sum("Go_"));
  const std::string pad = letters_with_sum(static_cast<std::uint8_t>(name_sum - byte_sum(SOURCE_SET)));
  for (std::uint64_t i = 0; i < count; ++i) {
    out += ':';
    put_permutation(out, SOURCE_SET, i);
    out += pad;
    out += '\n';
  }
  for (std::uint64_t i = 0; i < count; ++i) {
    out += "mavo ";
    put_permutation(out, BUTTON_SET, i);
    out += ',';
    out += CAPTION;
    out += "& x=1\n";
  }
}

// Buttons in the actions of buttons: a line of three nested line forms, then a
// brace form holding a line form; five buttons per step.
void nested(std::string& out, std::uint64_t count) {
  pattern_start(out);
  for (std::uint64_t i = 0; i < count; i += 5) {
    out += "mavo n";
    put_number(out, i);
    out += ",Open & mavo m";
    put_number(out, i);
    out += ",Inner & mavo k";
    put_number(out, i);
    out += ",Deep & x=";
    put_number(out, i);
    out += "\nmavo b";
    put_number(out, i);
    out += ",Box & {\n\tpl inside\n\tmavo c";
    put_number(out, i);
    out += ",Lid & y=";
    put_number(out, i);
    out += "\n}\n";
  }
}

struct pattern {
  std::string_view name;
  void (*write)(std::string&, std::uint64_t);
};

constexpr pattern PATTERNS[] = {
    {"same-base", same_base},         {"no-comma", no_comma},     {"no-brace", no_brace},
    {"unclosed-comment", unclosed_comment}, {"continuations", continuations}, {"long-line", long_line},
    {"long-label", long_label},       {"long-brace", long_brace}, {"anagrams", anagrams},
    {"nested", nested},
};

}  // namespace

const char* const PATTERN_NAMES[] = {"same-base",  "no-comma",   "no-brace",   "unclosed-comment",
                                     "continuations", "long-line", "long-label", "long-brace",
                                     "anagrams",   "nested",     nullptr};

std::string generate_rooms(std::uint64_t rooms, std::uint64_t seed) {
  std::string out;
  out.reserve(static_cast<std::size_t>(rooms) * 420 + 64);
  room_writer writer{out, bench_rng{seed}, rooms == 0 ? 1 : rooms};
  out += "; generated by gen_script\n:hall\npl The great hall.\nbtn room1,Enter\nend\n";
  for (std::uint64_t n = 1; n <= rooms; ++n) writer.room(n);
  return out;
}

bool generate_pattern(std::string_view name, std::uint64_t count, std::string& out) {
  for (const pattern& p : PATTERNS) {
    if (p.name == name) {
      p.write(out, count);
      return true;
    }
  }
  return false;
}
