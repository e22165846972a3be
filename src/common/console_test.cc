#include "common/console.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// ---- the decision ----

struct decision_case {
  const char* name;
  std::uint32_t process_count;
  bool handles_on_console;
  bool own;
};

const decision_case DECISION_CASES[] = {
    {"double_click_or_drop", 1, true, true},
    {"no_console_at_all", 0, false, false},  // redirected under a service, a pipe under wine
    {"started_from_cmd", 2, true, false},
    {"cmd_started_from_a_bat_file", 3, true, false},
    {"own_console_output_redirected", 1, false, false},  // start mavo.exe x.qst > log.txt
    {"from_cmd_redirected", 2, false, false},
    {"many_processes", 40, true, false},
};

class OwnConsole : public ::testing::TestWithParam<decision_case> {};

TEST_P(OwnConsole, OnlyAConsoleMadeForTheProcessAloneWithNothingRedirected) {
  const decision_case& c = GetParam();
  for (const ui_language language : {UI_ENGLISH, UI_RUSSIAN}) {
    EXPECT_EQ(own_console({c.process_count, c.handles_on_console, language}), c.own);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, OwnConsole, ::testing::ValuesIn(DECISION_CASES),
                         [](const ::testing::TestParamInfo<decision_case>& p) { return std::string(p.param.name); });

// ---- the report of mavo ----

const char* const CLOSE_EN = "\nPress any key to close.\n";
const char* const CLOSE_RU = "\nНажмите любую клавишу, чтобы закрыть окно.\n";
const char* const HOW_TO_EN =
    "To use it, drop a .qst script on mavo.exe, or run \"mavo.exe script.qst\" in a console.\n";
const char* const HOW_TO_RU =
    "Чтобы обработать скрипт, перетащите файл .qst на mavo.exe или выполните в консоли "
    "\"mavo.exe script.qst\".\n";
const char* const CASTLE = "C:\\Games\\Замок\\Замок.qst";
const char* const FOLDER = "C:\\Games\\Замок";

struct report_case {
  const char* name;
  run_facts run;
  ui_language language;
  std::string report;
};

run_facts written(std::uint64_t buttons, std::uint64_t blocks, int arguments = 1) {
  return {RUN_WRITTEN, arguments, CASTLE, buttons, blocks};
}

const report_case REPORT_CASES[] = {
    {"written", written(12, 10), UI_ENGLISH,
     "mavo.qst written in C:\\Games\\Замок: 12 action buttons, 10 blocks\n" + std::string(CLOSE_EN)},
    {"written_one_of_each", written(1, 1), UI_ENGLISH,
     "mavo.qst written in C:\\Games\\Замок: 1 action button, 1 block\n" + std::string(CLOSE_EN)},
    {"written_all_shared", written(2, 1), UI_ENGLISH,
     "mavo.qst written in C:\\Games\\Замок: 2 action buttons, 1 block\n" + std::string(CLOSE_EN)},
    {"written_russian", written(12, 10), UI_RUSSIAN,
     "mavo.qst записан в папке C:\\Games\\Замок: 12 кнопок с действиями, 10 блоков\n" + std::string(CLOSE_RU)},
    {"written_russian_one", written(1, 1), UI_RUSSIAN,
     "mavo.qst записан в папке C:\\Games\\Замок: 1 кнопка с действиями, 1 блок\n" + std::string(CLOSE_RU)},
    {"written_russian_few", written(4, 2), UI_RUSSIAN,
     "mavo.qst записан в папке C:\\Games\\Замок: 4 кнопки с действиями, 2 блока\n" + std::string(CLOSE_RU)},
    {"written_russian_teens", written(11, 14), UI_RUSSIAN,
     "mavo.qst записан в папке C:\\Games\\Замок: 11 кнопок с действиями, 14 блоков\n" + std::string(CLOSE_RU)},
    {"written_russian_past_twenty", written(21, 102), UI_RUSSIAN,
     "mavo.qst записан в папке C:\\Games\\Замок: 21 кнопка с действиями, 102 блока\n" + std::string(CLOSE_RU)},
    {"written_russian_hundreds", written(111, 105), UI_RUSSIAN,
     "mavo.qst записан в папке C:\\Games\\Замок: 111 кнопок с действиями, 105 блоков\n" + std::string(CLOSE_RU)},
    {"nothing_expanded", {RUN_NOTHING_EXPANDED, 1, CASTLE, 0, 0}, UI_ENGLISH,
     "nothing expanded: mavo.qst not written\n" + std::string(CLOSE_EN)},
    {"nothing_expanded_russian", {RUN_NOTHING_EXPANDED, 1, CASTLE, 0, 0}, UI_RUSSIAN,
     "раскрывать нечего: mavo.qst не записан\n" + std::string(CLOSE_RU)},
    {"nothing_expanded_posix_path", {RUN_NOTHING_EXPANDED, 1, "/home/me/games/hall.qst", 0, 0}, UI_ENGLISH,
     "nothing expanded: mavo.qst not written\n" + std::string(CLOSE_EN)},
    {"failed_message_above", {RUN_FAILED, 1, CASTLE, 0, 0}, UI_ENGLISH, CLOSE_EN},
    {"failed_message_above_russian", {RUN_FAILED, 1, CASTLE, 0, 0}, UI_RUSSIAN, CLOSE_RU},
    {"double_click", {RUN_USAGE, 0, nullptr, 0, 0}, UI_ENGLISH, HOW_TO_EN + std::string(CLOSE_EN)},
    {"double_click_russian", {RUN_USAGE, 0, nullptr, 0, 0}, UI_RUSSIAN, HOW_TO_RU + std::string(CLOSE_RU)},
    {"usage_not_written", {RUN_FAILED, 0, nullptr, 0, 0}, UI_ENGLISH, CLOSE_EN},
    {"help", {RUN_HELP, 1, "--help", 0, 0}, UI_ENGLISH, CLOSE_EN},
    {"version", {RUN_VERSION, 1, "--version", 0, 0}, UI_RUSSIAN, CLOSE_RU},
    {"three_dropped", written(3, 2, 3), UI_ENGLISH,
     "3 files were given: only the last one, Замок.qst, was read.\n"
     "mavo.qst written in C:\\Games\\Замок: 3 action buttons, 2 blocks\n" + std::string(CLOSE_EN)},
    {"two_dropped_russian", written(3, 2, 2), UI_RUSSIAN,
     "Передано файлов: 2; прочитан только последний, Замок.qst.\n"
     "mavo.qst записан в папке C:\\Games\\Замок: 3 кнопки с действиями, 2 блока\n" + std::string(CLOSE_RU)},
    {"two_dropped_last_unreadable", {RUN_FAILED, 2, "C:\\a\\b.qst", 0, 0}, UI_ENGLISH,
     "2 files were given: only the last one, b.qst, was read.\n" + std::string(CLOSE_EN)},
    {"two_dropped_nothing_expanded", {RUN_NOTHING_EXPANDED, 2, "C:\\a\\b.qst", 0, 0}, UI_ENGLISH,
     "2 files were given: only the last one, b.qst, was read.\n"
     "nothing expanded: mavo.qst not written\n" + std::string(CLOSE_EN)},
};

class MavoReport : public ::testing::TestWithParam<report_case> {};

TEST_P(MavoReport, SaysWhatBecameOfTheScript) {
  const report_case& c = GetParam();
  EXPECT_EQ(mavo_report(c.run, FOLDER, false, c.language), c.report);
}

INSTANTIATE_TEST_SUITE_P(Cases, MavoReport, ::testing::ValuesIn(REPORT_CASES),
                         [](const ::testing::TestParamInfo<report_case>& p) { return std::string(p.param.name); });

// An earlier mavo.qst in the folder is named where nothing was written, and only there.
TEST(MavoReport, NamesAnEarlierResultOnlyWhenNothingWasWritten) {
  EXPECT_EQ(mavo_report({RUN_NOTHING_EXPANDED, 1, CASTLE, 0, 0}, FOLDER, true, UI_ENGLISH),
            "nothing expanded: mavo.qst not written\n(the mavo.qst here is from an earlier run)\n" +
                std::string(CLOSE_EN));
  EXPECT_EQ(mavo_report({RUN_NOTHING_EXPANDED, 2, "C:\\a\\b.qst", 0, 0}, FOLDER, true, UI_RUSSIAN),
            "Передано файлов: 2; прочитан только последний, b.qst.\n"
            "раскрывать нечего: mavo.qst не записан\n(mavo.qst здесь остался от прошлого запуска)\n" +
                std::string(CLOSE_RU));
  EXPECT_EQ(mavo_report(written(12, 10), FOLDER, true, UI_ENGLISH),
            "mavo.qst written in C:\\Games\\Замок: 12 action buttons, 10 blocks\n" + std::string(CLOSE_EN));
  EXPECT_EQ(mavo_report({RUN_FAILED, 1, CASTLE, 0, 0}, FOLDER, true, UI_ENGLISH), CLOSE_EN);
}

// ---- the terminal's lines ----

struct outcome_case {
  const char* name;
  run_facts run;
  bool earlier;
  ui_language language;
  std::string lines;
};

const outcome_case OUTCOME_CASES[] = {
    {"written", written(12, 10), false, UI_ENGLISH, "mavo.qst written: 12 action buttons, 10 blocks\n"},
    {"written_one_of_each", written(1, 1), false, UI_ENGLISH, "mavo.qst written: 1 action button, 1 block\n"},
    {"written_earlier_said_nothing_of", written(3, 2), true, UI_ENGLISH,
     "mavo.qst written: 3 action buttons, 2 blocks\n"},
    {"written_russian", written(21, 3), false, UI_RUSSIAN, "mavo.qst записан: 21 кнопка с действиями, 3 блока\n"},
    {"written_russian_many", written(5, 11), true, UI_RUSSIAN, "mavo.qst записан: 5 кнопок с действиями, 11 блоков\n"},
    {"two_given_said_nothing_of", written(1, 1, 2), false, UI_ENGLISH, "mavo.qst written: 1 action button, 1 block\n"},
    {"nothing_expanded", {RUN_NOTHING_EXPANDED, 1, CASTLE, 0, 0}, false, UI_ENGLISH,
     "nothing expanded: mavo.qst not written\n"},
    {"nothing_expanded_earlier", {RUN_NOTHING_EXPANDED, 1, CASTLE, 0, 0}, true, UI_ENGLISH,
     "nothing expanded: mavo.qst not written\n(the mavo.qst here is from an earlier run)\n"},
    {"nothing_expanded_russian", {RUN_NOTHING_EXPANDED, 1, CASTLE, 0, 0}, false, UI_RUSSIAN,
     "раскрывать нечего: mavo.qst не записан\n"},
    {"nothing_expanded_earlier_russian", {RUN_NOTHING_EXPANDED, 1, CASTLE, 0, 0}, true, UI_RUSSIAN,
     "раскрывать нечего: mavo.qst не записан\n(mavo.qst здесь остался от прошлого запуска)\n"},
    {"failed", {RUN_FAILED, 1, CASTLE, 0, 0}, true, UI_ENGLISH, ""},
    {"usage", {RUN_USAGE, 0, nullptr, 0, 0}, true, UI_RUSSIAN, ""},
    {"help", {RUN_HELP, 1, "-h", 0, 0}, false, UI_ENGLISH, ""},
    {"version", {RUN_VERSION, 1, "--version", 0, 0}, false, UI_ENGLISH, ""},
};

class OutcomeLines : public ::testing::TestWithParam<outcome_case> {};

TEST_P(OutcomeLines, SayWhatBecameOfTheScript) {
  const outcome_case& c = GetParam();
  EXPECT_EQ(outcome_lines(c.run, {}, c.earlier, c.language), c.lines);
}

INSTANTIATE_TEST_SUITE_P(Cases, OutcomeLines, ::testing::ValuesIn(OUTCOME_CASES),
                         [](const ::testing::TestParamInfo<outcome_case>& p) { return std::string(p.param.name); });

struct locale_case {
  const char* lc_all;
  const char* lc_messages;
  const char* lang;
  ui_language language;
};

const locale_case LOCALE_CASES[] = {
    {nullptr, nullptr, nullptr, UI_ENGLISH},
    {nullptr, nullptr, "ru_RU.UTF-8", UI_RUSSIAN},
    {nullptr, nullptr, "ru", UI_RUSSIAN},
    {nullptr, nullptr, "en_US.UTF-8", UI_ENGLISH},
    {nullptr, nullptr, "C.UTF-8", UI_ENGLISH},
    {"C", nullptr, "ru_RU.UTF-8", UI_ENGLISH},           // LC_ALL decides first
    {"ru_UA.UTF-8", "en_GB.UTF-8", "en_US", UI_RUSSIAN},
    {nullptr, "ru_RU.KOI8-R", "en_US.UTF-8", UI_RUSSIAN},  // then LC_MESSAGES
    {"", "", "ru_RU.UTF-8", UI_RUSSIAN},                  // an empty value is not set
    {"", "en_US.UTF-8", "ru_RU.UTF-8", UI_ENGLISH},
    {nullptr, nullptr, "uk_UA.UTF-8", UI_ENGLISH},
    {nullptr, nullptr, "RU", UI_ENGLISH},
};

TEST(LocaleLanguage, TheFirstVariableSetDecides) {
  for (const locale_case& c : LOCALE_CASES) {
    EXPECT_EQ(locale_language(c.lc_all, c.lc_messages, c.lang), c.language)
        << (c.lc_all ? c.lc_all : "-") << " " << (c.lc_messages ? c.lc_messages : "-") << " "
        << (c.lang ? c.lang : "-");
  }
}

// ---- the report of mavo-check ----

struct check_case {
  const char* name;
  int argc;
  int status;
  ui_language language;
  std::string report;
};

const check_case CHECK_CASES[] = {
    {"findings_above", 2, 1, UI_ENGLISH, CLOSE_EN},
    {"trouble_above", 2, 2, UI_RUSSIAN, CLOSE_RU},
    {"clean", 2, 0, UI_ENGLISH, "mavo-check found nothing to report.\n" + std::string(CLOSE_EN)},
    {"clean_russian", 3, 0, UI_RUSSIAN, "mavo-check ничего не нашёл.\n" + std::string(CLOSE_RU)},
    {"double_click", 1, 2, UI_ENGLISH,
     "To use it, drop a .qst script on mavo-check.exe, or run \"mavo-check.exe script.qst\" in a console.\n" +
         std::string(CLOSE_EN)},
    {"double_click_russian", 1, 0, UI_RUSSIAN,
     "Чтобы проверить скрипт, перетащите файл .qst на mavo-check.exe или выполните в консоли "
     "\"mavo-check.exe script.qst\".\n" + std::string(CLOSE_RU)},
    {"no_arguments_at_all", 0, 2, UI_ENGLISH,
     "To use it, drop a .qst script on mavo-check.exe, or run \"mavo-check.exe script.qst\" in a console.\n" +
         std::string(CLOSE_EN)},
};

class CheckReport : public ::testing::TestWithParam<check_case> {};

TEST_P(CheckReport, ClosesUnderTheFindings) {
  const check_case& c = GetParam();
  EXPECT_EQ(check_report(c.argc, c.status, c.language), c.report);
}

INSTANTIATE_TEST_SUITE_P(Cases, CheckReport, ::testing::ValuesIn(CHECK_CASES),
                         [](const ::testing::TestParamInfo<check_case>& p) { return std::string(p.param.name); });

TEST(FileNameOf, TakesWhatFollowsTheLastSeparatorOfEitherKind) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Замок.qst", "Замок.qst"},
      {"C:\\Games\\Замок\\Замок.qst", "Замок.qst"},
      {"/home/me/hall.qst", "hall.qst"},
      {"C:/Games\\mixed/my game.qst", "my game.qst"},
      {"..\\up.qst", "up.qst"},
      {"folder\\", ""},
      {"", ""},
  };
  for (const auto& [path, name] : cases) EXPECT_EQ(file_name_of(path), name) << path;
}

}  // namespace
