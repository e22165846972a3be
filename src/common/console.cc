#include "common/console.h"

#include <string>

namespace {

// The texts of the reports, in English and in Russian (UTF-8).
struct report_texts {
  const char* written;           // "mavo.qst written", then " in <folder>" and ": <counts>"
  const char* written_in;
  const char* nothing_expanded;
  const char* earlier_result;
  const char* given_before;      // "<n> files were given: only the last one, <name>, was read."
  const char* given_middle;
  const char* given_after;
  const char* mavo_how_to;
  const char* check_how_to;
  const char* check_clean;
  const char* closing;
};

constexpr report_texts ENGLISH = {
    "mavo.qst written",
    " in ",
    "nothing expanded: mavo.qst not written",
    "(the mavo.qst here is from an earlier run)",
    "",
    " files were given: only the last one, ",
    ", was read.",
    "To use it, drop a .qst script on mavo.exe, or run \"mavo.exe script.qst\" in a console.",
    "To use it, drop a .qst script on mavo-check.exe, or run \"mavo-check.exe script.qst\" in a console.",
    "mavo-check found nothing to report.",
    "Press any key to close.",
};

constexpr report_texts RUSSIAN = {
    "mavo.qst записан",
    " в папке ",
    "раскрывать нечего: mavo.qst не записан",
    "(mavo.qst здесь остался от прошлого запуска)",
    "Передано файлов: ",
    "; прочитан только последний, ",
    ".",
    "Чтобы обработать скрипт, перетащите файл .qst на mavo.exe или выполните в консоли "
    "\"mavo.exe script.qst\".",
    "Чтобы проверить скрипт, перетащите файл .qst на mavo-check.exe или выполните в консоли "
    "\"mavo-check.exe script.qst\".",
    "mavo-check ничего не нашёл.",
    "Нажмите любую клавишу, чтобы закрыть окно.",
};

const report_texts& texts_of(ui_language language) { return language == UI_RUSSIAN ? RUSSIAN : ENGLISH; }

// The number and its noun: "1 block", "12 blocks"; in Russian by the number's last
// two digits, "1 блок", "3 блока", "12 блоков", "21 блок".
std::string counted(std::uint64_t n, ui_language language, const char* one, const char* few, const char* many) {
  const char* noun = many;
  if (language == UI_RUSSIAN) {
    const std::uint64_t last_two = n % 100, last = n % 10;
    if (last_two < 11 || last_two > 14) {
      if (last == 1) noun = one;
      else if (last >= 2 && last <= 4) noun = few;
    }
  } else if (n == 1) {
    noun = one;
  }
  return std::to_string(n) + " " + noun;
}

void end_report(std::string& report, ui_language language) {
  report += '\n';
  report += texts_of(language).closing;
  report += '\n';
}

}  // namespace

bool own_console(const console_facts& console) {
  return console.process_count == 1 && console.standard_handles_on_console;
}

std::string_view file_name_of(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

ui_language locale_language(const char* lc_all, const char* lc_messages, const char* lang) {
  for (const char* value : {lc_all, lc_messages, lang}) {
    if (value == nullptr || *value == '\0') continue;
    return std::string_view(value).starts_with("ru") ? UI_RUSSIAN : UI_ENGLISH;
  }
  return UI_ENGLISH;
}

std::string outcome_lines(const run_facts& run, std::string_view folder, bool earlier_result,
                          ui_language language) {
  const report_texts& t = texts_of(language);
  const bool russian = language == UI_RUSSIAN;
  std::string lines;
  if (run.outcome == RUN_WRITTEN) {
    lines += t.written;
    if (!folder.empty()) {
      lines += t.written_in;
      lines += folder;
    }
    lines += ": ";
    lines += russian ? counted(run.buttons, language, "кнопка с действиями", "кнопки с действиями",
                               "кнопок с действиями")
                     : counted(run.buttons, language, "action button", "action buttons", "action buttons");
    lines += ", ";
    lines += russian ? counted(run.blocks, language, "блок", "блока", "блоков")
                     : counted(run.blocks, language, "block", "blocks", "blocks");
    lines += '\n';
  } else if (run.outcome == RUN_NOTHING_EXPANDED) {
    lines += t.nothing_expanded;
    lines += '\n';
    if (earlier_result) {
      lines += t.earlier_result;
      lines += '\n';
    }
  }
  return lines;
}

std::string mavo_report(const run_facts& run, std::string_view folder, bool earlier_result,
                        ui_language language) {
  const report_texts& t = texts_of(language);
  std::string report;
  if (run.arguments > 1 && run.script != nullptr) {
    report += t.given_before;
    report += std::to_string(run.arguments);
    report += t.given_middle;
    report += file_name_of(run.script);
    report += t.given_after;
    report += '\n';
  }
  if (run.outcome == RUN_USAGE) {
    report += t.mavo_how_to;
    report += '\n';
  }
  // After "--help", "--version" or a message, what the run printed says it all.
  report += outcome_lines(run, folder, earlier_result, language);
  end_report(report, language);
  return report;
}

std::string check_report(int argc, int status, ui_language language) {
  const report_texts& t = texts_of(language);
  std::string report;
  if (argc < 2) {
    report += t.check_how_to;
    report += '\n';
  } else if (status == 0) {
    report += t.check_clean;
    report += '\n';
  }
  end_report(report, language);
  return report;
}
