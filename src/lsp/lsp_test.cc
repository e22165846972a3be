// The language server's own layers: the protocol's framing, positions in UTF-16
// and UTF-8 units, the text in cp1251, and what the features read of a script.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check/charset.h"
#include "lsp/encoding.h"
#include "lsp/message.h"
#include "lsp/position.h"
#include "lsp/scan.h"

namespace {

// ---- framing ----

struct framing_case {
  const char* name;
  std::string input;
  std::vector<std::string> bodies;
  std::size_t skipped;
};

std::string framed(const std::string& body) { return message_frame(body); }

const framing_case FRAMING_CASES[] = {
    {"one", framed("{}"), {"{}"}, 0},
    {"two_in_a_row", framed("[1]") + framed("[2]"), {"[1]", "[2]"}, 0},
    {"content_type_too", "Content-Type: application/vscode-jsonrpc; charset=utf-8\r\nContent-Length: 2\r\n\r\n{}",
     {"{}"}, 0},
    {"letter_case_and_blanks", "content-length:   3  \r\n\r\nabc", {"abc"}, 0},
    {"lf_only", "Content-Length: 2\n\n{}", {"{}"}, 0},
    {"no_length_skipped", "X-Other: 1\r\n\r\n" + framed("{}"), {"{}"}, 1},
    {"bad_length_skipped", "Content-Length: 12x\r\n\r\n" + framed("{}"), {"{}"}, 1},
    {"negative_length_skipped", "Content-Length: -1\r\n\r\n" + framed("{}"), {"{}"}, 1},
    {"huge_length_skipped", "Content-Length: 99999999999999999999\r\n\r\n" + framed("{}"), {"{}"}, 1},
    {"empty_body", "Content-Length: 0\r\n\r\n" + framed("{}"), {"", "{}"}, 0},
    {"body_holds_headers", framed("Content-Length: 5\r\n\r\nhello"), {"Content-Length: 5\r\n\r\nhello"}, 0},
    {"incomplete_body_waits", "Content-Length: 10\r\n\r\nabc", {}, 0},
    {"incomplete_header_waits", "Content-Length: 10\r\n", {}, 0},
    {"utf8_body_counts_bytes", framed("\"\xD0\x96\xF0\x9F\x98\x80\""), {"\"\xD0\x96\xF0\x9F\x98\x80\""}, 0},
};

class framing : public testing::TestWithParam<framing_case> {};

TEST_P(framing, whole_and_byte_by_byte) {
  const framing_case& c = GetParam();
  for (const bool by_byte : {false, true}) {
    message_reader reader;
    std::vector<std::string> got;
    std::string body;
    if (by_byte) {
      for (const char ch : c.input) {
        message_feed(reader, std::string_view(&ch, 1));
        while (message_next(reader, body)) got.push_back(body);
      }
    } else {
      message_feed(reader, c.input);
      while (message_next(reader, body)) got.push_back(body);
    }
    EXPECT_EQ(got, c.bodies) << (by_byte ? "byte by byte" : "whole");
    EXPECT_EQ(reader.skipped, c.skipped);
  }
}

INSTANTIATE_TEST_SUITE_P(lsp, framing, testing::ValuesIn(FRAMING_CASES),
                         [](const testing::TestParamInfo<framing_case>& info) { return std::string(info.param.name); });

TEST(framing, garbage_without_header_end_is_dropped_and_the_buffer_stays_small) {
  message_reader reader;
  std::string body;
  const std::string junk(4096, 'x');
  for (int i = 0; i < 100; ++i) {
    message_feed(reader, junk);
    EXPECT_FALSE(message_next(reader, body));
  }
  EXPECT_LE(reader.buffer.size(), MAX_HEADER + junk.size());
  EXPECT_GE(reader.skipped, 1u);
  message_feed(reader, "\r\n\r\n" + framed("{}"));
  bool found = false;
  while (message_next(reader, body)) found = found || body == "{}";
  EXPECT_TRUE(found);
}

TEST(framing, a_long_session_keeps_the_buffer_to_its_longest_message) {
  message_reader reader;
  std::string body;
  const std::string message = framed(std::string(1000, 'a'));
  for (int i = 0; i < 1000; ++i) {
    message_feed(reader, message);
    ASSERT_TRUE(message_next(reader, body));
    EXPECT_EQ(body.size(), 1000u);
  }
  EXPECT_LE(reader.buffer.size(), 2 * message.size());
}

// ---- positions ----

// "\xD0\x96" is "Ж" (one UTF-16 unit, two bytes), "\xF0\x9F\x98\x80" a character
// outside the BMP (two units, four bytes).
struct position_case {
  const char* name;
  std::string text;
  std::size_t offset;
  text_position utf16, utf8;
};

const position_case POSITION_CASES[] = {
    {"start", "abc", 0, {0, 0}, {0, 0}},
    {"ascii", "abc", 2, {0, 2}, {0, 2}},
    {"end_of_text", "abc", 3, {0, 3}, {0, 3}},
    {"cyrillic", "\xD0\x96\xD0\x96x", 4, {0, 2}, {0, 4}},
    {"past_non_bmp", "\xF0\x9F\x98\x80x", 4, {0, 2}, {0, 4}},
    {"tab_is_one", "\tx", 1, {0, 1}, {0, 1}},
    {"after_lf", "a\nbc", 3, {1, 1}, {1, 1}},
    {"after_crlf", "a\r\nbc", 4, {1, 1}, {1, 1}},
    {"after_lone_cr", "a\rbc", 3, {1, 1}, {1, 1}},
    {"cr_cr_lf_is_two_lines", "a\r\r\nb", 4, {2, 0}, {2, 0}},
    {"at_the_cr_of_crlf", "ab\r\nc", 2, {0, 2}, {0, 2}},
    {"inside_crlf_is_the_line_end", "ab\r\nc", 3, {0, 2}, {0, 2}},
    {"empty_last_line", "a\n", 2, {1, 0}, {1, 0}},
    {"cyrillic_then_non_bmp_line_two", "x\r\n\xD0\x96\xF0\x9F\x98\x80y", 9, {1, 3}, {1, 6}},
};

class positions : public testing::TestWithParam<position_case> {};

TEST_P(positions, both_ways_in_both_units) {
  const position_case& c = GetParam();
  std::vector<std::size_t> starts;
  find_line_starts(c.text, starts);
  EXPECT_EQ(position_of(c.text, starts, c.offset, UNITS_UTF16), c.utf16);
  EXPECT_EQ(position_of(c.text, starts, c.offset, UNITS_UTF8), c.utf8);
  // Back to the offset, where it is not inside a line end.
  const std::size_t line_end = line_end_at(c.text, starts[c.utf16.line]);
  const std::size_t expected = std::min(c.offset, line_end);
  EXPECT_EQ(offset_of(c.text, starts, c.utf16, UNITS_UTF16), expected);
  EXPECT_EQ(offset_of(c.text, starts, c.utf8, UNITS_UTF8), expected);
}

INSTANTIATE_TEST_SUITE_P(lsp, positions, testing::ValuesIn(POSITION_CASES),
                         [](const testing::TestParamInfo<position_case>& info) { return std::string(info.param.name); });

TEST(positions, out_of_range_stand_for_the_ends) {
  const std::string text = "ab\r\n\xF0\x9F\x98\x80z";
  std::vector<std::size_t> starts;
  find_line_starts(text, starts);
  EXPECT_EQ(offset_of(text, starts, {0, 99}, UNITS_UTF16), 2u);   // past the line: its end
  EXPECT_EQ(offset_of(text, starts, {7, 0}, UNITS_UTF16), text.size());  // past the last line
  EXPECT_EQ(offset_of(text, starts, {1, 1}, UNITS_UTF16), 4u);    // inside a surrogate pair: its start
  EXPECT_EQ(offset_of(text, starts, {1, 2}, UNITS_UTF8), 4u);     // inside a UTF-8 sequence: its start
  EXPECT_EQ(offset_of(text, starts, {1, 2}, UNITS_UTF16), 8u);
}

struct column_case {
  const char* name;
  std::string text;
  std::uint64_t line, column;
  text_position utf16, utf8;
};

// The checker's columns count characters from 1.
const column_case COLUMN_CASES[] = {
    {"first", "goto x", 1, 1, {0, 0}, {0, 0}},
    {"ascii", "goto x", 1, 6, {0, 5}, {0, 5}},
    {"cyrillic", "pln \xD0\x96\xD0\x96 x", 1, 7, {0, 6}, {0, 8}},
    {"non_bmp", "\xF0\x9F\x98\x80 goto x", 1, 8, {0, 8}, {0, 10}},
    {"second_line_crlf", "a\r\n\tgoto x", 2, 2, {1, 1}, {1, 1}},
    {"after_lone_cr", "a\r\xD0\x96x", 2, 2, {1, 1}, {1, 2}},
    {"past_the_line", "ab\ncd", 1, 9, {0, 2}, {0, 2}},
};

class columns : public testing::TestWithParam<column_case> {};

TEST_P(columns, become_positions) {
  const column_case& c = GetParam();
  std::vector<std::size_t> starts;
  find_line_starts(c.text, starts);
  EXPECT_EQ(position_of_column(c.text, starts, c.line, c.column, UNITS_UTF16), c.utf16);
  EXPECT_EQ(position_of_column(c.text, starts, c.line, c.column, UNITS_UTF8), c.utf8);
}

INSTANTIATE_TEST_SUITE_P(lsp, columns, testing::ValuesIn(COLUMN_CASES),
                         [](const testing::TestParamInfo<column_case>& info) { return std::string(info.param.name); });

// ---- cp1251 ----

TEST(encoding, cp1251_round_trips_and_marks_what_it_lacks) {
  std::string all;
  for (int b = 1; b < 256; ++b)
    if (b != 0x98) all += static_cast<char>(b);
  EXPECT_EQ(utf8_to_cp1251(cp1251_to_utf8(all)), all);
  // A character outside cp1251 is one "?", so that the columns stay.
  EXPECT_EQ(utf8_to_cp1251("\xD0\x96\xF0\x9F\x98\x80\xE4\xB8\xAD" "a"), "\xC6??a");
  EXPECT_EQ(utf8_to_cp1251("\xD0"), "?");  // a cut sequence
}

// ---- what the features read ----

struct scan_case {
  const char* name;
  std::string script;
  std::vector<std::string> locations;  // as written
  std::vector<std::string> jumps;      // kind letter and target as written; "#" when substituted
};

std::string kind_letter(jump_kind k) {
  switch (k) {
    case JUMP_GOTO: return "g:";
    case JUMP_PROC: return "p:";
    case JUMP_BTN: return "b:";
    case JUMP_MAVO: return "m:";
    case JUMP_LINK: return "l:";
  }
  return "?:";
}

const scan_case SCAN_CASES[] = {
    {"plain", ":start\ngoto room\nproc sub\nbtn room, Go on\nend\n: room \nend\n", {"start", "room"},
     {"g:room", "p:sub", "b:room"}},
    {"statements_after_amp", ":a\npln x & goto b & btn c,C\n", {"a"}, {"g:b", "b:c"}},
    {"if_then_else", ":a\nif x = 1 then goto b else goto c\n", {"a"}, {"g:b", "g:c"}},
    {"mavo_button", ":a\nmavo tower,Climb & pln steep\n", {"a"}, {"m:tower"}},
    {"links", ":a\npln [[Go|room]] or [[hall]]\n", {"a"}, {"l:room", "l:hall"}},
    {"comments_hide", ":a\n;goto x\n/* goto y\n:z */ goto w\npln t ;goto v\n", {"a"}, {"g:w"}},
    {"unclosed_block_comment_hides_nothing", ":a\npln /* x\ngoto y\n", {"a"}, {"g:y"}},
    {"substitution", ":a\ngoto room#n$\n", {"a"}, {"#g:room#n$"}},
    {"letter_case_of_keywords", ":a\nGOTO b\nBtn c,C\n", {"a"}, {"g:b", "b:c"}},
    {"crlf_and_lone_cr", ":a\r\ngoto b\rgoto c\r\n", {"a"}, {"g:b", "g:c"}},
    {"cyrillic", ":\xD0\x97\xD0\xB0\xD0\xBB\ngoto \xD0\x97\xD0\x90\xD0\x9B\n", {"\xD0\x97\xD0\xB0\xD0\xBB"},
     {"g:\xD0\x97\xD0\x90\xD0\x9B"}},
    {"location_after_blanks", "  :a\n\t:b\n", {"a", "b"}, {}},
};

class scanning : public testing::TestWithParam<scan_case> {};

TEST_P(scanning, finds_locations_and_jumps) {
  const scan_case& c = GetParam();
  script_outline o;
  scan_script(c.script, o);
  std::vector<std::string> locations, jumps;
  for (const script_name& n : o.locations) locations.push_back(c.script.substr(n.at, n.size));
  for (const script_jump& j : o.jumps)
    jumps.push_back((j.substituted ? "#" : "") + kind_letter(j.kind) + c.script.substr(j.target.at, j.target.size));
  EXPECT_EQ(locations, c.locations);
  EXPECT_EQ(jumps, c.jumps);
  ASSERT_EQ(o.location_end.size(), o.locations.size());
}

INSTANTIATE_TEST_SUITE_P(lsp, scanning, testing::ValuesIn(SCAN_CASES),
                         [](const testing::TestParamInfo<scan_case>& info) { return std::string(info.param.name); });

TEST(scanning, names_fold_as_the_interpreters_fold_them) {
  script_outline o;
  scan_script(":\xD0\x97\xD0\xB0\xD0\xBB\ngoto \xD0\x97\xD0\x90\xD0\x9B\n", o);
  ASSERT_EQ(o.locations.size(), 1u);
  ASSERT_EQ(o.jumps.size(), 1u);
  EXPECT_EQ(o.locations[0].folded, o.jumps[0].target.folded);
}

TEST(scanning, a_new_name_may_not_hold_what_ends_a_target) {
  EXPECT_TRUE(valid_location_name("room_2"));
  EXPECT_TRUE(valid_location_name("\xD0\x97\xD0\xB0\xD0\xBB"));
  for (const char* bad : {"", "a b", "a,b", "a&b", "a#b", "a$b", "a\tb"}) EXPECT_FALSE(valid_location_name(bad)) << bad;
}

}  // namespace
