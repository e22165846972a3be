#include "common/io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using namespace std::string_literals;

// Decodes `pieces` as successive reads of one file.
std::string decode(const std::vector<std::string>& pieces) {
  text_decoder decoder;
  script_text text;
  for (const std::string& piece : pieces) decode_text_mode(decoder, piece.data(), piece.size(), text);
  finish_text_mode(decoder, text);
  return text;
}

std::string encode(const std::string& in) {
  std::string out(2 * in.size(), '\0');
  out.resize(encode_text_mode(in.data(), in.size(), out.data()));
  return out;
}

TEST(TextModeRead, TurnsCrLfIntoLfAndKeepsLoneCr) {
  EXPECT_EQ(decode({"a\r\nb\r\n"}), "a\nb\n");
  EXPECT_EQ(decode({"a\rb\r"}), "a\rb\r");
  EXPECT_EQ(decode({"a\r\r\n"}), "a\r\n");
  EXPECT_EQ(decode({"\n\r\n\n"}), "\n\n\n");
  EXPECT_EQ(decode({"a\0b\r\n"s}), "a\0b\n"s);
}

TEST(TextModeRead, StopsAtTheFirstCtrlZ) {
  EXPECT_EQ(decode({"a\n\x1a" "b\n"}), "a\n");
  EXPECT_EQ(decode({"a\r\x1a\n"}), "a\r");
  EXPECT_EQ(decode({"\x1a"}), "");
  EXPECT_EQ(decode({"a\x1a", "more\n"}), "a");
}

TEST(TextModeRead, PairsSplitAcrossReadsAreJoined) {
  EXPECT_EQ(decode({"a\r", "\nb"}), "a\nb");
  EXPECT_EQ(decode({"a\r", "b"}), "a\rb");
  EXPECT_EQ(decode({"a\r", "\x1a"}), "a\r");
  EXPECT_EQ(decode({"a\r", "", "\n"}), "a\n");
}

// The byte-by-byte reading of text mode, for comparison.
std::string plain_decode(const std::string& in) {
  std::string out;
  for (std::size_t i = 0; i < in.size() && in[i] != CTRL_Z; ++i) {
    if (in[i] == '\r' && i + 1 < in.size() && in[i + 1] == '\n') continue;
    out += in[i];
  }
  return out;
}

