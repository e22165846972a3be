#include "check/run.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "check/check.h"
#include "check/report.h"
#include "check/terminal.h"
#include "common/files.h"
#include "common/io.h"

namespace {

constexpr const char* USAGE = "usage: mavo-check [--mode urqw|ripurq|dosurq|akurq] [--format gcc|json] [--] FILE...";

enum output_format { FORMAT_GCC, FORMAT_JSON };

constexpr std::size_t OUTPUT_PIECE = 64 * 1024;

struct options {
  bool mode_given = false;
  check_mode mode = MODE_URQW;
  output_format format = FORMAT_GCC;
  std::vector<const char*> files;
};

void print_help() {
  write_output(std::string(USAGE) + "\n\n"
               "Reads each qst script as mavo does and reports, line by line, where it will not play as\n"
               "written: FILE:LINE:COLUMN: warning: MESSAGE [NAME], the line and a caret, and a note on\n"
               "what to write instead. Nothing is written to any file.\n\n"
               "  --mode MODE    the interpreter's dialect, by UrqW's names (default: the \"urq_mode\" of\n"
               "                 a manifest.json beside the script, otherwise urqw)\n"
               "  --format FORM  gcc (the default) or json: one array of {file, line, column, name, message}\n"
               "  --help         this text;  --version  the version\n\n"
               "A comment \";mavo-check: ignore NAME[,NAME...]\" on a line, or alone on the line before it,\n"
               "silences those findings there. Exit status: 0 no finding, 1 findings, 2 trouble.\n");
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

// The dialect that a manifest.json in the script's folder names, if any.
bool manifest_mode(const char* path, check_mode& mode) {
  const std::string folder = folder_of(path);
  script_text bytes;
  if (!read_bytes((folder + "manifest.json").c_str(), bytes)) return false;
  const nlohmann::json manifest = nlohmann::json::parse(bytes, nullptr, false);
  if (!manifest.is_object()) return false;
  const auto it = manifest.find("urq_mode");
  if (it == manifest.end() || !it->is_string()) return false;
  return parse_mode(it->get<std::string>(), mode);
}

// A game in several files: UrqW plays all the .qst files of a game's folder
// together, so the files named from one folder see one another's locations. For
// each file, the locations of its folder's files (empty when it is alone there),
// and which of them it is (a path named twice is one file).
struct game_files {
  std::vector<std::vector<game_location>> games;
  std::vector<std::size_t> game_of;    // for each file named: its game, or NO_GAME
  std::vector<std::uint32_t> file_id;  // for each file named: the first naming of its path
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
    if (!opt.mode_given) manifest_mode(path, mode);
    script_reading reading;
    if (games.game_of[f] != NO_GAME) {
      reading.game = &games.games[games.game_of[f]];
      reading.game_file = games.file_id[f];
    }
    check_script(reading, std::move(bytes), mode);
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
  return trouble ? CHECK_TROUBLE : found != 0 ? CHECK_FINDINGS : CHECK_CLEAN;
}
