#include "checker/run.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "check/charset.h"
#include "check/check.h"
#include "check/manifest.h"
#include "check/report.h"
#include "checker/terminal.h"
#include "common/files.h"
#include "common/io.h"
#include "common/pipeline.h"

namespace {

constexpr const char* USAGE =
    "usage: mavo-check [--mode urqw|ripurq|dosurq|akurq] [--format gcc|json] [--all] [--disable NAME[,NAME...]]\n"
    "                  [--] FILE...\n"
    "       mavo-check --lsp";

enum output_format { FORMAT_GCC, FORMAT_JSON };

constexpr std::size_t OUTPUT_PIECE = 64 * 1024;

struct options {
  bool mode_given = false;
  check_mode mode = MODE_URQW;
  output_format format = FORMAT_GCC;
  bool show_all = false;
  std::uint32_t disabled = 0;
  std::vector<const char*> files;
};

void print_help() {
  std::string text = std::string(USAGE) + "\n\n"
      "Reads each qst script as mavo does and reports, line by line, where it will not play as\n"
      "written: FILE:LINE:COLUMN: warning: MESSAGE [NAME], the line and a caret, and a note on\n"
      "what to write instead. Nothing is written to any file. Scripts named from one folder are\n"
      "one game, as UrqW plays them: a location in any of them counts for the others.\n\n"
      "  --mode MODE       the interpreter's dialect, by UrqW's names (default: the \"urq_mode\" of\n"
      "                    a manifest.json beside the script, otherwise urqw)\n"
      "  --format FORM     gcc (the default) or json: one array of {column, end_column, file, fixes,\n"
      "                    line, message, name, notes, severity}\n"
      "  --all             also the findings about mavo's own reading (comments, joined lines,\n"
      "                    Ctrl-Z) in a script with no action button, which mavo leaves unwritten\n"
      "  --disable NAMES   report none of the checks named (comma-separated)\n"
      "  --help            this text;  --version  the version\n"
      "  --lsp             (alone) a language server for editors, on standard input and output\n\n"
      "A comment \";mavo-check: ignore NAME[,NAME...]\" at the end of a line, or alone on the line\n"
      "before it, silences those findings there; \";mavo-check: ignore-file NAME[,NAME...]\" in the\n"
      "first 20 lines silences them in the whole file. Exit status: 0 no finding, 1 findings,\n"
      "2 trouble.\n\nThe checks:";
  for (std::size_t i = 0; i < CHECK_COUNT; ++i) {
    text += i % 4 == 0 ? "\n  " : "  ";
    text += CHECK_NAMES[i];
  }
  text += "\n";
  write_output(text);
}

// The checks a --disable value names; false, with the unknown name, when one is none.
bool parse_disabled(std::string_view value, std::uint32_t& disabled, std::string& unknown) {
  while (true) {
    const std::size_t comma = value.find(',');
    const std::string_view name = value.substr(0, comma);
    const check_id id = check_by_name(name);
    if (id == CHECK_COUNT) {
      unknown.assign(name);
      return false;
    }
    disabled |= std::uint32_t{1} << id;
    if (comma == std::string_view::npos) return true;
    value.remove_prefix(comma + 1);
  }
}

bool parse_mode(std::string_view name, check_mode& mode) {
  for (int i = 0; i < 4; ++i) {
    if (name == MODE_NAMES[i]) {
      mode = static_cast<check_mode>(i);
      return true;
    }
  }
  return false;
}

// A usage line on standard error for a bad command line; status 2.
int bad_usage(const std::string& why) {
  write_error("mavo-check: " + why + "\n" + USAGE + "\n");
  return CHECK_TROUBLE;
}

// Reads the whole file at `path` as bytes; false (errno set) when it cannot.
bool read_bytes(const char* path, script_text& bytes) {
  std::FILE* file = open_script(path);
  if (file == nullptr) return false;
  alloc_or_exit(bytes, size_add_or_exit(length_hint(file), 1));
  char chunk[64 * 1024];
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
    if (got == 0) break;
    alloc_or_exit(bytes, size_add_or_exit(bytes.size(), got));
    bytes.append(chunk, got);
  }
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  errno = error;
  return !failed;
}

// The folder part of a path as given, up to and with its last separator ("" for none).
std::string folder_of(const char* path) {
  const std::string_view p(path);
  const std::size_t slash = p.find_last_of(
#ifdef _WIN32
      "/\\"
#else
      "/"
#endif
  );
  return slash == std::string_view::npos ? std::string() : std::string(p.substr(0, slash + 1));
}

