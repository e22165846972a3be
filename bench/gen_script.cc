// gen_script: writes a generated qst script to standard output.
//   gen_script <rooms> [seed]              rooms of prose and buttons (seed 1 by default)
//   gen_script --pattern <name> <count>    an adversarial pattern at <count> statements
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "script_gen.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

void usage() {
  std::fputs("usage: gen_script <rooms> [seed]\n       gen_script --pattern <name> <count>\npatterns:", stderr);
  for (const char* const* name = PATTERN_NAMES; *name != nullptr; ++name) std::fprintf(stderr, " %s", *name);
  std::fputc('\n', stderr);
}

// A whole decimal number, or false.
bool parse_count(const char* arg, std::uint64_t& value) {
  if (*arg < '0' || *arg > '9') return false;
  char* end = nullptr;
  value = std::strtoull(arg, &end, 10);
  return *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  std::string out;
  if (argc == 4 && std::strcmp(argv[1], "--pattern") == 0) {
    std::uint64_t count = 0;
    if (!parse_count(argv[3], count) || !generate_pattern(argv[2], count, out)) {
      usage();
      return 2;
    }
  } else if (argc == 2 || argc == 3) {
    std::uint64_t rooms = 0, seed = 1;
    if (!parse_count(argv[1], rooms) || (argc == 3 && !parse_count(argv[2], seed))) {
      usage();
      return 2;
    }
    out = generate_rooms(rooms, seed);
  } else {
    usage();
    return 2;
  }
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);  // LF stays LF, as on every other platform
#endif
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
    std::perror("gen_script");
    return 1;
  }
  return 0;
}
