#include "labels/labels.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::string_literals;

TEST(LabelTable, HashIsTheWrappingSumOfTheBytes) {
  EXPECT_EQ(label_hash(""), 0);
  EXPECT_EQ(label_hash("ab"), label_hash("ba"));
  EXPECT_EQ(label_hash("\xff\x02"), 1);
  EXPECT_EQ(label_hash("a"), 97);
  // Names of every length up to a few words, with bytes that carry when added.
  std::string name;
  for (int n = 0; n < 40; ++n) {
    unsigned sum = 0;
    for (const char c : name) sum += static_cast<unsigned char>(c);
    EXPECT_EQ(label_hash(name), sum % 256) << n;
    name += static_cast<char>(0xF0 + n * 37);
  }
}

TEST(LabelTable, FindsExactNamesOnly) {
  label_table table;
  label_add(table, "", LABEL_SOURCE, {});
  label_add(table, "ba", LABEL_SOURCE, "");
  label_add(table, "Room", LABEL_SOURCE, "");
  ASSERT_NE(label_find(table, ""), nullptr);
  EXPECT_EQ(label_find(table, "ab"), nullptr);  // same chain, same length, other bytes
  EXPECT_EQ(label_find(table, "b"), nullptr);
  EXPECT_EQ(label_find(table, "room"), nullptr);
  EXPECT_EQ(label_name(*label_find(table, "Room")), "Room");
  label_add(table, "ab", LABEL_GENERATED, "act");
  EXPECT_EQ(label_find(table, "ab")->kind, LABEL_GENERATED);
  EXPECT_EQ(label_find(table, "ba")->kind, LABEL_SOURCE);
  EXPECT_EQ(label_find(table, "a\0b"s), nullptr);
}

TEST(LabelTable, NewestEqualNameIsFound) {
  label_table table;
  label_add(table, "x", LABEL_SOURCE, "");
  const label_entry& newer = label_add(table, "x", LABEL_GENERATED, "body");
  EXPECT_EQ(label_find(table, "x"), &newer);
  EXPECT_EQ(label_body(*label_find(table, "x")), "body");
}

TEST(LabelTable, NewestEqualNameIsFoundWhereverEachOneIsKept) {
  // New entries are indexed a batch at a time: the older name is indexed, the
  // newer one still waiting, then both indexed.
  label_table table;
  label_add(table, "x", LABEL_SOURCE, "");
  for (std::size_t i = 0; i < LABEL_BATCH; ++i) label_add(table, "filler" + std::to_string(i), LABEL_SOURCE, "");
  const label_entry& newer = label_add(table, "x", LABEL_GENERATED, "body");
  EXPECT_EQ(label_find(table, "x"), &newer);
  for (std::size_t i = 0; i < LABEL_BATCH; ++i) label_add(table, "more" + std::to_string(i), LABEL_SOURCE, "");
  EXPECT_EQ(label_find(table, "x"), &newer);
  EXPECT_EQ(label_find(table, "filler0")->kind, LABEL_SOURCE);
  EXPECT_EQ(label_find(table, "filler"), nullptr);
}

TEST(LabelTable, ManyAnagramsShareAChainAndStayApart) {
  label_table table;
  std::string name = "abcdefgh";
  std::vector<std::string> added;
  for (int i = 0; i < 5000 && std::next_permutation(name.begin(), name.end()); ++i) {
    label_add(table, name, LABEL_GENERATED, name);
    added.push_back(name);
  }
  for (const std::string& n : added) {
    ASSERT_NE(label_find(table, n), nullptr);
    EXPECT_EQ(label_body(*label_find(table, n)), n);
  }
  EXPECT_EQ(label_find(table, "abcdefgh"), nullptr);  // the first arrangement was never added
}

TEST(LabelTable, ReleaseAndClearEmptyEveryChain) {
  label_table table;
  label_add(table, "a", LABEL_SOURCE, "");
  label_table_release(table);
  EXPECT_EQ(label_find(table, "a"), nullptr);
  label_add(table, "b", LABEL_SOURCE, "");
  label_table_clear(table);
  EXPECT_EQ(label_find(table, "b"), nullptr);
}

struct collect_case {
  const char* name;
  std::string text;
  std::vector<std::string> labels;  // in the order they are recorded
};

// Names the case in test reports instead of dumping its bytes.
void PrintTo(const collect_case& c, std::ostream* os) { *os << c.name; }

class CollectLabels : public ::testing::TestWithParam<collect_case> {};

TEST_P(CollectLabels, RecordsTheRestOfEachLineAfterItsFirstColon) {
  const collect_case& c = GetParam();
  label_table table;
  label_add(table, "stale", LABEL_GENERATED, "x");  // emptied before collecting
  collect_labels(c.text, table);
  EXPECT_EQ(label_find(table, "stale"), nullptr);
  std::vector<std::string> recorded;
  for (std::size_t i = 0; i < table.entry_count; ++i)
    if (label_name(label_entry_at(table, i)) != "stale") recorded.emplace_back(label_name(label_entry_at(table, i)));
  EXPECT_EQ(recorded, c.labels);
  for (const std::string& name : c.labels) {
    ASSERT_NE(label_find(table, name), nullptr) << name;
    EXPECT_EQ(label_find(table, name)->kind, LABEL_SOURCE);
  }
}

const collect_case COLLECT_CASES[] = {
    {"none", "btn a,b\nend\n", {}},
    {"label_lines", ":hall\np text\n:cellar\n", {"hall", "cellar"}},
    {"colon_anywhere_on_the_line", "btn n,Note: go north\n", {" go north"}},
    {"one_name_a_line", "a:b:c\n", {"b:c"}},
    {"untrimmed", ":room  \n:\n", {"room  ", ""}},
    {"defined_twice", ":x\n:x\n", {"x", "x"}},
    {"nul_is_part_of_the_name", ":a\0b\n"s, {"a\0b"s}},
};

INSTANTIATE_TEST_SUITE_P(Cases, CollectLabels, ::testing::ValuesIn(COLLECT_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
