// A library for LD_PRELOAD that makes the program's file calls fail or slow down,
// so that the command-line suite can try every failure a full disk, an I/O error
// or a signal in the middle of a write can cause. Driven by the environment:
//
//   MAVO_FAULT_CALL=write|close|rename  the call to fail...
//   MAVO_FAULT_AT=N                     ...at its N-th use (from 1)...
//   MAVO_FAULT_ERRNO=E                  ...with this errno
//   MAVO_FAULT_SLOW_MS=M                every write first sleeps M milliseconds
//   MAVO_FAULT_COUNTS=PATH              at exit, "write W close C rename R" to PATH
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

enum fault_call { FAULT_WRITE, FAULT_CLOSE, FAULT_RENAME, FAULT_CALLS };
const char* const CALL_NAMES[FAULT_CALLS] = {"write", "close", "rename"};

long g_counts[FAULT_CALLS];

long env_number(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? 0 : std::strtol(value, nullptr, 10);
}

// Counts a use of `call`; true when this use is the one to fail (errno is set).
bool should_fail(fault_call call) {
  const long n = ++g_counts[call];
  const char* which = std::getenv("MAVO_FAULT_CALL");
  if (which == nullptr || std::strcmp(which, CALL_NAMES[call]) != 0 || n != env_number("MAVO_FAULT_AT")) return false;
  errno = static_cast<int>(env_number("MAVO_FAULT_ERRNO"));
  return true;
}

template <typename fn>
fn next(const char* name) {
  return reinterpret_cast<fn>(dlsym(RTLD_NEXT, name));
}

// Writes the counts where MAVO_FAULT_COUNTS asks, with the real calls.
__attribute__((destructor)) void report_counts() {
  const char* path = std::getenv("MAVO_FAULT_COUNTS");
  if (path == nullptr) return;
  char line[128];
  const int n = std::snprintf(line, sizeof line, "write %ld close %ld rename %ld\n", g_counts[FAULT_WRITE],
                              g_counts[FAULT_CLOSE], g_counts[FAULT_RENAME]);
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return;
  next<ssize_t (*)(int, const void*, size_t)>("write")(fd, line, static_cast<size_t>(n));
  next<int (*)(int)>("close")(fd);
}

}  // namespace

extern "C" ssize_t write(int fd, const void* data, size_t n) {
  if (const long ms = env_number("MAVO_FAULT_SLOW_MS"); ms > 0) {
    const timespec pause{ms / 1000, (ms % 1000) * 1000000};
    nanosleep(&pause, nullptr);
  }
  if (should_fail(FAULT_WRITE)) return -1;
  return next<ssize_t (*)(int, const void*, size_t)>("write")(fd, data, n);
}

extern "C" int close(int fd) {
  if (should_fail(FAULT_CLOSE)) {
    next<int (*)(int)>("close")(fd);  // as on Linux: the descriptor is gone even so
    return -1;
  }
  return next<int (*)(int)>("close")(fd);
}

extern "C" int rename(const char* from, const char* to) {
  if (should_fail(FAULT_RENAME)) return -1;
  return next<int (*)(const char*, const char*)>("rename")(from, to);
}
