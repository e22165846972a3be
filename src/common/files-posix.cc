// The file layer on POSIX systems: names are bytes, every call is the system's own.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "common/files.h"
#include "text/text.h"

namespace {

constexpr char TEMP_SUFFIX[] = ".XXXXXX";  // the temporary file is "<result>.XXXXXX"
constexpr std::size_t MAX_PATH_BYTES = 4096;
constexpr std::size_t READ_CHUNK = 64 * 1024;

// Writes all `n` bytes, going on after short writes; false on an error. Only
// calls that a signal handler may make.
bool write_all(int fd, const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t written = write(fd, data, n);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) {
      errno = EIO;
      return false;
    }
    data += written;
    n -= static_cast<std::size_t>(written);
  }
  return true;
}

// The temporary file's name, and whether it exists, for the signal handler.
char g_temp_name[MAX_PATH_BYTES + sizeof TEMP_SUFFIX];
volatile std::sig_atomic_t g_temp_live = 0;

// A result written in place: a second descriptor of the same open file, which
// holds the lock and outlives the writing one so that the old bytes can be put
// back even after a failed close; the old bytes; whether they must be put back
// when the run fails or is interrupted; and whether the file has been cut
// short of them already.
int g_keep_fd = -1;
script_text g_old;
const char* g_old_bytes = nullptr;
std::size_t g_old_size = 0;
volatile std::sig_atomic_t g_in_place_live = 0;
volatile std::sig_atomic_t g_in_place_cut = 0;

constexpr int INTERRUPTS[] = {SIGINT, SIGTERM, SIGHUP};

// Puts the old bytes back over what the run wrote in place and cuts the file to
// their length. The writes have gone from the start of the file to the shared
// file offset, so only that part is written again, unless the file was cut
// already: an old file above a file-size limit is rewritten only below it. Only
// calls that a signal handler may make.
void restore_in_place() {
  const off_t written = lseek(g_keep_fd, 0, SEEK_CUR);
  std::size_t n = g_old_size;
  if (!g_in_place_cut && written >= 0 && static_cast<unsigned long long>(written) < n)
    n = static_cast<std::size_t>(written);
  if (lseek(g_keep_fd, 0, SEEK_SET) == 0 && write_all(g_keep_fd, g_old_bytes, n)) {
    [[maybe_unused]] const int ignored = ftruncate(g_keep_fd, static_cast<off_t>(g_old_size));
  }
}

// Undoes the run's writes (removes the temporary file, or puts the old bytes
// back in place), then lets the signal end the process as it would have: the
// handler was reset on entry, and the signal raised here is delivered with its
// default action once the handler returns.
extern "C" void undo_then_resignal(int sig) {
  if (g_temp_live) unlink(g_temp_name);
  g_temp_live = 0;
  if (g_in_place_live) restore_in_place();
  g_in_place_live = 0;
  raise(sig);
}

// Interrupts undo the run's writes (those ignored when the run began stay
// ignored); a file-size limit fails the write with EFBIG instead of killing.
void catch_interrupts() {
  for (const int sig : INTERRUPTS) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = undo_then_resignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(sig, &action, nullptr);
  }
  std::signal(SIGXFSZ, SIG_IGN);
}

// Holds the interrupts back while the files and the flags above disagree, so
// that a handler never removes a name that another run may own, nor puts old
// bytes over a result that is complete.
void hold_interrupts(sigset_t& previous) {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : INTERRUPTS) sigaddset(&set, sig);
  sigprocmask(SIG_BLOCK, &set, &previous);
}
void release_interrupts(const sigset_t& previous) { sigprocmask(SIG_SETMASK, &previous, nullptr); }

// Removes the temporary file if it still exists, keeping errno.
void remove_temp() {
  const int error = errno;
  sigset_t held;
  hold_interrupts(held);
  if (g_temp_live) unlink(g_temp_name);
  g_temp_live = 0;
  release_interrupts(held);
  errno = error;
}

// The process's file-creation mask. Setting it is the only way to read it; the
// process has one thread and makes no file between the two calls (a signal
// handler only removes or rewrites one), so no file is ever made without it.
mode_t current_umask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// Gives the new file the permission bits (and, where allowed, the owner) of the
// regular file it replaces. A new result gets what any program's new file gets:
// read and write for all, less the umask (the file was made for the owner only).
// Best effort: a file system without permissions (FAT) refuses, and that is no error.
void set_permissions(int fd, const char* path) {
  struct stat old {};
  if (stat(path, &old) != 0 || !S_ISREG(old.st_mode)) {
    fchmod(fd, 0666 & ~current_umask());
    return;
  }
  if (old.st_uid != geteuid() || old.st_gid != getegid()) {
    [[maybe_unused]] const int ignored = fchown(fd, old.st_uid, old.st_gid);  // best effort, as editors do
  }
  fchmod(fd, old.st_mode & 0777);
}

// Reads the whole file from its start into `g_old`, `hint` bytes expected; false
// (errno set) on a read error. Running out of memory ends the run here, before
// anything is written.
bool read_old_bytes(int fd, std::size_t hint) {
  g_old.clear();
  for (;;) {
    const std::size_t at = g_old.size();
    const std::size_t want = hint > at ? size_add_or_exit(hint - at, 1) : READ_CHUNK;
    alloc_or_exit(g_old, size_add_or_exit(at, want));
    g_old.resize(at + want);
    const ssize_t got = pread(fd, g_old.data() + at, want, static_cast<off_t>(at));
    g_old.resize(got > 0 ? at + static_cast<std::size_t>(got) : at);
    if (got == 0) return true;
    if (got < 0 && errno != EINTR) return false;
  }
}

