#include "expand/expand.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/pipeline.h"
#include "expand/names.h"
#include "reference.h"

namespace {

using namespace std::string_literals;

const std::string B = ";===== mavo implementation =====\n";
const std::string NO_FILE = "<no file>";

// What the run writes to "mavo.qst" for a script (before CR LF conversion), or
// NO_FILE when nothing was expanded.
std::string result_file(const std::string& script) {
  script_text text = script;
  const std::uint64_t count = transform_script(text);
  return count == 0 ? NO_FILE : text + "\nend\n";
}

std::string reference_file(const std::string& script) {
  const reference_result r = reference_transform(script);
  return r.count == 0 ? NO_FILE : r.text + "\nend\n";
}

struct expand_case {
  const char* name;
  std::string script;
  std::string file;
};

// Names the case in test reports instead of dumping its bytes.
void PrintTo(const expand_case& c, std::ostream* os) { *os << c.name; }

class Expand : public ::testing::TestWithParam<expand_case> {};

// Each case: a script in, the exact result file out, from the run and from the
// plain reading that rebuilds the whole text for every statement.
TEST_P(Expand, WritesTheExactFile) {
  const expand_case& c = GetParam();
  EXPECT_EQ(result_file(c.script), c.file);
  EXPECT_EQ(reference_file(c.script), c.file);
}

#define CASE(name, script, file) expand_case{name, script, file}

const expand_case ROAD[] = {
    CASE("road_of_one_statement", ":start\n mavo room2, Go on & act1\nend\n",
         ":start\n btn mavo_room2__Go_on_, Go on \nend\n\nend\n" + B +
             ":mavo_room2__Go_on_\nact1\ngoto room2\nend\n\n\nend\n"),
    CASE("caption_with_blanks", "x\n mavo room2, Go to room 2 & act1\n",
         "x\n btn mavo_room2__Go_to_room_2_, Go to room 2 \n\nend\n" + B +
             ":mavo_room2__Go_to_room_2_\nact1\ngoto room2\nend\n\n\nend\n"),
    CASE("last_line_without_newline", "x\nmavo r,c&a", "x\nbtn mavo_r_c,c\nend\n" + B + ":mavo_r_c\na\ngoto r\nend\n\n\nend\n"),
};

const expand_case STATEMENT_START[] = {
    CASE("first_line_not_expanded", "mavo r,c & a\n", NO_FILE),
    CASE("first_line_after_blanks_not_expanded", "   mavo r,c & a\n", NO_FILE),
    CASE("empty_first_line_then_keyword", "\nmavo r,c&a\n", "\nbtn mavo_r_c,c\n\nend\n" + B + ":mavo_r_c\na\ngoto r\nend\n\n\nend\n"),
    CASE("after_ampersand", "x\np & mavo r,c&a\n", "x\np & btn mavo_r_c,c\n\nend\n" + B + ":mavo_r_c\na\ngoto r\nend\n\n\nend\n"),
    CASE("after_then", "x\nx=1 then mavo r,go & act1\n",
         "x\nx=1 then btn mavo_r_go_,go \n\nend\n" + B + ":mavo_r_go_\nact1\ngoto r\nend\n\n\nend\n"),
    CASE("after_else", "x\nx=1 then act2 else mavo r,go & act1\n",
         "x\nx=1 then act2 else btn mavo_r_go_,go \n\nend\n" + B + ":mavo_r_go_\nact1\ngoto r\nend\n\n\nend\n"),
    CASE("upper_case_then_not_recognised", "x\nx=1 THEN mavo r,go & act1\nmavo q,w&z\n",
         "x\nx=1 THEN mavo r,go & act1\nbtn mavo_q_w,w\n\nend\n" + B + ":mavo_q_w\nz\ngoto q\nend\n\n\nend\n"),
    CASE("then_without_blank_before", "x\nxthen mavo r,go & a\n", NO_FILE),
    CASE("other_text_before_on_the_line", "x\nact1 mavo a,b & act2\n", NO_FILE),
    CASE("keyword_needs_its_blank", "x\nmavor,c&a\n", NO_FILE),
};

const expand_case FORMS[] = {
    CASE("plain_button_rewritten_not_counted", ":a\nmavo room, Look\n", NO_FILE),
    CASE("plain_button_beside_an_expanded_one", "x\nmavo room, Look\nmavo r,c & a\n",
         "x\n btn room, Look\nbtn mavo_r_c_,c \n\nend\n" + B + ":mavo_r_c_\na\ngoto r\nend\n\n\nend\n"),
    CASE("line_form_keeps_all_statements", "x\nmavo r,c& a & b &c  \n",
         "x\nbtn mavo_r_c,c\n\nend\n" + B + ":mavo_r_c\na & b &c\ngoto r\nend\n\n\nend\n"),
    CASE("empty_actions", "x\nmavo r,c &\n", "x\nbtn mavo_r_c_,c \n\nend\n" + B + ":mavo_r_c_\n\ngoto r\nend\n\n\nend\n"),
    CASE("only_blanks_after_ampersand", "x\nmavo r,c &   \n",
         "x\nbtn mavo_r_c_,c \n\nend\n" + B + ":mavo_r_c_\n\ngoto r\nend\n\n\nend\n"),
    CASE("brace_over_lines", "x\nmavo r,c & {act1\n act2\n} tail\n",
         "x\nbtn mavo_r_c_,c  tail\n\nend\n" + B + ":mavo_r_c_\nact1\n act2\ngoto r\nend\n\n\nend\n"),
    CASE("brace_keeps_leading_blanks", "x\nmavo r,c&{  act1}\n", "x\nbtn mavo_r_c,c\n\nend\n" + B + ":mavo_r_c\n  act1\ngoto r\nend\n\n\nend\n"),
    CASE("brace_blank_newline_blank", "x\nmavo r,c&{ \n }\n", "x\nbtn mavo_r_c,c\n\nend\n" + B + ":mavo_r_c\n \ngoto r\nend\n\n\nend\n"),
    CASE("brace_empty_forms_share", "x\nmavo r,c&{}\nmavo r,c&{ }\nmavo r,c&{\n}\n",
         "x\nbtn mavo_r_c,c\nbtn mavo_r_c,c\nbtn mavo_r_c,c\n\nend\n" + B + ":mavo_r_c\n\ngoto r\nend\n\n\nend\n"),
    CASE("label_trailing_blanks_dropped", "x\nmavo r  ,c & x\n", "x\nbtn mavo_r_c_,c \n\nend\n" + B + ":mavo_r_c_\nx\ngoto r\nend\n\n\nend\n"),
    CASE("label_inner_blanks_kept", "x\nmavo  a b ,c&x\n", "x\nbtn mavo_a_b_c,c\n\nend\n" + B + ":mavo_a_b_c\nx\ngoto a b\nend\n\n\nend\n"),
    CASE("label_across_lines", "x\nmavo ab\n,cd & x\n",
         "x\nbtn mavo_ab\n_cd_,cd \n\nend\n" + B + ":mavo_ab\n_cd_\nx\ngoto ab\n\nend\n\n\nend\n"),
    CASE("caption_marks_cleaned_in_name_only", "x\nmavo r,Text #1$ & a\n",
         "x\nbtn mavo_r_Text_[1]_,Text #1$ \n\nend\n" + B + ":mavo_r_Text_[1]_\na\ngoto r\nend\n\n\nend\n"),
    CASE("identical_statements_share_one_block", "x\nmavo r,c & a\nmavo r,c & a\n",
         "x\nbtn mavo_r_c_,c \nbtn mavo_r_c_,c \n\nend\n" + B + ":mavo_r_c_\na\ngoto r\nend\n\n\nend\n"),
};

const expand_case LEFT_AS_IS[] = {
    CASE("no_comma_anywhere_after", "x\nmavo r,c & e\nmavo abc & d\n",
         "x\nbtn mavo_r_c_,c \nmavo abc & d\n\nend\n" + B + ":mavo_r_c_\ne\ngoto r\nend\n\n\nend\n"),
    CASE("comma_first_no_label", "x\nmavo  , c & d\nmavo r,c & e\n",
         "x\nmavo  , c & d\nbtn mavo_r_c_,c \n\nend\n" + B + ":mavo_r_c_\ne\ngoto r\nend\n\n\nend\n"),
    CASE("brace_never_closed", "x\nmavo r,c & e\nmavo a,b & {d\n",
         "x\nbtn mavo_r_c_,c \nmavo a,b & {d\n\nend\n" + B + ":mavo_r_c_\ne\ngoto r\nend\n\n\nend\n"),
};

const expand_case FAR_REACHING[] = {
    // Three keywords whose labels all reach the same ",": each is a plain button in turn.
    CASE("labels_sharing_one_comma", "x\nmavo a\n&mavo b\n&mavo c,d\nmavo r,c&z\n",
         "x\n btn a\n& btn b\n& btn c,d\nbtn mavo_r_c,c\n\nend\n" + B + ":mavo_r_c\nz\ngoto r\nend\n\n\nend\n"),
    // The first statement swallows the second; its label's keyword is met again in the block.
    CASE("label_swallows_a_statement", "x\nmavo a\n&mavo b,c & z\n",
         "x\nbtn mavo_a\n&mavo_b_c_,c \n\nend\n" + B + ":mavo_a\n&mavo_b_c_\nz\ngoto a\n&mavo b\nend\n\n\nend\n"),
    CASE("failed_brace_then_more_buttons", "x\nmavo a,b & {p\nmavo c,d & q\nmavo e,f & r\n",
         "x\nmavo a,b & {p\nbtn mavo_c_d_,d \nbtn mavo_e_f_,f \n\nend\n" + B +
             ":mavo_c_d_\nq\ngoto c\nend\n\n:mavo_e_f_\nr\ngoto e\nend\n\n\nend\n"),
    // The "," of a label may stand on a later line: the statement swallows what is between.
    CASE("label_reaches_a_later_comma", "x\nmavo a & b\np c,d&e\n",
         "x\nbtn mavo_a_&_b\np_c_d,d\n\nend\n" + B + ":mavo_a_&_b\np_c_d\ne\ngoto a & b\np c\nend\n\n\nend\n"),
    // A "}" missing from the script is found in an earlier block; the banner moves into the actions.
    CASE("brace_closed_in_an_earlier_block", "x\nmavo a,b & p}\nmavo c,d & {q\nz\n",
         "x\nbtn mavo_a_b_,b \nbtn mavo_c_d_,d \ngoto a\nend\n\n:mavo_c_d_\nq\nz\n\nend\n" + B +
             ":mavo_a_b_\np\ngoto c\nend\n\n\nend\n"),
    // The first brace form finds no "}"; a later block brings one (from a label that
    // reached past the first "{") and closes the third statement's braces.
    CASE("brace_closed_by_a_block_made_after_a_failed_search", "x\nmavo a,b then mavo q}c & {x\np,r & s\nmavo t,u & {v\n",
         "x\nmavo a,b then btn mavo_q}c_&_{x\np_r_,r \nbtn mavo_t_u_,u c_&_{x\np_r_\ns\ngoto q}c & {x\np\nend\n\n"
         ":mavo_t_u_\nv\n\nend\n" + B + ":mavo_q\ngoto t\nend\n\n\nend\n"),
    // A "," found only in an earlier block: the label takes in the banner, whose blanks the name cleans.
    CASE("comma_found_in_an_earlier_block", "x\nmavo a,b & p,q&s\nmavo c & r\n",
         "x\nbtn mavo_a_b_,b \nbtn mavo_c_&_r\n\nend\n;=====_mavo_implementation_=====\n:mavo_a_b_\np_q,q\ngoto a\nend\n\n"
         ":mavo_c_&_r\n\nend\n;=====_mavo_implementation_=====\n:mavo_a_b_\np_q\ns\ngoto c & r\n\nend\n" + B +
             ":mavo_a_b_\np\nend\n\n\nend\n"),
    // The same, but the caption there ends at a newline: a plain button, nothing counted.
    CASE("comma_in_an_earlier_block_makes_a_plain_button", "x\nmavo a,b & p,q\nmavo c & r\n",
         "x\nbtn mavo_a_b_,b \n btn c & r\n\nend\n" + B + ":mavo_a_b_\np,q\ngoto a\nend\n\n\nend\n"),
};

const expand_case NESTED[] = {
    CASE("button_in_line_actions", "x\nmavo a,b & mavo c,d & e\n",
         "x\nbtn mavo_a_b_,b \n\nend\n" + B + ":mavo_a_b_\nbtn mavo_c_d_,d \ngoto a\nend\n\n:mavo_c_d_\ne\ngoto c\nend\n\n\nend\n"),
    CASE("button_after_ampersand_in_actions", "x\nmavo a,b & p & mavo c,d & e\n",
         "x\nbtn mavo_a_b_,b \n\nend\n" + B + ":mavo_a_b_\np & btn mavo_c_d_,d \ngoto a\nend\n\n:mavo_c_d_\ne\ngoto c\nend\n\n\nend\n"),
    CASE("button_in_brace_actions", "x\nmavo a,b & {p\nmavo c,d & e\n}\n",
         "x\nbtn mavo_a_b_,b \n\nend\n" + B + ":mavo_a_b_\np\nbtn mavo_c_d_,d \ngoto a\nend\n\n:mavo_c_d_\ne\ngoto c\nend\n\n\nend\n"),
    // The outer block ends at the first "}"; the inner one finds none after it and stays.
    CASE("brace_button_in_brace_actions_closes_early", "x\nmavo a,b & {mavo c,d & {e} f}\n",
         "x\nbtn mavo_a_b_,b  f}\n\nend\n" + B + ":mavo_a_b_\nmavo c,d & {e\ngoto a\nend\n\n\nend\n"),
};

const expand_case NAMES[] = {
    CASE("source_label_takes_the_base", ":mavo_r_c_\nmavo r,c & a\n",
         ":mavo_r_c_\nbtn mavo_r_c_[2],c \n\nend\n" + B + ":mavo_r_c_[2]\na\ngoto r\nend\n\n\nend\n"),
    CASE("colon_anywhere_takes_the_base", "x:mavo_r_c_\nmavo r,c & a\n",
         "x:mavo_r_c_\nbtn mavo_r_c_[2],c \n\nend\n" + B + ":mavo_r_c_[2]\na\ngoto r\nend\n\n\nend\n"),
    CASE("untrimmed_or_later_colon_does_not", ":mavo_r_c_ \na:b:mavo_r_c_\n; :mavo_r_c_\nmavo r,c & a\n",
         ":mavo_r_c_ \na:b:mavo_r_c_\n\nbtn mavo_r_c_,c \n\nend\n" + B + ":mavo_r_c_\na\ngoto r\nend\n\n\nend\n"),
    CASE("same_base_other_actions_climb_and_share",
         "x\nmavo r,c & a\nmavo r,c & b\nmavo r,c & a\nmavo r,c & b\n",
         "x\nbtn mavo_r_c_,c \nbtn mavo_r_c_[2],c \nbtn mavo_r_c_,c \nbtn mavo_r_c_[2],c \n\nend\n" + B +
             ":mavo_r_c_\na\ngoto r\nend\n\n:mavo_r_c_[2]\nb\ngoto r\nend\n\n\nend\n"),
    CASE("climb_past_source_labels_and_other_blocks",
         ":mavo_r_c_\n:mavo_r_c_[2]\nmavo r,c & a\nmavo r,c & b\nmavo r,c & a\nmavo r,c & d\nmavo r,c & b\n",
         ":mavo_r_c_\n:mavo_r_c_[2]\nbtn mavo_r_c_[3],c \nbtn mavo_r_c_[4],c \nbtn mavo_r_c_[3],c \nbtn mavo_r_c_[5],c \n"
         "btn mavo_r_c_[4],c \n\nend\n" + B +
             ":mavo_r_c_[3]\na\ngoto r\nend\n\n:mavo_r_c_[4]\nb\ngoto r\nend\n\n:mavo_r_c_[5]\nd\ngoto r\nend\n\n\nend\n"),
    CASE("climb_shares_a_block_of_another_base", "x\nmavo r,c#2$& q\nmavo r,c& p\nmavo r,c& q\nmavo r,c& s\n",
         "x\nbtn mavo_r_c[2],c#2$\nbtn mavo_r_c,c\nbtn mavo_r_c[2],c\nbtn mavo_r_c[3],c\n\nend\n" + B +
             ":mavo_r_c[2]\nq\ngoto r\nend\n\n:mavo_r_c\np\ngoto r\nend\n\n:mavo_r_c[3]\ns\ngoto r\nend\n\n\nend\n"),
    CASE("names_equal_after_cleaning_share", "x\nmavo a b,c & z\nmavo a_b,c & z\n",
         "x\nbtn mavo_a_b_c_,c \nbtn mavo_a_b_c_,c \n\nend\n" + B + ":mavo_a_b_c_\nz\ngoto a b\nend\n\n\nend\n"),
    // A "," of the caption becomes "_" in the name, so that the name, the first
    // operand of the "btn" line, ends at the comma written after it.
    CASE("comma_in_caption", "x\nmavo room, Yes, go & pln x\n",
         "x\nbtn mavo_room__Yes__go_, Yes, go \n\nend\n" + B + ":mavo_room__Yes__go_\npln x\ngoto room\nend\n\n\nend\n"),
    CASE("commas_everywhere_in_a_long_caption", "x\nmavo r,,1,2,,3, 4,5,6,7,8,9,10,11,12,& p\n",
         "x\nbtn mavo_r__1_2__3__4_5_6_7_8_9_10_11_12_,,1,2,,3, 4,5,6,7,8,9,10,11,12,\n\nend\n" + B +
             ":mavo_r__1_2__3__4_5_6_7_8_9_10_11_12_\np\ngoto r\nend\n\n\nend\n"),
    CASE("comma_and_blank_share_then_climb", "x\nmavo r,a,b& p\nmavo r,a b& p\nmavo r,a_b& q\nmavo r,a,b& q\n",
         "x\nbtn mavo_r_a_b,a,b\nbtn mavo_r_a_b,a b\nbtn mavo_r_a_b[2],a_b\nbtn mavo_r_a_b[2],a,b\n\nend\n" + B +
             ":mavo_r_a_b\np\ngoto r\nend\n\n:mavo_r_a_b[2]\nq\ngoto r\nend\n\n\nend\n"),
    CASE("source_label_equal_to_the_cleaned_name", ":mavo_r_a_b\nmavo r,a,b& p\n",
         ":mavo_r_a_b\nbtn mavo_r_a_b[2],a,b\n\nend\n" + B + ":mavo_r_a_b[2]\np\ngoto r\nend\n\n\nend\n"),
    CASE("suffixes_replace_each_other", ":mavo_r_c\n:mavo_r_c[2]\n:mavo_r_c[3]\nmavo r,c&a\n",
         ":mavo_r_c\n:mavo_r_c[2]\n:mavo_r_c[3]\nbtn mavo_r_c[4],c\n\nend\n" + B + ":mavo_r_c[4]\na\ngoto r\nend\n\n\nend\n"),
};

const expand_case RUN[] = {
    CASE("comments_and_continuations_before_expansion", "x\n\tmavo r, Go ; note\n_on & a /* c */ & b\n",
         "x\n btn mavo_r__Go_on_, Go on \n\nend\n" + B + ":mavo_r__Go_on_\na  & b\ngoto r\nend\n\n\nend\n"),
    CASE("nul_bytes_are_ordinary", "x\n\0\nmavo r,c\0&a\n"s,
         "x\n\0\nbtn mavo_r_c\0,c\0\n\nend\n"s + B + ":mavo_r_c\0\na\ngoto r\nend\n\n\nend\n"s),
    CASE("empty_script", "", NO_FILE),
};

#undef CASE

auto case_name = [](const auto& info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(Road, Expand, ::testing::ValuesIn(ROAD), case_name);
INSTANTIATE_TEST_SUITE_P(StatementStart, Expand, ::testing::ValuesIn(STATEMENT_START), case_name);
INSTANTIATE_TEST_SUITE_P(Forms, Expand, ::testing::ValuesIn(FORMS), case_name);
INSTANTIATE_TEST_SUITE_P(LeftAsIs, Expand, ::testing::ValuesIn(LEFT_AS_IS), case_name);
INSTANTIATE_TEST_SUITE_P(FarReaching, Expand, ::testing::ValuesIn(FAR_REACHING), case_name);
INSTANTIATE_TEST_SUITE_P(Nested, Expand, ::testing::ValuesIn(NESTED), case_name);
INSTANTIATE_TEST_SUITE_P(Names, Expand, ::testing::ValuesIn(NAMES), case_name);
INSTANTIATE_TEST_SUITE_P(Run, Expand, ::testing::ValuesIn(RUN), case_name);

TEST(ExpandCount, CountsExpandedStatementsSharedOrNot) {
  script_text text = "x\nmavo r,c & a\nmavo r,c & a\nmavo q,c\nmavo r,c & b\n\nend\n" + B;
  label_table table;
  collect_labels(text, table);
  EXPECT_EQ(expand_action_buttons(text, table), 3u);
}

// Long climbs, resumed and shared: many buttons of one base with other actions,
// then the same actions again in another order, beside source labels and a base
// whose own name is a suffixed name of the first.
TEST(ExpandAgreesWithPlainReading, OnLongClimbs) {
  std::string script = "x\n:mavo_r_c\n:mavo_r_c[7]\n";
  for (int i = 0; i < 300; ++i) script += "mavo r,c&a" + std::to_string(i) + "\n";
  script += "mavo r,c#40$&a5\nmavo r,c#40$&new\nmavo r,c#301$&x\n";
  for (int i = 310; i >= 0; i -= 3) script += "mavo r,c&a" + std::to_string(i) + "\n";
  script += "mavo r,c&new\nmavo r,c&x\n";
  const std::string fast = result_file(script);
  EXPECT_EQ(fast, reference_file(script));
  EXPECT_NE(fast.find(":mavo_r_c[303]\na310\n"), std::string::npos);  // the climb resumes past every taken name
}

// Small scripts drawn from the pieces the rules react to, run through the fast
// stages and the plain reading: every byte must agree.
TEST(ExpandAgreesWithPlainReading, OnGeneratedScripts) {
  const char* const pieces[] = {"mavo ", "mavo ", "mavo ", "r", "c", " ", " ", ",", ",", "&", "&", "{", "}", "\n", "\n",
                                ":", " then ", " else ", "#", "$", "_", ";", "/*", "*/", "\t", "mavo_r_c", "[2]", "\r"};
  std::uint64_t state = 12345;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  for (int round = 0; round < 3000; ++round) {
    std::string script = "x\n";
    const int length = 2 + static_cast<int>(next() % 40);
    for (int i = 0; i < length; ++i) script += pieces[next() % (sizeof pieces / sizeof *pieces)];
    ASSERT_EQ(result_file(script), reference_file(script)) << "script: " << ::testing::PrintToString(script);
  }
}

}  // namespace
