// run_timed: runs a command once and appends one line to a result file:
//   <wall seconds> <cpu seconds> <peak resident KiB> <status>
// cpu is the command's user plus system time, which other load on the machine
// disturbs less than wall time; status is the exit code, "sig<N>" for a signal,
// or "timeout" when the command was killed after the time limit. Exits 0 once
// the line is written.
//   run_timed [-t <seconds>] <result-file> <command> [args...]
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t timed_out = 0;
volatile pid_t child = 0;

void on_alarm(int) {
  timed_out = 1;
  if (child > 0) kill(child, SIGKILL);
}

double now_seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

int usage() {
  std::fputs("usage: run_timed [-t <seconds>] <result-file> <command> [args...]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int arg = 1;
  unsigned limit = 0;
  if (arg + 1 < argc && std::strcmp(argv[arg], "-t") == 0) {
    limit = static_cast<unsigned>(std::strtoul(argv[arg + 1], nullptr, 10));
    arg += 2;
  }
  if (argc - arg < 2) return usage();
  const char* result_path = argv[arg];
  char** command = argv + arg + 1;

  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = on_alarm;
  sigaction(SIGALRM, &action, nullptr);

  const double start = now_seconds();
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("fork");
    return 1;
  }
  if (pid == 0) {
    execvp(command[0], command);
    std::perror(command[0]);
    _exit(127);
  }
  child = pid;
  if (limit > 0) alarm(limit);
  int status = 0;
  rusage usage_of_child;
  while (wait4(pid, &status, 0, &usage_of_child) < 0) {
    if (errno != EINTR) {
      std::perror("wait4");
      return 1;
    }
  }
  const double wall = now_seconds() - start;
  alarm(0);

  char outcome[32];
  if (timed_out) {
    std::snprintf(outcome, sizeof outcome, "timeout");
  } else if (WIFSIGNALED(status)) {
    std::snprintf(outcome, sizeof outcome, "sig%d", WTERMSIG(status));
  } else {
    std::snprintf(outcome, sizeof outcome, "%d", WEXITSTATUS(status));
  }
  std::FILE* result = std::fopen(result_path, "a");
  if (result == nullptr) {
    std::perror(result_path);
    return 1;
  }
  const double cpu = static_cast<double>(usage_of_child.ru_utime.tv_sec + usage_of_child.ru_stime.tv_sec) +
                     static_cast<double>(usage_of_child.ru_utime.tv_usec + usage_of_child.ru_stime.tv_usec) * 1e-6;
  // Linux reports ru_maxrss in KiB.
  std::fprintf(result, "%.6f %.6f %ld %s\n", wall, cpu, static_cast<long>(usage_of_child.ru_maxrss), outcome);
  return std::fclose(result) == 0 ? 0 : 1;
}