std::string plain_encode(const std::string& in) {
  std::string out;
  for (const char c : in) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

TEST(TextMode, AgreesWithTheByteByByteReadingAtEveryLength) {
  // The decoder and the encoder work on many bytes at once: line ends, lone CRs and
  // Ctrl-Z at every position of texts of every length up to a few blocks.
  const char specials[] = {'\n', '\r', CTRL_Z};
  for (std::size_t n = 0; n < 70; ++n) {
    for (std::size_t at = 0; at < n; ++at) {
      for (const char c : specials) {
        std::string in(n, 'a');
        in[at] = c;
        if (at + 1 < n) in[at + 1] = '\n';  // makes a CR LF pair of a CR
        if (at % 7 == 3) in[n - 1] = '\n';
        ASSERT_EQ(decode({in}), plain_decode(in)) << n << " " << at;
        ASSERT_EQ(decode({in.substr(0, at + 1), in.substr(at + 1)}), plain_decode(in)) << n << " " << at;
        ASSERT_EQ(encode(in), plain_encode(in)) << n << " " << at;
      }
    }
  }
}

TEST(TextModeWrite, TurnsEveryLfIntoCrLf) {
  EXPECT_EQ(encode("a\nb\n"), "a\r\nb\r\n");
  EXPECT_EQ(encode("\n\n"), "\r\n\r\n");
  EXPECT_EQ(encode("a\r\n"), "a\r\r\n");
  EXPECT_EQ(encode("a\0b"s), "a\0b"s);
}

// A scratch folder for the file tests, removed with its files afterwards.
class ScratchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> serial{0};
    const auto name = "mavo_io_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                      "_" + std::to_string(serial++);
    folder_ = (std::filesystem::temp_directory_path() / name).string();
    ASSERT_TRUE(std::filesystem::create_directory(folder_));
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::string path(const char* name) const { return folder_ + "/" + name; }
  static void put(const std::string& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
  }
  static std::string get(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string folder_;
};

TEST_F(ScratchFolder, ReadsPastEveryBufferBoundary) {
  // CR LF pairs fall across the reader's buffer boundaries.
  std::string in, expected;
  for (int i = 0; i < 50000; ++i) {
    in += "line " + std::to_string(i) + "\r\n";
    expected += "line " + std::to_string(i) + "\n";
  }
  put(path("big.qst"), in);
  script_text text;
  ASSERT_TRUE(read_script(path("big.qst").c_str(), text));
  EXPECT_EQ(text, expected);
}

#ifndef _WIN32  // named pipes exist only here
TEST_F(ScratchFolder, ReadsAPipeToItsEndWithPairsAcrossReads) {
  // A pipe has no length: the text is read in the pieces the pipe delivers, which
  // end wherever the writer's buffer did (splits of a pair are tested above).
  const std::string pipe = path("pipe.qst");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  std::string in, expected;
  for (int i = 0; in.size() < 300000; ++i) {
    const std::string line = std::string(static_cast<std::size_t>(i % 97), 'p') + "\r\n";
    in += line;
    expected += line.substr(0, line.size() - 2) + "\n";
  }
  std::thread writer([&] { put(pipe, in); });
  script_text text;
  const bool read = read_script(pipe.c_str(), text);
  writer.join();
  ASSERT_TRUE(read);
  EXPECT_EQ(text, expected);
}
#endif

// Opening a folder fails on Windows itself ("Permission denied"); elsewhere the
// open succeeds and the first read fails ("Is a directory").
#ifdef _WIN32
constexpr int FOLDER_ERROR = EACCES;
#else
constexpr int FOLDER_ERROR = EISDIR;
#endif

TEST_F(ScratchFolder, ReadFailuresReportTheReason) {
  script_text text;
  errno = 0;
  EXPECT_FALSE(read_script(path("missing.qst").c_str(), text));
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_FALSE(read_script(folder_.c_str(), text));
  EXPECT_EQ(errno, FOLDER_ERROR);
}

// The names in the scratch folder, sorted.
std::vector<std::string> listing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(ScratchFolder, ReplacesTheFileWholeInTextMode) {
  put(path("out.qst"), std::string(100000, 'x'));
  ASSERT_TRUE(write_result(path("out.qst").c_str(), "a\nb", "\nend\n"));
  EXPECT_EQ(get(path("out.qst")), "a\r\nb\r\nend\r\n");
  EXPECT_EQ(listing(folder_), std::vector<std::string>{"out.qst"}) << "no temporary file may stay";
  ASSERT_TRUE(write_result(path("new.qst").c_str(), "", "\n"));
  EXPECT_EQ(get(path("new.qst")), "\r\n");
}

#ifndef _WIN32  // permission bits and links as POSIX has them
TEST_F(ScratchFolder, KeepsThePermissionsOfTheFileItReplaces) {
  put(path("out.qst"), "old");
  ASSERT_EQ(chmod(path("out.qst").c_str(), 0640), 0);
  ASSERT_TRUE(write_result(path("out.qst").c_str(), "a", ""));
  struct stat info {};
  ASSERT_EQ(stat(path("out.qst").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  // A new result has the bits of any new file: read and write for all, less the umask.
  for (const mode_t mask : {mode_t{022}, mode_t{077}, mode_t{0}}) {
    const mode_t before = umask(mask);
    std::remove(path("fresh.qst").c_str());
    const bool written = write_result(path("fresh.qst").c_str(), "a", "");
    umask(before);
    ASSERT_TRUE(written);
    ASSERT_EQ(stat(path("fresh.qst").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask) << "umask " << std::oct << mask;
  }
}

TEST_F(ScratchFolder, ReplacesALinkRatherThanWritingThroughIt) {
  put(path("script.qst"), "the script");
  ASSERT_EQ(symlink("script.qst", path("sym.qst").c_str()), 0);
  ASSERT_EQ(link(path("script.qst").c_str(), path("hard.qst").c_str()), 0);
  ASSERT_TRUE(write_result(path("sym.qst").c_str(), "a", ""));
  ASSERT_TRUE(write_result(path("hard.qst").c_str(), "b", ""));
  EXPECT_EQ(get(path("script.qst")), "the script");
  EXPECT_EQ(get(path("sym.qst")), "a");
  EXPECT_EQ(get(path("hard.qst")), "b");
  struct stat info {};
  ASSERT_EQ(lstat(path("sym.qst").c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
}
#endif

TEST_F(ScratchFolder, WriteFailuresReportTheReasonAndKeepTheOldFile) {
  std::filesystem::create_directory(path("folder.qst"));
  errno = 0;
  EXPECT_FALSE(write_result(path("folder.qst").c_str(), "a", "b"));
  EXPECT_EQ(errno, FOLDER_ERROR);
  EXPECT_TRUE(std::filesystem::is_directory(path("folder.qst")));
  errno = 0;
  EXPECT_FALSE(write_result(path("missing/out.qst").c_str(), "a", "b"));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(listing(folder_), std::vector<std::string>{"folder.qst"}) << "no temporary file may stay";
}

// Any failure to get memory ends the run with status 1 and no message.
TEST(MemoryRule, SizesThatCannotBeHeldEndTheRun) {
  EXPECT_EXIT(size_add_or_exit(static_cast<std::size_t>(-1), 1), ::testing::ExitedWithCode(1), "^$");
  script_text text;
  EXPECT_EXIT(alloc_or_exit(text, text.max_size() + 1), ::testing::ExitedWithCode(1), "^$");
  EXPECT_EQ(size_add_or_exit(static_cast<std::size_t>(-2), 1), static_cast<std::size_t>(-1));
}

}  // namespace