// The dialect that a manifest.json in the script's folder names, if any. What in
// it UrqW would refuse (it then loads no game at all) is said once for the folder,
// in one line, with what was assumed instead.
void manifest_mode(const char* path, bool mode_given, check_mode& mode, message_language language,
                   std::vector<std::string>& folders_told) {
  const std::string folder = folder_of(path);
  const std::string manifest_path = folder + "manifest.json";
  script_text bytes;
  if (!read_bytes(manifest_path.c_str(), bytes)) return;
  const game_manifest manifest = parse_manifest(bytes);
  if (manifest.problem == MANIFEST_FINE) {
    if (manifest.has_mode && !mode_given) mode = manifest.mode;
    return;
  }
  if (std::find(folders_told.begin(), folders_told.end(), folder) != folders_told.end()) return;
  folders_told.push_back(folder);
  const std::string assumed = MODE_NAMES[mode];
  const bool ru = language == LANGUAGE_RU;
  write_error(manifest_path + ": " + manifest_problem_text(manifest, language) +
              (ru ? ": UrqW не загрузит такую игру; проверено в режиме " + assumed + "\n"
                  : ": UrqW refuses to load such a game; checked in " + assumed + " mode\n"));
}

// A game in several files: UrqW plays all the .qst files of a game's folder
// together, so the files named from one folder see one another's locations. For
// each file, the locations of its folder's files (empty when it is alone there),
// and which of them it is (a path named twice is one file).
struct game_files {
  std::vector<std::vector<game_location>> games;
  std::vector<std::size_t> game_of;    // for each file named: its game, or NO_GAME
  std::vector<std::uint32_t> file_id;  // for each file named: the first naming of its path
  std::vector<game_file_name> names;   // for each file named: how its findings name it
};
constexpr std::size_t NO_GAME = static_cast<std::size_t>(-1);

// A path as the files of one game are told apart: "./x.qst" is "x.qst".
std::string game_path_of(const char* path) {
  std::string_view p(path);
  while (p.size() >= 2 && p[0] == '.' && (p[1] == '/' || p[1] == '\\')) p.remove_prefix(2);
  return std::string(p);
}

void read_games(const std::vector<const char*>& files, game_files& out) {
  std::vector<std::string> paths, folders;
  for (const char* file : files) {
    paths.push_back(game_path_of(file));
    folders.push_back(folder_of(paths.back().c_str()));
  }
  out.game_of.assign(files.size(), NO_GAME);
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string base = paths[i].substr(folders[i].size());
    game_file_name name;
    name.path = files[i];
    name.loaded_first = !base.empty() && base[0] == '_';
    name.is_mavo_result = fold_case(base, false) == RESULT_FILE;
    out.names.push_back(std::move(name));
  }
  out.file_id.resize(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    out.file_id[i] = static_cast<std::uint32_t>(i);
    for (std::size_t j = 0; j < i; ++j)
      if (paths[i] == paths[j]) {
        out.file_id[i] = out.file_id[j];
        break;
      }
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (out.game_of[i] != NO_GAME || out.file_id[i] != i) continue;
    std::vector<std::size_t> members;
    for (std::size_t j = i; j < files.size(); ++j)
      if (out.file_id[j] == j && folders[j] == folders[i]) members.push_back(j);
    if (members.size() < 2) continue;
    std::vector<game_location> game;
    for (const std::size_t j : members) {
      script_text bytes;
      if (read_bytes(files[j], bytes)) read_game_locations(std::move(bytes), static_cast<std::uint32_t>(j), game);
    }
    std::sort(game.begin(), game.end(), [](const game_location& a, const game_location& b) {
      return a.name != b.name ? a.name < b.name : a.file < b.file;
    });
    out.games.push_back(std::move(game));
    for (std::size_t j = 0; j < files.size(); ++j)
      if (folders[j] == folders[i]) out.game_of[j] = out.games.size() - 1;
  }
}

// Writes what `out` holds once it has `at_least` bytes; a failed write is trouble.
void flush_output(std::string& out, std::size_t at_least, bool& trouble) {
  if (out.size() < at_least) return;
  if (!write_output(out)) trouble = true;
  out.clear();
}

// The Russian plural of a count: 1 файл, 2 файла, 5 файлов.
const char* russian_plural(std::uint64_t n, const char* one, const char* few, const char* many) {
  const std::uint64_t tens = n % 100, units = n % 10;
  if (tens >= 11 && tens <= 14) return many;
  return units == 1 ? one : units >= 2 && units <= 4 ? few : many;
}

// "N warnings in M files", as compilers close their report.
std::string closing_line(std::uint64_t warnings, std::uint64_t files, message_language language) {
  const std::string n = std::to_string(warnings), m = std::to_string(files);
  if (language == LANGUAGE_RU) {
    return n + " " + russian_plural(warnings, "предупреждение", "предупреждения", "предупреждений") + " в " + m +
           " " + russian_plural(files, "файле", "файлах", "файлах") + "\n";
  }
  return n + (warnings == 1 ? " warning in " : " warnings in ") + m + (files == 1 ? " file\n" : " files\n");
}

