// Command-line tests: each one runs the built program in a fresh temporary folder
// and checks its exit status, what it prints and the bytes of the mavo.qst it
// leaves behind (or that it leaves none).
//
//   mavo_cli_tests [gtest flags] <path-to-mavo> [prefix words...]
//
// Prefix words run the program through another command (an emulator such as wine
// for a Windows build). Expectations that depend on the platform the program was
// built for are kept in the helpers of the first section; tests that need the
// native process (permissions, devices, resource limits) are skipped then.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

std::string g_program;              // the program under test, as an absolute path
std::vector<std::string> g_prefix;  // command words put before it

// ---- expectations that depend on the platform ----

// A prefix runs the Windows build through an emulator; without one the program
// is the native build.
bool under_prefix() { return !g_prefix.empty(); }

// The standard-stream text in its LF form. A Windows console program writes each
// LF of stdout and stderr as CR LF (its streams are in text mode), so there every
// LF must come as CR LF; natively the text is taken as it is.
std::string console(const std::string& s) {
  if (!under_prefix()) return s;
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') {
      ++i;
    } else {
      EXPECT_NE(s[i], '\n') << "a bare LF on a Windows console stream: " << ::testing::PrintToString(s);
    }
    out += s[i];
  }
  return out;
}

// The system's text for an error, as the program's C runtime words it: the
// Windows runtime has its own table, which for these errors reads as below.
std::string system_text(int error) {
  if (!under_prefix()) return std::strerror(error);
  switch (error) {
    case ENOENT: return "No such file or directory";
    case EACCES: return "Permission denied";
    case ENOSPC: return "No space left on device";
    default: return "<no Windows text known for errno " + std::to_string(error) + ">";
  }
}

// Opening a folder as a file: Linux opens it and fails the first read ("Is a
// directory"); Windows refuses the open itself ("Permission denied").
int folder_error() { return under_prefix() ? EACCES : EISDIR; }

// Checks a perror-style line "<what>: <system text>\n".
void expect_system_message(const std::string& err, const std::string& what, int error) {
  EXPECT_EQ(console(err), what + ": " + system_text(error) + "\n");
}

#define SKIP_UNDER_PREFIX() \
  if (under_prefix()) GTEST_SKIP() << "needs the native program, not one run through a prefix"
#define SKIP_WITHOUT_PERMISSIONS()                  \
  if (!runs_without_root_powers())                 \
  GTEST_SKIP() << "running as root, and the program cannot be run as an unprivileged user"

// ---- expected bytes ----

// The result file's form of `text`: every LF written as CR LF.
std::string crlf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  std::size_t at = 0;
  for (std::size_t lf; (lf = text.find('\n', at)) != std::string::npos; at = lf + 1) {
    out.append(text, at, lf - at);
    out += "\r\n";
  }
  out.append(text, at);
  return out;
}

// Compares a result with the expected bytes without printing megabytes when they
// differ: the report gives the first differing offset and the bytes around it.
::testing::AssertionResult same_bytes(const std::optional<std::string>& got, const std::string& want) {
  if (!got) return ::testing::AssertionFailure() << "no mavo.qst was written";
  if (*got == want) return ::testing::AssertionSuccess();
  std::size_t at = 0;
  while (at < got->size() && at < want.size() && (*got)[at] == want[at]) ++at;
  const std::size_t from = at < 20 ? 0 : at - 20;
  return ::testing::AssertionFailure()
         << "sizes " << got->size() << " and " << want.size() << ", first difference at " << at
         << "\n  got:  " << ::testing::PrintToString(got->substr(from, 60))
         << "\n  want: " << ::testing::PrintToString(want.substr(from, 60));
}

const std::string kRoad = ":start\n mavo room2, Go on & act1\nend\n";
const std::string kRoadResult =
    ":start\r\n btn mavo_room2__Go_on_, Go on \r\n" "end\r\n" "\r\n" "end\r\n"
    ";===== mavo implementation =====\r\n" ":mavo_room2__Go_on_\r\n" "act1\r\n" "goto room2\r\n"
    "end\r\n" "\r\n" "\r\n" "end\r\n";

// The rewritten line of the button " mavo r,c & x", and what follows the script
// when it is the only action button: the closing "end", the banner, its block and
// the final "end".
const std::string kButtonRC = " btn mavo_r_c_,c \n";
const std::string kTailRC =
    "\nend\n;===== mavo implementation =====\n:mavo_r_c_\nx\ngoto r\nend\n\n\nend\n";

// Holds for every result file: each LF comes after a CR, the banner is there and
// the file closes with an "end" line.
void expect_well_formed(const std::string& result) {
  for (std::size_t i = 0; i < result.size(); ++i) {
    if (result[i] == '\n') {
      ASSERT_TRUE(i > 0 && result[i - 1] == '\r') << "bare LF at " << i;
    }
  }
  EXPECT_NE(result.find("\r\n;===== mavo implementation =====\r\n"), std::string::npos);
  EXPECT_TRUE(result.ends_with("\r\nend\r\n"));
}

// ---- running the program ----

