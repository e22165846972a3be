#include "driver/run.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The blocks a result holds, counted from its text alone: the ":" lines after the
// banner that name a generated block.
std::uint64_t blocks_in(const std::string& result) {
  const std::size_t banner = result.find(BANNER);
  if (banner == std::string::npos) return 0;
  std::uint64_t n = 0;
  // The banner ends with the LF before the first block.
  for (std::size_t at = result.find("\n:mavo_", banner); at != std::string::npos; at = result.find("\n:mavo_", at + 1)) ++n;
  return n;
}

struct count_case {
  const char* name;
  std::string script;
  std::uint64_t buttons, blocks;
};

const count_case COUNT_CASES[] = {
    {"none", ":a\nmsg hello\nend\n", 0, 0},
    {"plain_buttons_count_nothing", ":a\nmavo b,Go\nmavo c,Run\n", 0, 0},
    {"one", ":a\nmavo b,Go & x\n", 1, 1},
    {"equal_buttons_share_one_block", ":a\nmavo b,Go & x\nmavo b,Go & x\n:c\nmavo b,Go & x\n", 3, 1},
    {"same_name_other_actions_climb", ":a\nmavo b,Go & x\nmavo b,Go & y\nmavo b,Go & z\n", 3, 3},
    {"name_taken_by_a_label", ":mavo_b_Go_\nmavo b,Go & x\n", 1, 1},
    {"brace_and_line_forms", ":a\nmavo b,One & {x\ny}\nmavo c,Two & z\n", 2, 2},
    {"button_inside_actions", ":a\nmavo b,Outer & {x & mavo c,Inner & y}\n", 2, 2},
    {"climbed_then_shared", ":a\nmavo b,Go & x\nmavo b,Go & y\nmavo b,Go & y\nmavo b,Go & x\n", 4, 2},
};

class TransformCounts : public ::testing::TestWithParam<count_case> {};

TEST_P(TransformCounts, ButtonsExpandedAndBlocksMade) {
  const count_case& c = GetParam();
  script_text text = c.script;
  std::uint64_t blocks = 99;
  EXPECT_EQ(transform_script(text, &blocks), c.buttons);
  EXPECT_EQ(blocks, c.blocks);
  EXPECT_EQ(blocks_in(text), c.blocks) << "the text holds another number of blocks";
  // Asking for the blocks changes nothing in the result.
  script_text plain = c.script;
  EXPECT_EQ(transform_script(plain), c.buttons);
  EXPECT_EQ(plain, text);
}

INSTANTIATE_TEST_SUITE_P(Cases, TransformCounts, ::testing::ValuesIn(COUNT_CASES),
                         [](const ::testing::TestParamInfo<count_case>& p) { return std::string(p.param.name); });

std::string read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The bundled examples: the counts agree with what their expected results hold.
TEST(TransformCounts, BundledExamples) {
  for (const char* name : {"castle", "zamok"}) {
    const fs::path examples = fs::path(MAVO_SOURCE_DIR) / "examples";
    const std::string expected = read_bytes(examples / (std::string(name) + ".expected"));
    ASSERT_FALSE(expected.empty()) << name;
    script_text text;
    // The script as text mode reads it: the CR of each CR LF goes.
    for (const char c : read_bytes(examples / (std::string(name) + ".qst"))) {
      if (c != '\r') text += c;
    }
    std::uint64_t blocks = 0;
    const std::uint64_t buttons = transform_script(text, &blocks);
    std::string expected_lf;
    for (const char c : expected) {
      if (c != '\r') expected_lf += c;
    }
    EXPECT_EQ(blocks, blocks_in(expected_lf)) << name;
    // Every button expanded, in the script or inside a block's actions, became one
    // "btn" to a generated label.
    std::uint64_t btn_lines = 0;
    for (std::size_t at = expected_lf.find("btn mavo_"); at != std::string::npos; at = expected_lf.find("btn mavo_", at + 1)) {
      ++btn_lines;
    }
    EXPECT_EQ(buttons, btn_lines) << name;
    EXPECT_GT(blocks, 2u) << name;
  }
}

// ---- what a run tells of itself ----

class RunFacts : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("mavo-run-facts-" + std::to_string(std::random_device()()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    before_ = fs::current_path();
    fs::current_path(folder_);
  }
  void TearDown() override {
    fs::current_path(before_);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  static void put(const char* name, const std::string& bytes) {
    std::ofstream out(name, std::ios::binary);
    out << bytes;
  }
  // The arguments live in the fixture: `facts.script` points into them after the run.
  int run_with(std::vector<std::string> args, run_facts& facts) {
    args_ = std::move(args);
    args_.insert(args_.begin(), "mavo");
    argv_.clear();
    for (std::string& arg : args_) argv_.push_back(arg.data());
    argv_.push_back(nullptr);
    return run(static_cast<int>(args_.size()), argv_.data(), facts);
  }
  fs::path folder_, before_;
  std::vector<std::string> args_;
  std::vector<char*> argv_;
};

TEST_F(RunFacts, Written) {
  put("in.qst", ":a\nmavo b,Go & x\nmavo b,Go & x\nmavo c,Run & y\n");
  run_facts facts;
  EXPECT_EQ(run_with({"in.qst"}, facts), 0);
  EXPECT_EQ(facts.outcome, RUN_WRITTEN);
  EXPECT_EQ(facts.arguments, 1);
  EXPECT_STREQ(facts.script, "in.qst");
  EXPECT_EQ(facts.buttons, 3u);
  EXPECT_EQ(facts.blocks, 2u);
  EXPECT_TRUE(fs::exists("mavo.qst"));
}

TEST_F(RunFacts, NothingExpanded) {
  put("in.qst", ":a\nmavo b,Go\n");
  run_facts facts;
  EXPECT_EQ(run_with({"in.qst"}, facts), 0);
  EXPECT_EQ(facts.outcome, RUN_NOTHING_EXPANDED);
  EXPECT_EQ(facts.buttons, 0u);
  EXPECT_FALSE(fs::exists("mavo.qst"));
}

TEST_F(RunFacts, LastOfSeveralUnreadable) {
  put("in.qst", ":a\nmavo b,Go & x\n");
  run_facts facts;
  EXPECT_EQ(run_with({"in.qst", "x", "gone.qst"}, facts), 1);
  EXPECT_EQ(facts.outcome, RUN_FAILED);
  EXPECT_EQ(facts.arguments, 3);
  EXPECT_STREQ(facts.script, "gone.qst");
  EXPECT_FALSE(fs::exists("mavo.qst"));
}

TEST_F(RunFacts, ScriptNamedLikeAnOptionIsRead) {
  put("--version", ":a\nmavo b,Go & x\n");
  run_facts facts;
  EXPECT_EQ(run_with({"--version"}, facts), 0);
  EXPECT_EQ(facts.outcome, RUN_WRITTEN);
  EXPECT_EQ(facts.buttons, 1u);
}

}  // namespace