// How many findings about mavo's reading were left out of a game without action buttons.
std::string left_out_line(std::uint64_t count, message_language language) {
  const std::string n = std::to_string(count);
  if (language == LANGUAGE_RU) {
    return n + " " + russian_plural(count, "замечание", "замечания", "замечаний") +
           " о чтении mavo не показано: ни одна кнопка действия не раскрывается, поэтому mavo не пишет "
           "mavo.qst; --all покажет их\n";
  }
  return n + (count == 1 ? " finding" : " findings") +
         " about mavo's reading left out: no action button is expanded, so mavo writes no mavo.qst; "
         "--all shows them\n";
}

// The system's error text for errno after the path, as perror has it.
void report_trouble(const char* path) { report_error(path); }

}  // namespace

int check_run(int argc, char** argv) {
  options opt;
  bool only_files = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (only_files || arg.empty() || arg[0] != '-' || arg == "-") {
      opt.files.push_back(argv[i]);
      continue;
    }
    if (arg == "--") {
      only_files = true;
    } else if (arg == "--help") {
      print_help();
      return CHECK_CLEAN;
    } else if (arg == "--version") {
      write_output("mavo-check " MAVO_VERSION "\n");
      return CHECK_CLEAN;
    } else if (arg == "--mode" || arg.substr(0, 7) == "--mode=") {
      std::string_view value;
      if (arg == "--mode") {
        if (++i == argc) return bad_usage("--mode needs a value");
        value = argv[i];
      } else {
        value = arg.substr(7);
      }
      if (!parse_mode(value, opt.mode)) return bad_usage("unknown mode '" + std::string(value) + "'");
      opt.mode_given = true;
    } else if (arg == "--format" || arg.substr(0, 9) == "--format=") {
      std::string_view value;
      if (arg == "--format") {
        if (++i == argc) return bad_usage("--format needs a value");
        value = argv[i];
      } else {
        value = arg.substr(9);
      }
      if (value == "gcc") {
        opt.format = FORMAT_GCC;
      } else if (value == "json") {
        opt.format = FORMAT_JSON;
      } else {
        return bad_usage("unknown format '" + std::string(value) + "'");
      }
    } else if (arg == "--all") {
      opt.show_all = true;
    } else if (arg == "--disable" || arg.substr(0, 10) == "--disable=") {
      std::string_view value;
      if (arg == "--disable") {
        if (++i == argc) return bad_usage("--disable needs a value");
        value = argv[i];
      } else {
        value = arg.substr(10);
      }
      std::string unknown;
      if (!parse_disabled(value, opt.disabled, unknown))
        return bad_usage("--disable: '" + unknown + "' is not the name of a check [unknown-check-name]");
    } else {
      return bad_usage("unknown option '" + std::string(arg) + "'");
    }
  }
  if (opt.files.empty()) return bad_usage("no script named");

  const message_language language = user_language();
  bool trouble = false;
  std::size_t found = 0;
  game_files games;
  read_games(opt.files, games);
  std::vector<std::string> manifests_told;
  std::uint64_t left_out = 0;
  std::size_t files_with_findings = 0;
  // The report is written in pieces, so that a script with many findings never
  // holds it whole in memory; the JSON array spans every file.
  std::string out;
  report_reader reader;
  report_item item;
  for (std::size_t f = 0; f < opt.files.size(); ++f) {
    const char* const path = opt.files[f];
    script_text bytes;
    if (!read_bytes(path, bytes)) {
      report_trouble(path);
      trouble = true;
      continue;
    }
    check_mode mode = opt.mode;
    manifest_mode(path, opt.mode_given, mode, language, manifests_told);
    script_reading reading;
    reading.show_all = opt.show_all;
    reading.disabled = opt.disabled;
    if (games.game_of[f] != NO_GAME) {
      reading.game = &games.games[games.game_of[f]];
      reading.game_file = games.file_id[f];
      reading.game_files = &games.names;
    }
    check_script(reading, std::move(bytes), mode);
    left_out += reading.left_out;
    files_with_findings += !reading.findings.empty();
    report_begin(reader, reading, path, language);
    while (report_next(reader, item)) {
      if (opt.format == FORMAT_GCC) {
        append_gcc(item, out);
      } else {
        append_json(item, found == 0, out);
      }
      ++found;
      flush_output(out, OUTPUT_PIECE, trouble);
    }
    flush_output(out, 1, trouble);
  }
  if (opt.format == FORMAT_JSON) {
    json_close(found, out);
    flush_output(out, 1, trouble);
  }
  if (std::fflush(stdout) != 0) trouble = true;
  if (opt.format == FORMAT_GCC && found != 0) write_error(closing_line(found, files_with_findings, language));
  if (left_out != 0) write_error(left_out_line(left_out, language));
  return trouble ? CHECK_TROUBLE : found != 0 ? CHECK_FINDINGS : CHECK_CLEAN;
}
