// A library for LD_PRELOAD that makes the program's file calls fail or slow down,
// so that the command-line suite can try every failure a full disk, an I/O error
// or a signal in the middle of a write can cause. Driven by the environment:
//
//   MAVO_FAULT_CALL=write|close|rename|fopen  the call to fail...
//   MAVO_FAULT_AT=N                     ...at its N-th use (from 1)...
//   MAVO_FAULT_ERRNO=E                  ...with this errno
//   MAVO_FAULT_SLOW_MS=M                every write first sleeps M milliseconds
//   MAVO_FAULT_HOLD_AT=N                the N-th write first creates the file...
//   MAVO_FAULT_HELD=PATH                ...PATH and waits until it is removed
//   MAVO_FAULT_COUNTS=PATH              at exit, "write W close C rename R fopen F" to PATH
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

enum fault_call { FAULT_WRITE, FAULT_CLOSE, FAULT_RENAME, FAULT_FOPEN, FAULT_CALLS };
const char* const CALL_NAMES[FAULT_CALLS] = {"write", "close", "rename", "fopen"};

long g_counts[FAULT_CALLS];

long env_number(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? 0 : std::strtol(value, nullptr, 10);
}

// True when use `n` of `call` is the one to fail (errno is set then).
bool fails(fault_call call, long n) {
  const char* which = std::getenv("MAVO_FAULT_CALL");
  if (which == nullptr || std::strcmp(which, CALL_NAMES[call]) != 0 || n != env_number("MAVO_FAULT_AT")) return false;
  errno = static_cast<int>(env_number("MAVO_FAULT_ERRNO"));
  return true;
}

// Counts a use of `call`; true when this use is the one to fail (errno is set).
bool should_fail(fault_call call) { return fails(call, ++g_counts[call]); }

template <typename fn>
fn next(const char* name) {
  return reinterpret_cast<fn>(dlsym(RTLD_NEXT, name));
}

// Writes the counts where MAVO_FAULT_COUNTS asks, with the real calls.
__attribute__((destructor)) void report_counts() {
  const char* path = std::getenv("MAVO_FAULT_COUNTS");
  if (path == nullptr) return;
  char line[128];
  const int n = std::snprintf(line, sizeof line, "write %ld close %ld rename %ld fopen %ld\n",
                              g_counts[FAULT_WRITE], g_counts[FAULT_CLOSE], g_counts[FAULT_RENAME],
                              g_counts[FAULT_FOPEN]);
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return;
  next<ssize_t (*)(int, const void*, size_t)>("write")(fd, line, static_cast<size_t>(n));
  next<int (*)(int)>("close")(fd);
}

// Before the write that MAVO_FAULT_HOLD_AT names: says so by creating the file
// MAVO_FAULT_HELD names, then waits until that file is gone. A signal that ends
// the program ends the wait too, so whoever sees the file knows that the writes
// before are done and the next has not begun.
void hold_if_asked(long n) {
  const char* held = std::getenv("MAVO_FAULT_HELD");
  if (held == nullptr || n != env_number("MAVO_FAULT_HOLD_AT")) return;
  const int error = errno;
  const int fd = open(held, O_WRONLY | O_CREAT | O_EXCL, 0666);
  if (fd >= 0) next<int (*)(int)>("close")(fd);
  const timespec step{0, 1000000};
  while (access(held, F_OK) == 0) nanosleep(&step, nullptr);
  errno = error;
}

}  // namespace

extern "C" ssize_t write(int fd, const void* data, size_t n) {
  if (const long ms = env_number("MAVO_FAULT_SLOW_MS"); ms > 0) {
    const timespec pause{ms / 1000, (ms % 1000) * 1000000};
    nanosleep(&pause, nullptr);
  }
  // Counted first: a signal handler's write during the hold is the next one.
  const long use = ++g_counts[FAULT_WRITE];
  hold_if_asked(use);
  if (fails(FAULT_WRITE, use)) return -1;
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

extern "C" FILE* fopen(const char* path, const char* mode) {
  if (should_fail(FAULT_FOPEN)) return nullptr;
  return next<FILE* (*)(const char*, const char*)>("fopen")(path, mode);
}

extern "C" FILE* fopen64(const char* path, const char* mode) {
  if (should_fail(FAULT_FOPEN)) return nullptr;
  return next<FILE* (*)(const char*, const char*)>("fopen64")(path, mode);
}