struct Outcome {
  bool exited = false;  // false: killed by a signal (`status` is its number)
  int status = -1;
  std::string out, err;
  std::optional<std::string> result;  // mavo.qst when it is a regular file
  double seconds = 0;
};

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes;
  static char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
  }
  return bytes;
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "mavo-cli-XXXXXX").string();
    ASSERT_NE(mkdtemp(name.data()), nullptr) << std::strerror(errno);
    root_ = name;
    work_ = root_ / "work";
    fs::create_directory(work_);
  }
  void TearDown() override {
    if (!mounted_.empty()) umount(mounted_.c_str());
    std::error_code ignored;
    fs::permissions(work_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(root_, ignored);
  }

  void put(const std::string& name, const std::string& bytes) { write_file(work_ / name, bytes); }
  bool result_absent() const { return !fs::exists(fs::symlink_status(work_ / "mavo.qst")); }

  // Starts `words` (a command and its arguments) in the work folder (or `cwd_`),
  // stdin from /dev/null, stdout and stderr captured, `env_` added to its
  // environment, its address space limited to `address_limit_` bytes when that is
  // not 0; yields its process id. A command that cannot be started exits with 127.
  pid_t start_command(const std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    const std::string out_path = (root_ / "stdout").string(), err_path = (root_ / "stderr").string();
    const std::string dir = (cwd_.empty() ? work_ : cwd_).string();
    start_ = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
      const int in = open("/dev/null", O_RDONLY);
      const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
      if (unprivileged_ && (setgroups(0, nullptr) != 0 || setgid(NOBODY) != 0 || setuid(NOBODY) != 0)) _exit(125);
      if (chdir(dir.c_str()) != 0) _exit(126);
      for (const auto& [name, value] : env_) setenv(name.c_str(), value.c_str(), 1);
      const rlimit limit{address_limit_, address_limit_};
      if (address_limit_ != 0 && setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    if (pid < 0) ADD_FAILURE() << "cannot run " << words[0] << ": " << std::strerror(errno);
    return pid;
  }

  // Waits for a process that `start_command` started and collects what it left.
  Outcome finish_command(pid_t pid) {
    Outcome o;
    int wstatus = 0;
    if (pid < 0 || waitpid(pid, &wstatus, 0) != pid) {
      ADD_FAILURE() << "cannot wait for the program: " << std::strerror(errno);
      return o;
    }
    o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    o.exited = WIFEXITED(wstatus);
    o.status = o.exited ? WEXITSTATUS(wstatus) : WTERMSIG(wstatus);
    o.out = read_file(root_ / "stdout");
    o.err = read_file(root_ / "stderr");
    const fs::path result = (cwd_.empty() ? work_ : cwd_) / "mavo.qst";
    std::error_code ec;
    if (fs::is_regular_file(result, ec)) o.result = read_file(result);
    return o;
  }

  Outcome run_command(const std::vector<std::string>& words) { return finish_command(start_command(words)); }

  std::vector<std::string> program_words(const std::vector<std::string>& args) const {
    std::vector<std::string> words = g_prefix;
    words.push_back(g_program);
    words.insert(words.end(), args.begin(), args.end());
    return words;
  }

  Outcome run(const std::vector<std::string>& args) { return run_command(program_words(args)); }

  // A run that must succeed silently, quickly and without a crash.
  Outcome run_clean(const std::vector<std::string>& args) {
    const Outcome o = run(args);
    EXPECT_TRUE(o.exited) << "killed by signal " << o.status;
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "");
    EXPECT_LT(o.seconds, 10.0);
    return o;
  }

  // A run that must fail with status 1 and a system message naming `what`,
  // leaving no result file.
  void run_failing(const std::vector<std::string>& args, const std::string& what, int error) {
    const Outcome o = run(args);
    EXPECT_TRUE(o.exited) << "killed by signal " << o.status;
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    expect_system_message(o.err, what, error);
    EXPECT_FALSE(o.result) << "no mavo.qst may be written";
  }

  // Root bypasses file permissions, so as root the program is run as "nobody" from
  // here on; false when it cannot be run that way (its folder is closed to others).
  bool runs_without_root_powers() {
    if (geteuid() != 0) return true;
    unprivileged_ = true;
    fs::permissions(root_, fs::perms::others_exec | fs::perms::group_exec, fs::perm_options::add);
    const Outcome probe = run({});
    return probe.exited && probe.status == 0;
  }

  // A folder beside the work folder that the program may make files in, whoever
  // it runs as (for what the fault library leaves).
  fs::path shared_folder() {
    const fs::path shared = root_ / "shared";
    fs::create_directories(shared);
    fs::permissions(shared, fs::perms::all);
    return shared;
  }

  // Puts `bytes` as `name` into the work folder, readable and writable by anyone,
  // and leaves the folder taking no new file from the program.
  void put_into_read_only_folder(const std::string& name, const std::string& bytes) {
    fs::permissions(work_, fs::perms::owner_write, fs::perm_options::add);
    put(name, bytes);
    fs::permissions(work_ / name, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                      fs::perms::group_write | fs::perms::others_read | fs::perms::others_write);
    fs::permissions(work_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  }

  static constexpr uid_t NOBODY = 65534;
  fs::path root_, work_;
  fs::path cwd_;      // where the program runs, when not in `work_`
  fs::path mounted_;  // a file system the test mounted, unmounted at the end
  std::vector<std::pair<std::string, std::string>> env_;
  std::chrono::steady_clock::time_point start_;
  bool unprivileged_ = false;
  rlim_t address_limit_ = 0;
};

// ---- scripts in, exact bytes out ----

struct Case {
  const char* name;
  std::string input;                    // written to in.qst
  std::vector<std::string> args;        // the command line after the program
  std::optional<std::string> existing;  // a mavo.qst present before the run
  int status;
  std::string err_what;                 // stderr names this with errno `err_errno`...
  int err_errno;                        // ...or stays empty when 0
  std::optional<std::string> result;    // the new mavo.qst; none: nothing is written
};

const std::vector<std::string> kIn = {"in.qst"};

const Case kCases[] = {
    {"road_lf", kRoad, kIn, {}, 0, "", 0, kRoadResult},
    {"road_crlf", ":start\r\n mavo room2, Go on & act1\r\nend\r\n", kIn, {}, 0, "", 0, kRoadResult},
    {"replaces_longer_existing_result", kRoad, kIn, std::string(5000, 'o'), 0, "", 0, kRoadResult},
    {"earlier_arguments_ignored", kRoad, {"missing.qst", "-x", "in.qst"}, {}, 0, "", 0, kRoadResult},
    {"plain_button_writes_nothing", ":a\nmavo room, Look\n", kIn, {}, 0, "", 0, {}},
    {"plain_button_keeps_existing", ":a\nmavo room, Look\n", kIn, "old\r\nresult\r\n", 0, "", 0, {}},
    {"empty_writes_nothing", "", kIn, {}, 0, "", 0, {}},
    {"empty_keeps_existing", "", kIn, "old", 0, "", 0, {}},
    {"no_buttons", ":a\nmsg hello\nend\n", kIn, {}, 0, "", 0, {}},
    {"ctrl_z_ends_input", ":a\n mavo r,c & x\n\x1a\n mavo q,w & y\n", kIn, {}, 0, "", 0,
     crlf(":a\n" + kButtonRC + kTailRC)},
    {"ctrl_z_first_byte", "\x1a:a\n mavo r,c & x\n", kIn, {}, 0, "", 0, {}},
    {"nul_is_an_ordinary_byte", ":a\n\0\n mavo r,c & x\n"s, kIn, {}, 0, "", 0,
     crlf(":a\n\0\n"s + kButtonRC + kTailRC)},
    {"lone_cr_kept", ":a\nfoo\rbar\r\r\n mavo r,c & x\n\r", kIn, {}, 0, "", 0,
     crlf(":a\nfoo\rbar\r\n" + kButtonRC + "\r" + kTailRC)},
    {"missing_script", kRoad, {"nope.qst"}, {}, 1, "nope.qst", ENOENT, {}},
    {"missing_script_keeps_existing", kRoad, {"nope.qst"}, "old", 1, "nope.qst", ENOENT, {}},
    {"missing_names_path_as_given", kRoad, {"sub/../nope.qst"}, {}, 1, "sub/../nope.qst", ENOENT, {}},
    {"missing_last_of_two", kRoad, {"in.qst", "nope.qst"}, {}, 1, "nope.qst", ENOENT, {}},
};

class Script : public Cli, public ::testing::WithParamInterface<Case> {};

TEST_P(Script, GivesExactResult) {
  const Case& c = GetParam();
  put("in.qst", c.input);
  if (c.existing) put("mavo.qst", *c.existing);
  const Outcome o = run(c.args);
  ASSERT_TRUE(o.exited) << "killed by signal " << o.status;
  EXPECT_EQ(o.status, c.status);
  EXPECT_EQ(o.out, "");
  if (c.err_errno == 0) {
    EXPECT_EQ(o.err, "");
  } else {
    expect_system_message(o.err, c.err_what, c.err_errno);
  }
  if (c.result) {
    EXPECT_EQ(o.result, c.result);
  } else if (c.existing) {
    EXPECT_EQ(o.result, c.existing) << "an existing mavo.qst must be left as it was";
  } else {
    EXPECT_TRUE(result_absent());
  }
  EXPECT_EQ(read_file(work_ / "in.qst"), c.input) << "the script itself must not change";
}

INSTANTIATE_TEST_SUITE_P(Cases, Script, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

// ---- command line and file placement ----

TEST_F(Cli, NoArgumentPrintsVersionAndUsage) {
  const Outcome o = run({});
  ASSERT_TRUE(o.exited);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  const std::regex shape(
      "Qor  (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) ( [1-9]|[12][0-9]|3[01]) [0-9]{4} "
      "([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]\n\nmavo <qst-file>\n");
  EXPECT_TRUE(std::regex_match(console(o.out), shape)) << "got: " << o.out;
  EXPECT_TRUE(fs::is_empty(work_)) << "nothing may be written";
}

// ---- "--help" and "--version": options only when no file of that name is there ----

const std::string kUsageShape =
    "Qor  (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) ( [1-9]|[12][0-9]|3[01]) [0-9]{4} "
    "([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]\n\nmavo <qst-file>\n";
const std::string kHelpShape =
    kUsageShape +
    "Expands the action buttons of a qst script into plain buttons and writes the result to "
    "mavo\\.qst in the current folder\\.\n";
const std::string kVersionShape = "mavo " + std::regex_replace(MAVO_VERSION, std::regex("\\."), "\\.") + "\n";

struct OptionCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;  // put in the folder before the run
  std::vector<std::string> args;
  int status;
  std::string out;       // a regular expression that the whole of stdout matches (LF form)
  std::string err_what;  // stderr names this with ENOENT, or stays empty
  std::optional<std::string> result;
};

const OptionCase kOptionCases[] = {
    {"help", {}, {"--help"}, 0, kHelpShape, "", {}},
    {"version", {}, {"--version"}, 0, kVersionShape, "", {}},
    {"script_named_help_is_read", {{"--help", kRoad}}, {"--help"}, 0, "", "", kRoadResult},
    {"script_named_version_is_read", {{"--version", kRoad}}, {"--version"}, 0, "", "", kRoadResult},
    {"empty_script_named_version", {{"--version", ""}}, {"--version"}, 0, "", "", {}},
    {"dot_slash_help_is_a_path", {{"--help", kRoad}}, {"./--help"}, 0, "", "", kRoadResult},
    {"dot_slash_help_missing", {}, {"./--help"}, 1, "", "./--help", {}},
    {"help_after_a_script_is_a_path", {{"in.qst", kRoad}}, {"in.qst", "--help"}, 1, "", "--help", {}},
    {"version_after_a_script_is_a_path", {{"in.qst", kRoad}}, {"in.qst", "--version"}, 1, "", "--version", {}},
    {"help_before_a_script_is_ignored", {{"in.qst", kRoad}}, {"--help", "in.qst"}, 0, "", "", kRoadResult},
    {"other_case_is_a_path", {}, {"--Help"}, 1, "", "--Help", {}},
    {"short_help", {}, {"-h"}, 0, kHelpShape, "", {}},
    {"script_named_h_is_read", {{"-h", kRoad}}, {"-h"}, 0, "", "", kRoadResult},
    {"short_help_after_a_script_is_a_path", {{"in.qst", kRoad}}, {"in.qst", "-h"}, 1, "", "-h", {}},
    {"other_short_form_is_a_path", {}, {"-H"}, 1, "", "-H", {}},
    {"single_dash_is_a_path", {}, {"-version"}, 1, "", "-version", {}},
    {"with_a_value_is_a_path", {}, {"--version=1"}, 1, "", "--version=1", {}},
};

class Option : public Cli, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(Option, PrintsOrReads) {
  const OptionCase& c = GetParam();
  for (const auto& [name, bytes] : c.files) put(name, bytes);
  const Outcome o = run(c.args);
  ASSERT_TRUE(o.exited) << "killed by signal " << o.status;
  EXPECT_EQ(o.status, c.status);
  EXPECT_TRUE(std::regex_match(console(o.out), std::regex(c.out))) << "got: " << o.out;
  if (c.err_what.empty()) {
    EXPECT_EQ(o.err, "");
  } else {
    expect_system_message(o.err, c.err_what, ENOENT);
  }
  EXPECT_EQ(o.result, c.result);
  for (const auto& [name, bytes] : c.files) EXPECT_EQ(read_file(work_ / name), bytes) << name << " must not change";
}

INSTANTIATE_TEST_SUITE_P(Cases, Option, ::testing::ValuesIn(kOptionCases),
                         [](const ::testing::TestParamInfo<OptionCase>& p) { return std::string(p.param.name); });

// ---- on a terminal: one line that says what became of the script ----

// Each case: the script, a mavo.qst there before the run, the locale's variables,
// the shell's words around the program (MAVO is its path; "$MAVO $ARGS" when
// empty), what the terminal shows (its CR LF read as LF) and the status.
struct TerminalCase {
  const char* name;
  std::string script;  // in.qst
  std::optional<std::string> existing;
  std::vector<std::pair<std::string, std::string>> locale;
  std::string command;
  std::string screen;
  int status;
};

const std::string kTwoButtons = ":a\nmavo b,Go & pln x\nmavo c,Run & pln y\nmavo c,Run & pln y\n";
const std::string kPlain = ":a\nmavo b,Go\n";
const std::vector<std::pair<std::string, std::string>> kEnglish = {{"LC_ALL", ""}, {"LC_MESSAGES", ""},
                                                                    {"LANG", "C.UTF-8"}};
const std::vector<std::pair<std::string, std::string>> kRussian = {{"LC_ALL", ""}, {"LC_MESSAGES", ""},
                                                                    {"LANG", "ru_RU.UTF-8"}};

const TerminalCase kTerminalCases[] = {
    {"written", kTwoButtons, {}, kEnglish, "", "mavo.qst written: 3 action buttons, 2 blocks\n", 0},
    {"written_over_an_earlier_one", kTwoButtons, "old", kEnglish, "",
     "mavo.qst written: 3 action buttons, 2 blocks\n", 0},
    {"written_russian", kTwoButtons, {}, kRussian, "", "mavo.qst записан: 3 кнопки с действиями, 2 блока\n", 0},
    {"nothing_expanded", kPlain, {}, kEnglish, "", "nothing expanded: mavo.qst not written\n", 0},
    {"nothing_expanded_earlier_result", kPlain, "old", kEnglish, "",
     "nothing expanded: mavo.qst not written\n(the mavo.qst here is from an earlier run)\n", 0},
    {"nothing_expanded_russian", kPlain, {}, kRussian, "", "раскрывать нечего: mavo.qst не записан\n", 0},
    {"nothing_expanded_earlier_result_russian", kPlain, "old", kRussian, "",
     "раскрывать нечего: mavo.qst не записан\n(mavo.qst здесь остался от прошлого запуска)\n", 0},
    {"lc_all_decides", kPlain, {}, {{"LC_ALL", "ru_RU.UTF-8"}, {"LANG", "C.UTF-8"}}, "",
     "раскрывать нечего: mavo.qst не записан\n", 0},
    {"output_piped_error_on_the_terminal", kTwoButtons, {}, kEnglish, "\"$MAVO\" $ARGS | cat",
     "mavo.qst written: 3 action buttons, 2 blocks\n", 0},
    // The other outcomes print what they always print, and nothing more.
    {"missing_script", kTwoButtons, "old", kEnglish, "\"$MAVO\" nope.qst",
     "nope.qst: No such file or directory\n", 1},
    {"usage", kTwoButtons, {}, kEnglish, "\"$MAVO\" | head -c 3", "Qor", 0},
    {"version", kTwoButtons, {}, kEnglish, "\"$MAVO\" --version", "mavo " MAVO_VERSION "\n", 0},
    // Standard error away from the terminal: nothing, whatever standard output is.
    {"error_redirected", kTwoButtons, {}, kEnglish, "\"$MAVO\" $ARGS 2>/dev/null", "", 0},
    {"error_piped", kPlain, "old", kRussian, "\"$MAVO\" $ARGS 2>&1 | cat", "", 0},
    {"error_to_a_file", kTwoButtons, {}, kEnglish, "\"$MAVO\" $ARGS 2>log; cat log", "", 0},
};

class Terminal : public Cli, public ::testing::WithParamInterface<TerminalCase> {};

TEST_P(Terminal, SaysWhatBecameOfTheScriptOnlyThere) {
  SKIP_UNDER_PREFIX();  // a Windows build on a terminal is tested with its own console
  if (system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1) to make a terminal";
  const TerminalCase& c = GetParam();
  put("in.qst", c.script);
  if (c.existing) put("mavo.qst", *c.existing);
  env_ = c.locale;
  env_.emplace_back("MAVO", g_program);
  env_.emplace_back("ARGS", "in.qst");
  // The command's shell: a plain one, which says nothing of a locale not installed.
  env_.emplace_back("SHELL", "/bin/sh");
  const std::string command = c.command.empty() ? "\"$MAVO\" $ARGS" : c.command;
  // script(1) runs the command on a new pseudo-terminal and copies what it shows.
  const Outcome o = run_command({"script", "-qec", command, "/dev/null"});
  ASSERT_TRUE(o.exited) << "killed by signal " << o.status;
  EXPECT_EQ(o.status, c.status);
  std::string screen;
  for (const char ch : o.out) {
    if (ch != '\r') screen += ch;
  }
  EXPECT_EQ(screen, c.screen);
  if (c.script == kPlain) {
    EXPECT_EQ(o.result, c.existing) << "nothing may be written";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Terminal, ::testing::ValuesIn(kTerminalCases),
                         [](const ::testing::TestParamInfo<TerminalCase>& p) { return std::string(p.param.name); });

// Through a pipe and into files the run says nothing: the same output and status as
// without a terminal anywhere, in either language.
TEST_F(Cli, NoTerminalNoLine) {
  if (under_prefix()) GTEST_SKIP() << "needs the native program, not one run through a prefix";
  put("in.qst", kTwoButtons);
  put("plain.qst", kPlain);
  put("mavo.qst", "old");
  for (const auto& locale : {kEnglish, kRussian}) {
    env_ = locale;
    run_clean({"plain.qst"});
    run_clean({"in.qst"});
    env_.emplace_back("MAVO", g_program);
    const Outcome piped = run_command({"/bin/sh", "-c", "\"$MAVO\" plain.qst 2>&1 | cat; \"$MAVO\" in.qst 2>&1 | cat"});
    ASSERT_TRUE(piped.exited);
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out, "");
    EXPECT_EQ(piped.err, "");
  }
}

TEST_F(Cli, FolderNamedLikeAnOptionIsAPath) {
  fs::create_directory(work_ / "--help");
  run_failing({"--help"}, "--help", folder_error());
}

TEST_F(Cli, OptionOutputThatCannotBeWrittenFails) {
  SKIP_UNDER_PREFIX();
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  for (const char* option : {"--help", "--version"}) {
    const Outcome o = run_command({"/bin/sh", "-c", "exec \"$0\" \"$1\" >/dev/full", g_program, option});
    ASSERT_TRUE(o.exited) << option;
    EXPECT_EQ(o.status, 1) << option;
    expect_system_message(o.err, "standard output", ENOSPC);
  }
}

TEST_F(Cli, DirectoryAsScript) {
  fs::create_directory(work_ / "somedir");
  run_failing({"somedir"}, "somedir", folder_error());
}

TEST_F(Cli, UnreadableScript) {
  SKIP_UNDER_PREFIX();
  SKIP_WITHOUT_PERMISSIONS();
  put("in.qst", kRoad);
  fs::permissions(work_ / "in.qst", fs::perms::none);
  run_failing({"in.qst"}, "in.qst", EACCES);
}

TEST_F(Cli, ResultGoesToCurrentFolderNotBesideScript) {
  fs::create_directory(work_ / "in");
  put("in/road.qst", kRoad);
  EXPECT_EQ(run_clean({"in/road.qst"}).result, kRoadResult);
  EXPECT_FALSE(fs::exists(work_ / "in" / "mavo.qst"));
  fs::remove(work_ / "mavo.qst");
  // An absolute path to a script in another folder.
  write_file(root_ / "far.qst", kRoad);
  EXPECT_EQ(run_clean({(root_ / "far.qst").string()}).result, kRoadResult);
  EXPECT_FALSE(fs::exists(root_ / "mavo.qst"));
}

// ---- result file errors ----

TEST_F(Cli, ResultNameTakenByFolder) {
  put("in.qst", kRoad);
  fs::create_directory(work_ / "mavo.qst");
  run_failing({"in.qst"}, "mavo.qst", folder_error());
  // With nothing to expand the result is never opened, so the folder is no error.
  put("plain.qst", ":a\nmavo room, Look\n");
  run_clean({"plain.qst"});
  EXPECT_TRUE(fs::is_directory(work_ / "mavo.qst"));
}

TEST_F(Cli, ResultFolderReadOnly) {
  SKIP_UNDER_PREFIX();
  SKIP_WITHOUT_PERMISSIONS();
  put("in.qst", kRoad);
  fs::permissions(work_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                             fs::perms::others_exec | fs::perms::group_read | fs::perms::group_exec);
  run_failing({"in.qst"}, "mavo.qst", EACCES);
}

// ---- replacing mavo.qst whole or not at all ----

// The names in `folder`, sorted.
std::vector<std::string> listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A script whose result is about `kilobytes` KiB, written in several pieces, and
// that result.
struct big_script {
  std::string script, result;
};
big_script make_big_script(int kilobytes, const std::string& word = "line") {
  std::string lines;
  for (int i = 0; static_cast<int>(lines.size()) < kilobytes * 1024; ++i) lines += "msg " + word + " " + std::to_string(i) + "\n";
  return {":a\n" + lines + " mavo r,c & x\n", crlf(":a\n" + lines + kButtonRC + kTailRC)};
}

const std::string kOld = "the earlier result\r\n";

TEST_F(Cli, ResultLinkedToADeviceIsReplaced) {
  SKIP_UNDER_PREFIX();
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  put("in.qst", kRoad);
  fs::create_symlink("/dev/full", work_ / "mavo.qst");
  EXPECT_EQ(run_clean({"in.qst"}).result, kRoadResult);
  EXPECT_FALSE(fs::is_symlink(work_ / "mavo.qst"));
  EXPECT_TRUE(fs::is_character_file("/dev/full")) << "the device must be left as it is";
}

// "mavo.qst" as a link, a FIFO or a device node: the entry is replaced by the
// result; nothing is written through it, and nothing hangs.
TEST_F(Cli, ResultEntryIsReplacedNeverWrittenThrough) {
  SKIP_UNDER_PREFIX();
  const auto expect_replaced = [&](const char* what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(run_clean({"in.qst"}).result, kRoadResult);
    EXPECT_EQ(fs::symlink_status(work_ / "mavo.qst").type(), fs::file_type::regular);
    EXPECT_EQ(fs::hard_link_count(work_ / "mavo.qst"), 1u);
    EXPECT_EQ(read_file(work_ / "in.qst"), kRoad) << "the script must not change";
    EXPECT_EQ(listing(work_), (std::vector<std::string>{"in.qst", "mavo.qst"}));
    fs::remove(work_ / "mavo.qst");
  };
  put("in.qst", kRoad);
  fs::create_symlink("in.qst", work_ / "mavo.qst");
  expect_replaced("symbolic link to the script");
  fs::create_hard_link(work_ / "in.qst", work_ / "mavo.qst");
  expect_replaced("hard link to the script");
  fs::create_directory(root_ / "elsewhere");
  fs::create_symlink("../elsewhere/target", work_ / "mavo.qst");
  expect_replaced("dangling link");
  EXPECT_TRUE(fs::is_empty(root_ / "elsewhere")) << "nothing may be created where a dangling link points";
  ASSERT_EQ(mkfifo((work_ / "mavo.qst").c_str(), 0600), 0);
  expect_replaced("FIFO");
  if (mknod((work_ / "mavo.qst").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) expect_replaced("device node");
}

TEST_F(Cli, ReplacedResultKeepsItsPermissions) {
  SKIP_UNDER_PREFIX();
  put("in.qst", kRoad);
  put("mavo.qst", kOld);
  fs::permissions(work_ / "mavo.qst", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  run_clean({"in.qst"});
  EXPECT_EQ(fs::status(work_ / "mavo.qst").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// The permission bits of mavo.qst under a umask: a new result gets those of any
// new file (0666 less the umask), a replaced one keeps its own.
TEST_F(Cli, ResultPermissionsFollowTheUmaskOrTheReplacedFile) {
  SKIP_UNDER_PREFIX();
  struct {
    const char* umask;
    std::optional<fs::perms> existing;  // the mode of a mavo.qst already there
    fs::perms want;
  } const rows[] = {
      {"022", {}, fs::perms(0644)},
      {"002", {}, fs::perms(0664)},
      {"027", {}, fs::perms(0640)},
      {"077", {}, fs::perms(0600)},
      {"000", {}, fs::perms(0666)},
      {"077", fs::perms(0664), fs::perms(0664)},
      {"000", fs::perms(0600), fs::perms(0600)},
  };
  put("in.qst", kRoad);
  for (const auto& row : rows) {
    SCOPED_TRACE("umask "s + row.umask + (row.existing ? " replacing a file" : " new file"));
    std::error_code ignored;
    fs::remove(work_ / "mavo.qst", ignored);
    if (row.existing) {
      put("mavo.qst", kOld);
      fs::permissions(work_ / "mavo.qst", *row.existing);
    }
    const Outcome o = run_command({"/bin/sh", "-c", "umask "s + row.umask + " && exec \"$0\" \"$@\"", g_program, "in.qst"});
    ASSERT_TRUE(o.exited && o.status == 0) << o.err;
    EXPECT_EQ(o.result, kRoadResult);
    const auto mode = static_cast<unsigned>(fs::status(work_ / "mavo.qst").permissions());
    EXPECT_EQ(mode, static_cast<unsigned>(row.want)) << std::oct << "mode 0" << mode << ", want 0"
                                                     << static_cast<unsigned>(row.want);
  }
}

// Every write, close and rename the run makes, failed in turn with ENOSPC and with
// EIO: the run ends with status 1 and the message, the earlier mavo.qst is left
// exactly as it was, and the folder holds nothing else.
TEST_F(Cli, EveryFailedCallKeepsTheEarlierResult) {
  SKIP_UNDER_PREFIX();
  const big_script big = make_big_script(1500);  // several pieces to write
  put("in.qst", big.script);
  env_ = {{"LD_PRELOAD", MAVO_FAULT_LIB}, {"MAVO_FAULT_COUNTS", (root_ / "counts").string()}};
  ASSERT_TRUE(same_bytes(run_clean({"in.qst"}).result, big.result));
  std::istringstream counts(read_file(root_ / "counts"));
  std::string word;
  long total[3] = {0, 0, 0};
  counts >> word >> total[0] >> word >> total[1] >> word >> total[2];
  ASSERT_GE(total[0], 3) << "the result should take several writes: " << read_file(root_ / "counts");
  ASSERT_GE(total[1], 1);
  ASSERT_GE(total[2], 1);
  const char* const calls[] = {"write", "close", "rename"};
  for (int call = 0; call < 3; ++call) {
    for (const int error : {ENOSPC, EIO}) {
      int failed = 0;
      for (long n = 1; n <= total[call]; ++n) {
        SCOPED_TRACE(std::string(calls[call]) + " #" + std::to_string(n) + " fails with " + std::strerror(error));
        put("mavo.qst", kOld);
        env_ = {{"LD_PRELOAD", MAVO_FAULT_LIB},
                {"MAVO_FAULT_CALL", calls[call]},
                {"MAVO_FAULT_AT", std::to_string(n)},
                {"MAVO_FAULT_ERRNO", std::to_string(error)}};
        const Outcome o = run({"in.qst"});
        ASSERT_TRUE(o.exited) << "killed by signal " << o.status;
        if (o.status == 0) {  // a call whose failure does not touch the result
          EXPECT_EQ(o.err, "");
          EXPECT_TRUE(same_bytes(o.result, big.result));
        } else {
          ++failed;
          EXPECT_EQ(o.status, 1);
          expect_system_message(o.err, "mavo.qst", error);
          EXPECT_EQ(o.result, kOld) << "the earlier result must be left as it was";
        }
        EXPECT_EQ(listing(work_), (std::vector<std::string>{"in.qst", "mavo.qst"}));
      }
      // Every write and rename is the result's; a close may also be another file's.
      if (call != 1) {
        EXPECT_EQ(failed, total[call]) << calls[call];
      }
      EXPECT_GE(failed, 1) << calls[call];
    }
  }
}

// Under a file-size limit the write fails as any other would, instead of the
// limit's signal killing the run half way.
TEST_F(Cli, FileSizeLimitIsAnOrdinaryWriteError) {
  SKIP_UNDER_PREFIX();
  const big_script big = make_big_script(200);
  put("in.qst", big.script);
  put("mavo.qst", kOld);
  // Blocks of 512 bytes: 32 KiB, below the result's size.
  const Outcome o = run_command({"/bin/sh", "-c", "ulimit -f 64 || exit 97; exec \"$0\" \"$@\"", g_program, "in.qst"});
  if (o.exited && o.status == 97) GTEST_SKIP() << "ulimit -f is not supported here";
  ASSERT_TRUE(o.exited) << "killed by signal " << o.status;
  EXPECT_EQ(o.status, 1);
  expect_system_message(o.err, "mavo.qst", EFBIG);
  EXPECT_EQ(o.result, kOld);
  EXPECT_EQ(listing(work_), (std::vector<std::string>{"in.qst", "mavo.qst"}));
}

// A signal in the middle of a slow write (each write of the run sleeps first):
// the temporary file goes, the earlier result stays, and the run ends by the
// signal, as an interrupted program does.
TEST_F(Cli, InterruptedWriteKeepsTheEarlierResult) {
  SKIP_UNDER_PREFIX();
  const big_script big = make_big_script(3000);
  put("in.qst", big.script);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    put("mavo.qst", kOld);
    env_ = {{"LD_PRELOAD", MAVO_FAULT_LIB}, {"MAVO_FAULT_SLOW_MS", "100"}};
    const pid_t pid = start_command(program_words({"in.qst"}));
    // Waits until the temporary file holds the first piece: the write is under way.
    bool writing = false;
    for (int i = 0; i < 2000 && !writing; ++i) {
      for (const std::string& name : listing(work_)) {
        std::error_code ec;
        writing = writing || (name.starts_with("mavo.qst.") && fs::file_size(work_ / name, ec) > 0 && !ec);
      }
      if (!writing) usleep(5000);
    }
    EXPECT_TRUE(writing) << "no temporary file was written to";
    kill(pid, sig);
    const Outcome o = finish_command(pid);
    EXPECT_FALSE(o.exited) << "status " << o.status;
    EXPECT_EQ(o.status, sig);
    EXPECT_EQ(o.result, kOld);
    EXPECT_EQ(listing(work_), (std::vector<std::string>{"in.qst", "mavo.qst"}));
  }
}

// Two runs in one folder at once, fifty times: both succeed, and mavo.qst is one
// complete result, never a mix.
TEST_F(Cli, ConcurrentRunsLeaveOneCompleteResult) {
  const big_script big = make_big_script(2000), other = make_big_script(1000, "other");
  put("a.qst", big.script);
  put("b.qst", other.script);
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const pid_t first = start_command(program_words({round % 2 ? "a.qst" : "b.qst"}));
    const pid_t second = start_command(program_words({round % 2 ? "b.qst" : "a.qst"}));
    int status_first = 0, status_second = 0;
    ASSERT_EQ(waitpid(first, &status_first, 0), first);
    ASSERT_EQ(waitpid(second, &status_second, 0), second);
    EXPECT_TRUE(WIFEXITED(status_first) && WEXITSTATUS(status_first) == 0);
    EXPECT_TRUE(WIFEXITED(status_second) && WEXITSTATUS(status_second) == 0);
    const std::string result = read_file(work_ / "mavo.qst");
    EXPECT_TRUE(result == big.result || result == other.result) << "a mixed result of " << result.size() << " bytes";
    EXPECT_EQ(listing(work_), (std::vector<std::string>{"a.qst", "b.qst", "mavo.qst"}));
  }
}

// A folder that takes no new file, with a writable mavo.qst in it: that file is
// written in place. A link there is still never written through.
TEST_F(Cli, ReadOnlyFolderWritesAWritableResultInPlace) {
  SKIP_UNDER_PREFIX();
  SKIP_WITHOUT_PERMISSIONS();
  put("in.qst", kRoad);
  put("mavo.qst", kOld);
  fs::permissions(work_ / "mavo.qst", fs::perms::all);
  fs::permissions(work_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                             fs::perms::others_exec | fs::perms::group_read | fs::perms::group_exec);
  EXPECT_EQ(run_clean({"in.qst"}).result, kRoadResult);
  fs::permissions(work_, fs::perms::owner_write, fs::perm_options::add);
  fs::remove(work_ / "mavo.qst");
  put("target.qst", kOld);
  fs::permissions(work_ / "target.qst", fs::perms::all);
  fs::create_symlink("target.qst", work_ / "mavo.qst");
  fs::permissions(work_, fs::perms::owner_write, fs::perm_options::remove);
  const Outcome o = run({"in.qst"});
  EXPECT_EQ(o.status, 1);
  expect_system_message(o.err, "mavo.qst", EACCES);
  EXPECT_EQ(read_file(work_ / "target.qst"), kOld);
  EXPECT_TRUE(fs::is_symlink(work_ / "mavo.qst"));
}

// ---- writing mavo.qst in place: the whole result, or the old bytes ----

// The calls of a run that the fault library counted.
struct call_counts {
  long write = 0, close = 0, rename = 0, fopen = 0;
};
call_counts read_counts(const fs::path& path) {
  std::istringstream in(read_file(path));
  std::string word;
  call_counts n;
  in >> word >> n.write >> word >> n.close >> word >> n.rename >> word >> n.fopen;
  return n;
}

ino_t inode_of(const fs::path& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

// Waits (20 s at most) until `path` exists; false when it never does.
bool wait_for_file(const fs::path& path) {
  for (int i = 0; i < 20000; ++i) {
    if (fs::exists(path)) return true;
    usleep(1000);
  }
  return false;
}

// In a folder that takes no new file, the program writes mavo.qst itself. What it
// held before is what a failed or interrupted run must leave, byte for byte: an
// earlier result shorter than the new one, one longer (the file is cut at the end
// of a new result), or the script itself, run as `mavo mavo.qst`.
struct in_place_subject {
  const char* name;
  const char* script;  // the program's argument
  int old_kilobytes;   // the old mavo.qst: a result of about this size; 0: the script
};

const in_place_subject kInPlaceSubjects[] = {
    {"shorter_old_result", "in.qst", 1},
    {"longer_old_result", "in.qst", 3000},
    {"script_is_the_result", "mavo.qst", 0},
};

void PrintTo(const in_place_subject& subject, std::ostream* out) { *out << subject.name; }

class InPlace : public Cli, public ::testing::WithParamInterface<in_place_subject> {
 protected:
  void SetUp() override {
    Cli::SetUp();
    if (under_prefix()) GTEST_SKIP() << "needs the native program, not one run through a prefix";
    if (!runs_without_root_powers())
      GTEST_SKIP() << "running as root, and the program cannot be run as an unprivileged user";
    big_ = make_big_script(1500);  // a result of several writes
    const in_place_subject& subject = GetParam();
    script_ = subject.script;
    if (subject.old_kilobytes == 0) {
      old_ = big_.script;
      files_ = {"mavo.qst"};
    } else {
      old_ = make_big_script(subject.old_kilobytes, "old").result;
      put("in.qst", big_.script);
      files_ = {"in.qst", "mavo.qst"};
    }
    shared_ = shared_folder();
    reset();
    inode_ = inode_of(work_ / "mavo.qst");
  }

  // Gives mavo.qst its old bytes again, for the next run.
  void reset() { put_into_read_only_folder("mavo.qst", old_); }

  // What a failed or interrupted run leaves: the old bytes, in the same file, and
  // nothing else in the folder.
  void expect_old_bytes() {
    EXPECT_TRUE(same_bytes(read_file(work_ / "mavo.qst"), old_)) << "the old mavo.qst must be left as it was";
    EXPECT_EQ(inode_of(work_ / "mavo.qst"), inode_) << "mavo.qst must have been written in place";
    EXPECT_EQ(listing(work_), files_);
  }

  big_script big_;
  std::string script_, old_;
  std::vector<std::string> files_;
  fs::path shared_;
  ino_t inode_ = 0;
};

// Every write and close of the run failed in turn with ENOSPC and with EIO.
TEST_P(InPlace, EveryFailedWriteOrCloseKeepsTheOldBytes) {
  const fs::path counts = shared_ / "counts";
  env_ = {{"LD_PRELOAD", MAVO_FAULT_LIB}, {"MAVO_FAULT_COUNTS", counts.string()}};
  ASSERT_TRUE(same_bytes(run_clean({script_}).result, big_.result));
  ASSERT_EQ(inode_of(work_ / "mavo.qst"), inode_) << "the result was not written in place";
  const call_counts total = read_counts(counts);
  ASSERT_GE(total.write, 3) << "the result should take several writes: " << read_file(counts);
  ASSERT_GE(total.close, 1);
  EXPECT_EQ(total.rename, 0) << "nothing is renamed in place";
  for (const auto& [call, uses] : {std::pair{"write", total.write}, std::pair{"close", total.close}}) {
    for (const int error : {ENOSPC, EIO}) {
      int failed = 0;
      for (long n = 1; n <= uses; ++n) {
        SCOPED_TRACE(std::string(call) + " #" + std::to_string(n) + " fails with " + std::strerror(error));
        reset();
        env_ = {{"LD_PRELOAD", MAVO_FAULT_LIB},
                {"MAVO_FAULT_CALL", call},
                {"MAVO_FAULT_AT", std::to_string(n)},
                {"MAVO_FAULT_ERRNO", std::to_string(error)}};
        const Outcome o = run({script_});
        ASSERT_TRUE(o.exited) << "killed by signal " << o.status;
        if (o.status == 0) {  // a close that is not the result's
          EXPECT_EQ(o.err, "");
          EXPECT_TRUE(same_bytes(o.result, big_.result));
        } else {
          ++failed;
          EXPECT_EQ(o.status, 1);
          expect_system_message(o.err, "mavo.qst", error);
          expect_old_bytes();
        }
      }
      if (std::string(call) == "write") {
        EXPECT_EQ(failed, uses) << "every write is the result's";
      }
      EXPECT_GE(failed, 1) << call;
    }
  }
}

// A file-size limit below the new result, and below the old bytes too for the
// longer ones: the file must get back the old bytes past the limit it never
// wrote, and those below it that it did.
TEST_P(InPlace, FileSizeLimitKeepsTheOldBytes) {
  const Outcome o =
      run_command({"/bin/sh", "-c", "ulimit -f 64 || exit 97; exec \"$0\" \"$@\"", g_program, script_});
  if (o.exited && o.status == 97) GTEST_SKIP() << "ulimit -f is not supported here";
  ASSERT_TRUE(o.exited) << "killed by signal " << o.status;
  EXPECT_EQ(o.status, 1);
  expect_system_message(o.err, "mavo.qst", EFBIG);
  expect_old_bytes();
}

// A signal after the first piece of the result is in the file: the fault library
// holds the second write back until the signal has come, so it always lands in
// the middle. The run ends by the signal, as an interrupted program does.
TEST_P(InPlace, InterruptKeepsTheOldBytes) {
  const fs::path held = shared_ / "held";
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    reset();
    env_ = {{"LD_PRELOAD", MAVO_FAULT_LIB}, {"MAVO_FAULT_HOLD_AT", "2"}, {"MAVO_FAULT_HELD", held.string()}};
    const pid_t pid = start_command(program_words({script_}));
    const bool holding = wait_for_file(held);
    EXPECT_TRUE(holding) << "the run never came to its second write";
    EXPECT_NE(read_file(work_ / "mavo.qst").substr(0, 64), old_.substr(0, 64)) << "the first write is not in the file";
    kill(pid, holding ? sig : SIGKILL);
    const Outcome o = finish_command(pid);
    fs::remove(held);
    EXPECT_FALSE(o.exited) << "status " << o.status;
    EXPECT_EQ(o.status, sig);
    expect_old_bytes();
  }
}

INSTANTIATE_TEST_SUITE_P(Subjects, InPlace, ::testing::ValuesIn(kInPlaceSubjects),
                         [](const ::testing::TestParamInfo<in_place_subject>& p) { return std::string(p.param.name); });

// A second run that comes while the first writes in place waits for the first to
// finish: the first is held at its second write until the second is seen waiting
// for the lock (or, wrongly, has ended), so the second always comes in the middle.
// The second result is then the one in the file, whole.
TEST_F(Cli, InPlaceRunWaitsForTheRunWriting) {
  SKIP_UNDER_PREFIX();
  SKIP_WITHOUT_PERMISSIONS();
  if (!fs::exists("/proc/locks")) GTEST_SKIP() << "no /proc/locks to see a run waiting for a lock";
  const big_script first_script = make_big_script(1500), second_script = make_big_script(700, "other");
  put("a.qst", first_script.script);
  put("b.qst", second_script.script);
  put_into_read_only_folder("mavo.qst", kOld);
  const fs::path held = shared_folder() / "held";
  env_ = {{"LD_PRELOAD", MAVO_FAULT_LIB}, {"MAVO_FAULT_HOLD_AT", "2"}, {"MAVO_FAULT_HELD", held.string()}};
  const pid_t first = start_command(program_words({"a.qst"}));
  ASSERT_TRUE(wait_for_file(held)) << "the first run never came to its second write";
  env_.clear();
  const pid_t second = start_command(program_words({"b.qst"}));
  // /proc/locks lists a run waiting for a lock after "->", with its process id.
  const std::regex waiting("->[^\n]* " + std::to_string(second) + " ");
  bool waits = false, ended = false;
  int second_status = 0;
  for (int i = 0; i < 20000 && !waits && !ended; ++i) {
    waits = std::regex_search(read_file("/proc/locks"), waiting);
    ended = !waits && waitpid(second, &second_status, WNOHANG) == second;
    if (!waits && !ended) usleep(1000);
  }
  EXPECT_TRUE(waits) << (ended ? "the second run did not wait for the first" : "the second run was never seen waiting");
  fs::remove(held);
  int first_status = 0;
  ASSERT_EQ(waitpid(first, &first_status, 0), first);
  if (!ended) {
    ASSERT_EQ(waitpid(second, &second_status, 0), second);
  }
  EXPECT_TRUE(WIFEXITED(first_status) && WEXITSTATUS(first_status) == 0);
  EXPECT_TRUE(WIFEXITED(second_status) && WEXITSTATUS(second_status) == 0);
  EXPECT_TRUE(same_bytes(read_file(work_ / "mavo.qst"), second_script.result));
  EXPECT_EQ(listing(work_), (std::vector<std::string>{"a.qst", "b.qst", "mavo.qst"}));
}

// Two runs at once in such a folder, fifty times: both succeed, and mavo.qst is one
// complete result, never a mix.
TEST_F(Cli, InPlaceConcurrentRunsLeaveOneCompleteResult) {
  SKIP_UNDER_PREFIX();
  SKIP_WITHOUT_PERMISSIONS();
  const big_script big = make_big_script(2000), other = make_big_script(1000, "other");
  put("a.qst", big.script);
  put("b.qst", other.script);
  put_into_read_only_folder("mavo.qst", kOld);
  const ino_t inode = inode_of(work_ / "mavo.qst");
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const pid_t first = start_command(program_words({round % 2 ? "a.qst" : "b.qst"}));
    const pid_t second = start_command(program_words({round % 2 ? "b.qst" : "a.qst"}));
    int status_first = 0, status_second = 0;
    ASSERT_EQ(waitpid(first, &status_first, 0), first);
    ASSERT_EQ(waitpid(second, &status_second, 0), second);
    EXPECT_TRUE(WIFEXITED(status_first) && WEXITSTATUS(status_first) == 0);
    EXPECT_TRUE(WIFEXITED(status_second) && WEXITSTATUS(status_second) == 0);
    const std::string result = read_file(work_ / "mavo.qst");
    EXPECT_TRUE(result == big.result || result == other.result) << "a mixed result of " << result.size() << " bytes";
    EXPECT_EQ(inode_of(work_ / "mavo.qst"), inode) << "mavo.qst must have been written in place";
    EXPECT_EQ(listing(work_), (std::vector<std::string>{"a.qst", "b.qst", "mavo.qst"}));
  }
}

TEST_F(Cli, UsageThatCannotBeWrittenFails) {
  SKIP_UNDER_PREFIX();
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const Outcome o = run_command({"/bin/sh", "-c", "exec \"$0\" >/dev/full", g_program});
  ASSERT_TRUE(o.exited);
  EXPECT_EQ(o.status, 1);
  expect_system_message(o.err, "standard output", ENOSPC);
}

// A full disk (a 64 KiB tmpfs, mounted where root may): the earlier result stays.
// Runs under a prefix too: the Windows build keeps the guarantee there.
TEST_F(Cli, FullDiskKeepsTheEarlierResult) {
  const fs::path disk = root_ / "disk";
  fs::create_directory(disk);
  if (geteuid() != 0 || mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  mounted_ = disk;
  const big_script big = make_big_script(200);
  put("in.qst", big.script);
  write_file(disk / "mavo.qst", kOld);
  cwd_ = disk;
  const Outcome o = run({(work_ / "in.qst").string()});
  ASSERT_TRUE(o.exited) << "killed by signal " << o.status;
  EXPECT_EQ(o.status, 1);
  expect_system_message(o.err, "mavo.qst", ENOSPC);
  EXPECT_EQ(o.result, kOld);
  EXPECT_EQ(listing(disk), std::vector<std::string>{"mavo.qst"});
  // With room enough the same run replaces it.
  write_file(disk / "mavo.qst", kOld);
  put("in.qst", kRoad);
  EXPECT_EQ(run_clean({(work_ / "in.qst").string()}).result, kRoadResult);
  EXPECT_EQ(listing(disk), std::vector<std::string>{"mavo.qst"});
}

// ---- reading in chunks: line ends and Ctrl-Z far into the file ----

// Lines of filler that put the next byte at `offset`.
std::string pad_to(std::string text, std::size_t offset) {
  while (text.size() + 10 < offset) text += "msg xxxxx\n";
  text.append(offset - text.size() - 1, 'y');
  return text + "\n";
}

TEST_F(Cli, CrLfAcrossReadBoundary) {
  // A CR as the last byte of the first 64 KiB read: followed by an LF the pair
  // still becomes one LF, followed by anything else the CR stays.
  const std::string head = pad_to(":a\n", 65536);
  std::string split = head;
  split.back() = '\r';
  const std::string button = " mavo r,c & x\n";
  put("lf.qst", head + button);
  put("crlf.qst", split + "\n" + button);
  put("cr.qst", split + "z\n" + button);
  const Outcome lf = run_clean({"lf.qst"});
  fs::remove(work_ / "mavo.qst");
  const Outcome pair = run_clean({"crlf.qst"});
  fs::remove(work_ / "mavo.qst");
  const Outcome lone = run_clean({"cr.qst"});
  ASSERT_TRUE(lf.result && pair.result);
  EXPECT_TRUE(same_bytes(lf.result, crlf(head + kButtonRC + kTailRC)));
  EXPECT_TRUE(same_bytes(pair.result, *lf.result));
  EXPECT_TRUE(same_bytes(lone.result, crlf(split + "z\n" + kButtonRC + kTailRC)));
}

TEST_F(Cli, CtrlZBeyondFirstChunk) {
  const std::string button = " mavo r,c & x\n";
  const std::string filler = pad_to(":a\n" + button, 200000).substr(3 + button.size());
  put("in.qst", ":a\n" + button + filler + "\x1a\n mavo q,w & y\n");
  const Outcome o = run_clean({"in.qst"});
  EXPECT_TRUE(same_bytes(o.result, crlf(":a\n" + kButtonRC + filler + kTailRC)));
}

// ---- out of memory ----

// A sanitizer build reserves a vast shadow memory at start, which no address-space
// limit leaves room for; the limit is tested on ordinary builds.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool SANITIZED = true;
#elif defined(__has_feature)
constexpr bool SANITIZED = __has_feature(address_sanitizer);
#else
constexpr bool SANITIZED = false;
#endif

TEST_F(Cli, OutOfMemoryEndsSilently) {
  SKIP_UNDER_PREFIX();
  if (SANITIZED) GTEST_SKIP() << "a sanitizer build cannot start under an address-space limit";
  // 64 MiB of address space is ample for the program itself and far below what a
  // 200 MB script needs; status 97 tells that the shell cannot set the limit.
  const auto limited = [&](const std::string& script) {
    return run_command({"/bin/sh", "-c", "ulimit -v 65536 2>/dev/null || exit 97; exec \"$0\" \"$@\"",
                        g_program, script});
  };
  put("small.qst", kRoad);
  const Outcome small = limited("small.qst");
  if (small.exited && small.status == 97) GTEST_SKIP() << "ulimit -v is not supported here";
  ASSERT_EQ(small.status, 0) << "the limit leaves no room to start: " << small.err;
  ASSERT_EQ(small.result, kRoadResult);
  fs::remove(work_ / "mavo.qst");
  {
    std::ofstream big(work_ / "big.qst", std::ios::binary);
    big << ":a\n mavo r,c & x\n";
    std::string lines;
    for (int i = 0; i < 512 * 1024; ++i) lines += "x\n";
    for (int i = 0; i < 200; ++i) big << lines;
    ASSERT_TRUE(big.good());
  }
  const Outcome o = limited("big.qst");
  EXPECT_TRUE(o.exited) << "killed by signal " << o.status;
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "") << "running out of memory prints nothing";
  EXPECT_TRUE(result_absent());
}

// Every address-space limit from the least the program loads under up to the
// least it succeeds under, page by page: in between, the C runtime's own
// allocations fail (opening the script, say), and each run must still end as out
// of memory, with status 1 and no message. Status 127 is the loader failing to
// map the program, which is not yet a run.
TEST_F(Cli, EveryTightMemoryLimitEndsSilently) {
  SKIP_UNDER_PREFIX();
  if (SANITIZED) GTEST_SKIP() << "a sanitizer build cannot start under an address-space limit";
  put("in.qst", kRoad);
  constexpr rlim_t PAGE = 4096;
  const auto limited = [&](rlim_t bytes) {
    address_limit_ = bytes;
    const Outcome o = run({"in.qst"});
    address_limit_ = 0;
    std::error_code ignored;
    fs::remove(work_ / "mavo.qst", ignored);
    return o;
  };
  rlim_t low = 0, high = rlim_t{64} << 20;  // too little to load; enough to succeed
  const Outcome ample = limited(high);
  ASSERT_TRUE(ample.exited && ample.status == 0) << "64 MiB should be ample: " << ample.err;
  while (high - low > PAGE) {
    const rlim_t middle = (low + high) / 2 / PAGE * PAGE;
    const Outcome o = limited(middle);
    (o.exited && o.status == 127 ? low : high) = middle;
  }
  int silent_failures = 0;
  bool succeeded = false;
  for (rlim_t limit = high; limit < high + (rlim_t{16} << 20) && !succeeded; limit += PAGE) {
    SCOPED_TRACE("address space limited to " + std::to_string(limit / 1024) + " KiB");
    const Outcome o = limited(limit);
    if (o.exited && o.status == 127) continue;
    ASSERT_TRUE(o.exited) << "killed by signal " << o.status;
    ASSERT_EQ(o.err, "") << "running out of memory prints nothing";
    EXPECT_EQ(o.out, "");
    ASSERT_TRUE(o.status == 0 || o.status == 1) << "status " << o.status;
    succeeded = o.status == 0;
    if (succeeded) {
      EXPECT_EQ(o.result, kRoadResult);
    } else {
      ++silent_failures;
    }
  }
  EXPECT_TRUE(succeeded) << "no limit up to 16 MiB above the least let the run succeed";
  EXPECT_GT(silent_failures, 0) << "no limit let the program start and then run out of memory";
}

// The script's opening failed by the fault library: ENOMEM is running out of
// memory (silent), any other error is the script's message.
TEST_F(Cli, FailedScriptOpenOutOfMemoryIsSilent) {
  SKIP_UNDER_PREFIX();
  put("in.qst", kRoad);
  for (const int error : {ENOMEM, EIO, EACCES}) {
    SCOPED_TRACE(std::strerror(error));
    env_ = {{"LD_PRELOAD", MAVO_FAULT_LIB},
            {"MAVO_FAULT_CALL", "fopen"},
            {"MAVO_FAULT_AT", "1"},
            {"MAVO_FAULT_ERRNO", std::to_string(error)}};
    const Outcome o = run({"in.qst"});
    ASSERT_TRUE(o.exited) << "killed by signal " << o.status;
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    if (error == ENOMEM) {
      EXPECT_EQ(o.err, "") << "running out of memory prints nothing";
    } else {
      expect_system_message(o.err, "in.qst", error);
    }
    EXPECT_TRUE(result_absent());
  }
}

// Found by fuzzing: 974 bytes whose labels, copied into "goto" lines with their
// keywords, are expanded again and again, asking for gigabytes. Under a limit the
// run must end as out of memory: status 1, silent, no result file.
TEST_F(Cli, ExplosiveOutputRunsOutOfMemory) {
  SKIP_UNDER_PREFIX();
  if (SANITIZED) GTEST_SKIP() << "a sanitizer build cannot start under an address-space limit";
  fs::copy_file(fs::path(MAVO_SOURCE_DIR) / "fuzz/regressions/explosive-output.qst", work_ / "in.qst");
  const Outcome o = run_command({"/bin/sh", "-c", "ulimit -v 262144 2>/dev/null || exit 97; exec \"$0\" \"$@\"",
                                 g_program, "in.qst"});
  if (o.exited && o.status == 97) GTEST_SKIP() << "ulimit -v is not supported here";
  EXPECT_TRUE(o.exited) << "killed by signal " << o.status;
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "");
  EXPECT_TRUE(result_absent());
  EXPECT_LT(o.seconds, 30.0);
}

// ---- hostile inputs: status 0, no crash, quickly ----

TEST_F(Cli, BinaryNoise) {
  // Random bytes with an action button every 64 KiB, so that the expansion runs
  // over the noise too.
  std::mt19937 gen(20240611);
  std::string noise;
  for (int block = 0; block < 64; ++block) {
    for (int i = 0; i < 65536; ++i) {
      const char c = static_cast<char>(gen() & 0xFF);
      noise += c == '\x1a' ? '\x1b' : c;  // a Ctrl-Z would end the input early
    }
    noise += "\n mavo r,c & x\n";
  }
  put("in.qst", noise);
  const Outcome o = run_clean({"in.qst"});
  ASSERT_TRUE(o.result);
  expect_well_formed(*o.result);
}

TEST_F(Cli, ScriptAlphabetNoise) {
  // Random text made of what statements are made of, so that many partial and
  // complete buttons, labels, comments and line ends turn up.
  const std::string alphabet = "mavo mavo ,,&&::;\n\n\r \tabc\0"s;
  std::mt19937 gen(7);
  std::string noise(3 << 20, '\0');
  for (char& c : noise) c = alphabet[gen() % alphabet.size()];
  put("in.qst", noise);
  const Outcome o = run_clean({"in.qst"});
  ASSERT_TRUE(o.result);
  expect_well_formed(*o.result);
}

TEST_F(Cli, ManyNulsThenButton) {
  const std::string nuls(1 << 20, '\0');
  put("in.qst", ":a\n" + nuls + "\n mavo r,c & x\n");
  EXPECT_TRUE(same_bytes(run_clean({"in.qst"}).result, crlf(":a\n" + nuls + "\n" + kButtonRC + kTailRC)));
}

TEST_F(Cli, OnlyCarriageReturns) {
  put("in.qst", std::string(2 << 20, '\r'));
  run_clean({"in.qst"});
  EXPECT_TRUE(result_absent());
}

TEST_F(Cli, FiftyMegabyteLine) {
  const std::string line(50'000'000, 'a');
  put("in.qst", line + "\n:a\n mavo r,c & x\n");
  EXPECT_TRUE(same_bytes(run_clean({"in.qst"}).result, crlf(line + "\n:a\n" + kButtonRC + kTailRC)));
}

TEST_F(Cli, OnlyKeywords) {
  std::string keywords;
  for (int i = 0; i < 600000; ++i) keywords += "mavo ";
  put("in.qst", keywords);
  run_clean({"in.qst"});
  EXPECT_TRUE(result_absent());
}

TEST_F(Cli, TwentyThousandButtons) {
  std::string script = ":a\n", lines, blocks;
  for (int i = 0; i < 20000; ++i) {
    const std::string n = std::to_string(i);
    script += " mavo r" + n + ",c" + n + " & x" + n + "\n";
    lines += " btn mavo_r" + n + "_c" + n + "_,c" + n + " \n";
    blocks += ":mavo_r" + n + "_c" + n + "_\nx" + n + "\ngoto r" + n + "\nend\n\n";
  }
  put("in.qst", script);
  const std::string want =
      crlf(":a\n" + lines + "\nend\n;===== mavo implementation =====\n" + blocks + "\nend\n");
  EXPECT_TRUE(same_bytes(run_clean({"in.qst"}).result, want));
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s [gtest flags] <path-to-mavo> [prefix words...]\n", argv[0]);
    return 2;
  }
  char resolved[PATH_MAX];
  if (realpath(argv[1], resolved) == nullptr) {
    std::perror(argv[1]);
    return 2;
  }
  g_program = resolved;
  for (int i = 2; i < argc; ++i) g_prefix.emplace_back(argv[i]);
  return RUN_ALL_TESTS();
}