// Closes the in-place descriptors; first, when the run's writes must still be
// undone, puts the old bytes back. Keeps errno.
void end_in_place() {
  const int error = errno;
  sigset_t held;
  hold_interrupts(held);
  if (g_in_place_live) restore_in_place();
  g_in_place_live = 0;
  release_interrupts(held);
  // Ends the lock. Its error cannot concern the result: nothing was written since
  // the close of the writing descriptor, which reported the result's own.
  close(g_keep_fd);
  g_keep_fd = -1;
  g_old_bytes = nullptr;
  g_old_size = 0;
  script_text().swap(g_old);
  errno = error;
}

// The fallback for a folder that takes no new file: writes over `path` itself when
// it is a regular file with no other link (a link is never written through) that
// can be read and written. The file is locked first (a second run waits here, so
// that runs write it one at a time), then its old bytes are read, to be put back
// if the run fails or is interrupted; nothing is written yet. On failure errno is
// the reason: `error`, the folder's refusal, unless the lock or the read failed.
bool open_in_place(result_file& file, const char* path, int error) {
  struct stat before {}, now {};
  int fd = -1;
  if ((error == EACCES || error == EPERM) && lstat(path, &before) == 0 && S_ISREG(before.st_mode) &&
      before.st_nlink == 1) {
    fd = open(path, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  }
  if (fd < 0) {
    errno = error;
    return false;
  }
  int locked;
  while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  if (locked == 0) {
    errno = error;
    if (fstat(fd, &now) == 0 && now.st_dev == before.st_dev && now.st_ino == before.st_ino &&
        now.st_nlink == 1) {
      g_keep_fd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    }
  }
  const auto size = static_cast<unsigned long long>(now.st_size);
  if (g_keep_fd >= 0 && size > static_cast<std::size_t>(-1)) out_of_memory();
  if (g_keep_fd < 0 || !read_old_bytes(fd, static_cast<std::size_t>(size))) {
    const int reason = errno;
    close(fd);
    if (g_keep_fd >= 0) end_in_place();
    errno = reason;
    return false;
  }
  sigset_t held;
  hold_interrupts(held);
  g_old_bytes = g_old.data();
  g_old_size = g_old.size();
  g_in_place_cut = 0;
  g_in_place_live = 1;
  release_interrupts(held);
  file.handle = fd;
  file.in_place = true;
  file.path = path;
  return true;
}

// Cuts the file at the end of the new result, where the old one was longer, and
// closes it; when either fails, the old bytes are put back.
bool commit_in_place(result_file& file) {
  const int fd = static_cast<int>(file.handle);
  file.handle = -1;
  const off_t end = lseek(fd, 0, SEEK_CUR);
  bool cut = end >= 0;
  if (cut && static_cast<unsigned long long>(end) < g_old_size) {
    g_in_place_cut = 1;  // the old bytes past `end` are gone from here on
    cut = ftruncate(fd, end) == 0;
  }
  if (!cut) {
    const int error = errno;
    close(fd);
    errno = error;
    end_in_place();
    return false;
  }
  sigset_t held;
  hold_interrupts(held);
  const bool closed = close(fd) == 0;
  if (closed) g_in_place_live = 0;  // whole: an interrupt from now on leaves it
  release_interrupts(held);
  end_in_place();
  return closed;
}

}  // namespace

bool print_line(const char* text) { return std::puts(text) != EOF && std::fflush(stdout) == 0; }

std::FILE* open_script(const char* path) { return std::fopen(path, "rb"); }

bool path_present(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0;
}

bool result_open(result_file& file, const char* path) {
  const std::size_t n = std::strlen(path);
  if (n > MAX_PATH_BYTES) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(g_temp_name, path, n);
  std::memcpy(g_temp_name + n, TEMP_SUFFIX, sizeof TEMP_SUFFIX);
  catch_interrupts();
  sigset_t held;
  hold_interrupts(held);
  const int fd = mkstemp(g_temp_name);
  const int error = errno;
  if (fd >= 0) g_temp_live = 1;
  release_interrupts(held);
  if (fd < 0) return open_in_place(file, path, error);
  file.handle = fd;
  file.in_place = false;
  file.path = path;
  set_permissions(fd, path);
  return true;
}

bool result_write(result_file& file, const char* data, std::size_t n) {
  return write_all(static_cast<int>(file.handle), data, n);
}

bool result_commit(result_file& file) {
  if (file.in_place) return commit_in_place(file);
  const int closed = close(static_cast<int>(file.handle));
  file.handle = -1;
  if (closed != 0) {
    remove_temp();
    return false;
  }
  sigset_t held;
  hold_interrupts(held);
  const int renamed = rename(g_temp_name, file.path);
  const int error = errno;
  if (renamed == 0) g_temp_live = 0;
  release_interrupts(held);
  if (renamed == 0) return true;
  remove_temp();
  errno = error;
  return false;
}

void result_abandon(result_file& file) {
  const int error = errno;
  if (file.handle >= 0) close(static_cast<int>(file.handle));
  file.handle = -1;
  if (file.in_place) {
    end_in_place();
  } else {
    remove_temp();
  }
  errno = error;
}

void report_error(const char* path) { std::perror(path); }
