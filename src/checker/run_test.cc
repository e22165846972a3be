// The mavo-check program: its options and statuses, several files in one report,
// the files of one game, and the manifest beside a script; run in a temporary folder.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "checker/run.h"
#include "common/version.h"

namespace {

namespace fs = std::filesystem;

class CheckProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("mavo-check-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
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
  static void put(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
  }
  // Runs mavo-check with `args`; its status, standard output and error.
  int run(std::vector<std::string> args, std::string& out, std::string& err) {
    args.insert(args.begin(), "mavo-check");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int status = check_run(static_cast<int>(args.size()), argv.data());
    std::fflush(stdout);
    out = ::testing::internal::GetCapturedStdout();
    err = ::testing::internal::GetCapturedStderr();
    return status;
  }
  fs::path folder_, before_;
};

TEST_F(CheckProgram, StatusesAndOptions) {
  put("clean.qst", ":start1\npln Hi\nend\n");
  put("bad.qst", ":start\ngoto nowhere\nend\n");
  put("bad2.qst", ":start2\ngoto nowhere\ngoto away\nend\n");
  put("text.qst", ":start3\npln a;b\nend\n");
  std::string out, err;
  struct {
    std::vector<std::string> args;
    int status;
    const char* out_starts;
    const char* err_starts;
  } const rows[] = {
      {{"clean.qst"}, 0, "", ""},
      {{"bad.qst"}, 1, "bad.qst:2:6: warning: ", "1 warning in 1 file\n"},
      {{"clean.qst", "bad.qst", "bad2.qst"}, 1, "bad.qst:2:6: ", "3 warnings in 2 files\n"},
      {{"--format=json", "clean.qst"}, 0, "[]", ""},
      {{"--format", "json", "bad.qst"}, 1, "[", ""},
      {{"--mode", "dosurq", "--", "bad.qst"}, 1, "bad.qst:2:6: ", "1 warning in 1 file\n"},
      {{"gone.qst"}, 2, "", "gone.qst: "},
      {{"gone.qst", "bad.qst"}, 2, "bad.qst:2:6: ", "gone.qst: "},
      {{"--mode", "qsp", "bad.qst"}, 2, "", "mavo-check: unknown mode 'qsp'\nusage: mavo-check "},
      {{"--format", "xml", "bad.qst"}, 2, "", "mavo-check: unknown format 'xml'\nusage: "},
      {{"--color", "bad.qst"}, 2, "", "mavo-check: unknown option '--color'\nusage: "},
      {{"--mode"}, 2, "", "mavo-check: --mode needs a value\n"},
      {{}, 2, "", "mavo-check: no script named\nusage: "},
      {{"--version"}, 0, "mavo-check " MAVO_VERSION "\n", ""},
      {{"--help"}, 0, "usage: mavo-check [--mode urqw|ripurq|dosurq|akurq] [--format gcc|json] [--all] ", ""},
      // mavo's own reading reaches no player of a script without action buttons.
      {{"text.qst"}, 0, "", "1 finding about mavo's reading left out: no action button is expanded, so mavo "
                            "writes no mavo.qst; --all shows them\n"},
      {{"--format=json", "text.qst"}, 0, "[]", "1 finding about mavo's reading left out"},
      {{"--all", "text.qst"}, 1, "text.qst:2:6: warning: ", "1 warning in 1 file\n"},
      {{"--disable", "unknown-location", "bad.qst"}, 0, "", ""},
      {{"--disable=comment-in-text,unknown-location", "--all", "text.qst", "bad2.qst"}, 0, "", ""},
      {{"--disable", "missing-ampersand", "bad2.qst"}, 1, "bad2.qst:2:6: ", "2 warnings in 1 file\n"},
      {{"--disable", "unknown-location,unknown-locaton", "bad.qst"}, 2, "",
       "mavo-check: --disable: 'unknown-locaton' is not the name of a check [unknown-check-name]\nusage: "},
      {{"--disable"}, 2, "", "mavo-check: --disable needs a value\n"},
  };
  for (const auto& row : rows) {
    std::string words;
    for (const std::string& a : row.args) words += a + " ";
    EXPECT_EQ(run(row.args, out, err), row.status) << words;
    EXPECT_EQ(out.substr(0, std::string_view(row.out_starts).size()), row.out_starts) << words;
    EXPECT_EQ(err.substr(0, std::string_view(row.err_starts).size()), row.err_starts) << words;
    if (row.out_starts[0] == '\0') EXPECT_EQ(out, "") << words;
    if (row.err_starts[0] == '\0') EXPECT_EQ(err, "") << words;
  }
}

// Several files give one report: in gcc form each file's findings in turn, in json
// form one array that holds them all, a file that cannot be read left out.
TEST_F(CheckProgram, SeveralFilesOneReport) {
  std::string many = ":many\n";
  for (int i = 0; i < 3000; ++i) many += "goto nowhere" + std::to_string(i) + "\n";
  put("many.qst", many + "end\n");
  put("bad.qst", ":start\ngoto nowhere\nend\n");
  std::string out, err;
  ASSERT_EQ(run({"many.qst", "bad.qst"}, out, err), 1);
  std::string single, ignored;
  run({"bad.qst"}, single, ignored);
  ASSERT_GT(out.size(), single.size());
  EXPECT_EQ(out.substr(out.size() - single.size()), single);
  std::size_t warnings = 0;
  for (std::size_t at = out.find(": warning: "); at != std::string::npos; at = out.find(": warning: ", at + 1))
    ++warnings;
  EXPECT_EQ(warnings, 3001u);
  EXPECT_NE(out.find("\nmany.qst:3001:6: warning: "), std::string::npos);
  ASSERT_EQ(run({"--format=json", "many.qst", "gone.qst", "bad.qst"}, out, err), 2);
  const nlohmann::json all = nlohmann::json::parse(out, nullptr, false);
  ASSERT_TRUE(all.is_array());
  ASSERT_EQ(all.size(), 3001u);
  EXPECT_EQ(all[2999]["line"], 3001);
  EXPECT_EQ(all[3000]["file"], "bad.qst");
  EXPECT_EQ(err.substr(0, 10), "gone.qst: ");
}

// The dialect: UrqW's manifest.json beside the script names it, an option overrides it.
// A game in several files: the files named from one folder see one another's
// locations (UrqW plays them together); a file of another folder, or the same file
// named twice, does not count.
TEST_F(CheckProgram, GameInSeveralFiles) {
  fs::create_directories("game");
  fs::create_directories("other");
  put("game/_part1.qst", ":start\nbtn Forest,Go\nmavo glade,Glade & pln Off.\ngoto nowhere\npln Done. goto forest\nend\n");
  put("game/part2.qst", ":forest\nend\n:Glade\nend\n");
  put("other/more.qst", ":nowhere\nend\n");
  const auto places = [](const std::string& out) {
    std::string found;
    for (std::size_t at = out.find(": warning: "); at != std::string::npos; at = out.find(": warning: ", at + 1)) {
      const std::size_t begin = out.rfind('\n', at) + 1;  // npos + 1 is 0
      found += out.substr(begin, at - begin) + " " + out.substr(out.find('[', at), out.find(']', at) - out.find('[', at) + 1) + "\n";
    }
    return found;
  };
  std::string out, err;
  EXPECT_EQ(run({"game/_part1.qst"}, out, err), 1);
  EXPECT_EQ(places(out),
            "game/_part1.qst:2:5 [unknown-location]\n"
            "game/_part1.qst:3:1 [target-not-found]\n"
            "game/_part1.qst:4:6 [unknown-location]\n");
  const std::string together =
      "game/_part1.qst:4:6 [unknown-location]\n"
      "game/_part1.qst:5:11 [missing-ampersand]\n";
  EXPECT_EQ(run({"game/_part1.qst", "game/part2.qst", "other/more.qst"}, out, err), 1);
  EXPECT_EQ(places(out), together);
  EXPECT_EQ(run({"./game/part2.qst", "game/_part1.qst"}, out, err), 1);
  EXPECT_EQ(places(out), together);
  EXPECT_EQ(run({"game/_part1.qst", "./game/_part1.qst"}, out, err), 1);
  EXPECT_EQ(places(out),
            "game/_part1.qst:2:5 [unknown-location]\n"
            "game/_part1.qst:3:1 [target-not-found]\n"
            "game/_part1.qst:4:6 [unknown-location]\n"
            "./game/_part1.qst:2:5 [unknown-location]\n"
            "./game/_part1.qst:3:1 [target-not-found]\n"
            "./game/_part1.qst:4:6 [unknown-location]\n");
}

TEST_F(CheckProgram, ManifestNamesTheMode) {
  fs::create_directories("game");
  put("game/script.qst", ":start\npln Hello; world\nend\n");
  std::string out, err;
  EXPECT_EQ(run({"--all", "game/script.qst"}, out, err), 1) << "urqw when there is no manifest";
  put("game/manifest.json", R"({"manifest_version": 1, "title": "x", "urq_mode": "ripurq"})");
  EXPECT_EQ(run({"--all", "game/script.qst"}, out, err), 0) << out;
  EXPECT_EQ(err, "");
  EXPECT_EQ(run({"--all", "--mode", "urqw", "game/script.qst"}, out, err), 1);
  // What UrqW refuses to load is said in one line, with the mode checked in.
  const struct {
    const char* manifest;
    const char* err;
  } rows[] = {
      {"{not json", "game/manifest.json: not a valid JSON object: UrqW refuses to load such a game; checked in urqw mode\n"},
      {R"({"urq_mode": "ripurq"})",
       "game/manifest.json: \"manifest_version\" is not 1: UrqW refuses to load such a game; checked in urqw mode\n"},
      {R"({"manifest_version": 1, "urq_mode": "RipURQ"})",
       "game/manifest.json: \"urq_mode\" \"RipURQ\" is none of urqw, ripurq, dosurq, akurq: UrqW refuses to load "
       "such a game; checked in urqw mode\n"},
      {R"({"manifest_version": 1, "urq_mode": "ripurq", "game_encoding": "utf-8"})",
       "game/manifest.json: \"game_encoding\" \"utf-8\" is neither \"UTF-8\" nor \"CP1251\": UrqW refuses to load "
       "such a game; checked in urqw mode\n"},
      {R"({"manifest_version": 1, "html_support": "yes"})",
       "game/manifest.json: \"html_support\" is neither true nor false: UrqW refuses to load such a game; "
       "checked in urqw mode\n"},
  };
  for (const auto& row : rows) {
    put("game/manifest.json", row.manifest);
    EXPECT_EQ(run({"--all", "game/script.qst", "game/script.qst"}, out, err), 1) << row.manifest;
    EXPECT_EQ(err, std::string(row.err) + "2 warnings in 2 files\n") << row.manifest;
  }
  // An empty urq_mode or game_encoding is none to UrqW's loader: urqw, nothing said.
  put("game/manifest.json", R"({"manifest_version": 1.0, "urq_mode": "", "game_encoding": null})");
  EXPECT_EQ(run({"--all", "game/script.qst"}, out, err), 1);
  EXPECT_EQ(err, "1 warning in 1 file\n");
}

// The same location in two files of one game: reported in the file whose
// definition no jump reaches, as UrqW orders the files; a script beside the
// mavo.qst written from it is told once.
TEST_F(CheckProgram, LocationsInTwoFilesOfAGame) {
  fs::create_directories("game");
  put("game/_lib.qst", ":start\npln A\nend\n:inv\npln Bag\nend\n");
  put("game/a.qst", ":main\nend\n:Inv\nend\n");
  put("game/b.qst", ":main\nend\n");
  std::string out, err;
  EXPECT_EQ(run({"game/b.qst", "game/a.qst", "game/_lib.qst"}, out, err), 1);
  EXPECT_EQ(out,
            "game/a.qst:1:1: warning: the location \":main\" is defined in game/b.qst too (line 1): UrqW plays the "
            "game's files as one text, and a jump goes to the definition that comes first in the order of the files "
            "in the game's zip; the other is reached only by running on from the line before it [duplicate-location]\n"
            ":main\n^\ngame/a.qst:1:1: note: give one of the two locations a name of its own\n"
            "game/b.qst:1:1: note: the other definition\n"
            "game/a.qst:3:1: warning: the location \":Inv\" is defined in game/_lib.qst too (line 4), which UrqW loads "
            "first, its name starting with \"_\": a jump to it goes there, and this one is reached only by running on "
            "from the line before it [duplicate-location]\n"
            ":Inv\n^\ngame/a.qst:3:1: note: give this location a name of its own\n"
            "game/_lib.qst:4:1: note: the definition that jumps go to\n");
  fs::create_directories("castle");
  put("castle/castle.qst", ":start\nmavo hall,Enter & pln In\nend\n:hall\nend\n");
  put("castle/mavo.qst", ":start\r\nbtn mavo_hall_Enter_,Enter\r\nend\r\n:hall\r\nend\r\n"
                        ":mavo_hall_Enter_\r\npln In\r\ngoto hall\r\nend\r\n");
  EXPECT_EQ(run({"castle/castle.qst", "castle/mavo.qst"}, out, err), 1);
  EXPECT_EQ(out.substr(0, out.find('[')),
            "castle/castle.qst:1:1: warning: castle/mavo.qst stands beside this script and defines \":start\" too "
            "(line 1), and 1 more of its locations: it is the result mavo wrote from this script, and UrqW plays "
            "every .qst of a game together, so each location is there twice and a jump may go to this script's own, "
            "whose action buttons UrqW cannot read ");
  EXPECT_EQ(err, "1 warning in 1 file\n");
  put("castle/castle.qst", ":start\nend\n:hall\nend\n");
  EXPECT_EQ(run({"castle/mavo.qst", "castle/castle.qst"}, out, err), 1) << "no action button: an older mavo.qst";
  EXPECT_EQ(out.find("stands beside this script"), std::string::npos);
  const std::string told = "castle/castle.qst:1:1: warning: the location \":start\" is defined in castle/mavo.qst too "
                           "(line 1): UrqW plays";
  EXPECT_EQ(out.substr(0, told.size()), told);
  EXPECT_EQ(err, "2 warnings in 1 file\n");
}

}  // namespace
