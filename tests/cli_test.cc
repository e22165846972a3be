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
  // environment; yields its process id.
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

  static constexpr uid_t NOBODY = 65534;
  fs::path root_, work_;
  fs::path cwd_;      // where the program runs, when not in `work_`
  fs::path mounted_;  // a file system the test mounted, unmounted at the end
  std::vector<std::pair<std::string, std::string>> env_;
  std::chrono::steady_clock::time_point start_;
  bool unprivileged_ = false;
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
    {"short_form_is_a_path", {}, {"-h"}, 1, "", "-h", {}},
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
