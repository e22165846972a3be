#include "cleanup/cleanup.h"

#include <gtest/gtest.h>

#include <string>

#include "reference.h"

namespace {

struct clean_case {
  const char* name;
  std::string in;
  std::string out;
};

// Names the case in test reports instead of dumping its bytes.
void PrintTo(const clean_case& c, std::ostream* os) { *os << c.name; }

class CleanSource : public ::testing::TestWithParam<clean_case> {};

// Each case: the exact text before and after the clean-up, checked against the
// single-pass stage and against the plain reading that moves the text for every deletion.
TEST_P(CleanSource, GivesTheExactText) {
  const clean_case& c = GetParam();
  script_text text = c.in;
  const std::size_t length = clean_source(text);
  EXPECT_EQ(text, c.out);
  EXPECT_EQ(length, c.out.size());
  EXPECT_EQ(reference_clean(c.in), c.out);
}

using namespace std::string_literals;

const clean_case CASES[] = {
    // Text with nothing to clean passes byte for byte.
    {"plain_text_unchanged", ":hall\nbtn east,Go east\n\nend\n", ":hall\nbtn east,Go east\n\nend\n"},
    {"tabs_become_blanks", "\tbtn\ta,b\t\n", " btn a,b \n"},
    // Line comments.
    {"line_comment_to_end_of_line", "btn a,b ; note\nend\n", "btn a,b \nend\n"},
    {"line_comment_then_continuation", "btn a,Hello ; note\n_ there\n", "btn a,Hello  there\n"},
    {"line_comment_on_last_line", "a\n; c\nend\n", "a\n\nend\n"},
    {"line_comment_holds_block_opening", "a ; x /* y\n*/b\n", "a \n*/b\n"},
    {"line_comment_without_newline_stays", "a ; b", "a ; b"},
    {"comment_inside_caption", "btn a,Price; 5\n", "btn a,Price\n"},
    // Block comments.
    {"block_comment_inline", "a /* x */b\n", "a b\n"},
    {"block_comment_spans_lines", "a/*\nx\n*/b\n", "ab\n"},
    {"block_comment_holds_line_comment", "a/* ; */b\n", "ab\n"},
    {"empty_block_comment", "a/**/b\n", "ab\n"},
    {"slash_star_slash_does_not_close", "a/*/ x */b\n", "ab\n"},
    {"first_close_ends_the_comment", "a /* b /* c */ d */e\n", "a  d */e\n"},
    {"unclosed_block_stays_but_scan_goes_on", "x /* a\n_b\n\tc ; d\n", "x /* ab\n c \n"},
    {"many_unclosed_openings", "/* a /* b\n/* c\n", "/* a /* b\n/* c\n"},
    {"slash_alone", "a/b/\n", "a/b/\n"},
    // Continuation lines.
    {"continuation_joins", "a\n_b\n", "ab\n"},
    {"continuation_after_blanks_and_tabs", "a\n  \t_b\n", "ab\n"},
    {"continuation_chain", "a\n_b\n_c\n", "abc\n"},
    {"continuation_after_block_comment", "a /* x */\n_b\n", "a b\n"},
    {"underscore_not_first_is_no_continuation", "a\nb_c\n x_\n", "a\nb_c\n x_\n"},
    {"lone_underscore_last_line", "a\n_\nend\n", "a\nend\n"},
    {"underscore_joins_onto_empty_line", "a\n\n_\nend\n", "a\n\nend\n"},
    {"continuation_at_start_of_text_is_not_joined", "_a\n", "_a\n"},
    {"blank_lines_before_continuation", "a\n\n_b\n", "a\nb\n"},
    // Bytes without meaning pass through.
    {"nul_and_cr_are_ordinary", "a\0;b\nc\r\n_d\n"s, "a\0\nc\rd\n"s},
    {"empty_text", "", ""},
};

INSTANTIATE_TEST_SUITE_P(Cases, CleanSource, ::testing::ValuesIn(CASES),
                         [](const auto& info) { return std::string(info.param.name); });

// Deletions never move the rest of the text, so a script full of comments and
// continuation lines stays fast; the same text must also come out exact.
TEST(CleanSourceScale, ManyCommentsAndContinuationsMatchTheReading) {
  std::string in;
  for (int i = 0; i < 2000; ++i) in += "p line /* c */ text ; note\n_ more\n/* open\n";
  script_text text = in;
  clean_source(text);
  EXPECT_EQ(text, reference_clean(in));
}

// The clean-up copies runs many bytes at a time: every rule must be met wherever
// its bytes fall in such a run, the last bytes of the text included.
TEST(CleanSourceScale, RulesMeetWhereverTheirBytesFall) {
  const std::string pieces[] = {"/* c */", ";note", "\n_", "\n \t_", "\t", "/*/", "*/", "/", "\n"};
  for (const std::string& piece : pieces) {
    for (std::size_t before = 0; before < 40; ++before) {
      for (std::size_t after = 0; after < 20; after += 3) {
        const std::string in = std::string(before, 'a') + piece + "x\ty" + std::string(after, 'b') + piece + "\nend\n";
        script_text text = in;
        clean_source(text);
        ASSERT_EQ(text, reference_clean(in)) << "piece " << piece << " after " << before << " bytes";
      }
    }
  }
}

// A position of the cleaned text traced back to the script: every byte that stayed
// is found where it stood, whether the positions are asked in order, backwards or
// out of order with a remembered hint.
TEST(CleanSourceScale, PositionsTraceBackToTheScript) {
  std::string in;
  for (int i = 0; i < 300; ++i) in += "p a" + std::to_string(i) + " /* c */ b ; note\n_ c\n";
  in += "end\n";
  script_text text = in;
  cleanup_record record;
  clean_source(text, &record);
  ASSERT_GT(record.events.size(), 600u);
  // Each cleaned byte stands in the script at its traced position, and the
  // positions go forward as the text does.
  std::vector<std::size_t> expected(text.size());
  for (std::size_t c = 0; c < text.size(); ++c) {
    expected[c] = source_position(record, c);
    ASSERT_LT(expected[c], in.size());
    ASSERT_EQ(in[expected[c]], text[c]) << c;
    if (c > 0) ASSERT_GT(expected[c], expected[c - 1]) << c;
  }
  std::size_t hint = 0;
  for (std::size_t c = 0; c < text.size(); ++c) {
    ASSERT_EQ(source_position(record, c, hint), expected[c]) << c;
  }
  for (std::size_t c = text.size(); c-- > 0;) ASSERT_EQ(source_position(record, c, hint), expected[c]) << c;
  for (std::size_t k = 0; k < 5000; ++k) {
    const std::size_t c = (k * 7919) % text.size();
    ASSERT_EQ(source_position(record, c, hint), expected[c]) << c;
  }
}

}  // namespace
