#include "driver/files.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
// The errno that the C runtime gives a Windows error.
int errno_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
      return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_CURRENT_DIRECTORY:
    case ERROR_NETWORK_ACCESS_DENIED:
      return EACCES;
    default:
      return EINVAL;
  }
}

#endif

constexpr char TEMP_SUFFIX[] = ".XXXXXX";  // the temporary file is "<result>.XXXXXX"

#ifdef _WIN32
// A write of up to 1 GiB; a full disk that takes nothing more is ENOSPC.
long write_some(std::intptr_t handle, const char* data, std::size_t n) {
  DWORD written = 0;
  const DWORD step = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n);
  const BOOL done = WriteFile(reinterpret_cast<HANDLE>(handle), data, step, &written, nullptr);
  if (done && written > 0) return static_cast<long>(written);
  errno = done ? ENOSPC : errno_of(GetLastError());
  return -1;
}
#else
long write_some(std::intptr_t fd, const char* data, std::size_t n) {
  return static_cast<long>(write(static_cast<int>(fd), data, n));
}
#endif

// Writes all `n` bytes, going on after short writes; false on an error.
bool write_all(std::intptr_t handle, const char* data, std::size_t n) {
  while (n > 0) {
    const long written = write_some(handle, data, n);
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

}  // namespace

bool print_line(const char* text) { return std::puts(text) != EOF && std::fflush(stdout) == 0; }

bool result_write(result_file& file, const char* data, std::size_t n) { return write_all(file.handle, data, n); }

#ifndef _WIN32

namespace {

constexpr std::size_t MAX_PATH_BYTES = 4096;

// The temporary file's name, and whether it exists, for the signal handler.
char g_temp_name[MAX_PATH_BYTES + sizeof TEMP_SUFFIX];
volatile std::sig_atomic_t g_temp_live = 0;

constexpr int INTERRUPTS[] = {SIGINT, SIGTERM, SIGHUP};

// Removes the temporary file, then lets the signal end the process as it would
// have: the handler was reset on entry, and the signal raised here is delivered
// with its default action once the handler returns.
extern "C" void remove_temp_then_resignal(int sig) {
  if (g_temp_live) unlink(g_temp_name);
  g_temp_live = 0;
  raise(sig);
}

// Interrupts remove the temporary file (those ignored when the run began stay
// ignored); a file-size limit fails the write with EFBIG instead of killing.
void catch_interrupts() {
  for (const int sig : INTERRUPTS) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = remove_temp_then_resignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(sig, &action, nullptr);
  }
  std::signal(SIGXFSZ, SIG_IGN);
}

// Holds the interrupts back while the temporary file and `g_temp_live` disagree,
// so that a handler never removes a name that another run may own.
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

// Gives the new file the permission bits (and, where allowed, the owner) of the
// regular file it replaces; a new result keeps the owner-only mode it was made with.
void copy_permissions(int fd, const char* path) {
  struct stat old {};
  if (stat(path, &old) != 0 || !S_ISREG(old.st_mode)) return;
  if (old.st_uid != geteuid() || old.st_gid != getegid()) {
    [[maybe_unused]] const int ignored = fchown(fd, old.st_uid, old.st_gid);  // best effort, as editors do
  }
  fchmod(fd, old.st_mode & 0777);
}

// The fallback for a folder that takes no new file: writes over `path` itself when
// it is a regular file with no other link (a link is never written through). On
// failure errno is `error`, the reason the folder refused.
bool open_in_place(result_file& file, const char* path, int error) {
  struct stat before {}, now {};
  int fd = -1;
  if ((error == EACCES || error == EPERM) && lstat(path, &before) == 0 && S_ISREG(before.st_mode) &&
      before.st_nlink == 1) {
    fd = open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  }
  if (fd >= 0 && fstat(fd, &now) == 0 && now.st_dev == before.st_dev && now.st_ino == before.st_ino &&
      now.st_nlink == 1 && ftruncate(fd, 0) == 0) {
    file.handle = fd;
    file.in_place = true;
    file.path = path;
    return true;
  }
  if (fd >= 0) close(fd);
  errno = error;
  return false;
}

}  // namespace

std::FILE* open_script(const char* path) { return std::fopen(path, "rb"); }

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
  copy_permissions(fd, path);
  return true;
}

bool result_commit(result_file& file) {
  const int closed = close(static_cast<int>(file.handle));
  file.handle = -1;
  if (file.in_place) return closed == 0;
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
  if (!file.in_place) remove_temp();
  errno = error;
}

void report_error(const char* path) { std::perror(path); }

#else  // Windows: wide interfaces throughout

namespace {

constexpr int MAX_WIDE = 32768;  // the longest path Windows takes, in UTF-16 units
constexpr std::size_t TEMP_SUFFIX_LENGTH = sizeof TEMP_SUFFIX - 1;

// The temporary file's name and its state, shared with the console handler:
// TEMP_NONE, TEMP_LIVE (exists, may be removed), TEMP_RENAMING (being renamed).
wchar_t g_temp_name[MAX_WIDE];
wchar_t g_result_name[MAX_WIDE];
volatile LONG g_temp_state = 0;
constexpr LONG TEMP_NONE = 0, TEMP_LIVE = 1, TEMP_RENAMING = 2;

// UTF-8 `text` as UTF-16 in `out` (`room` units); false (errno set) when it does
// not fit or is not UTF-8.
bool widen(const char* text, wchar_t* out, int room) {
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out, room) > 0) return true;
  errno = GetLastError() == ERROR_INSUFFICIENT_BUFFER ? ENAMETOOLONG : EINVAL;
  return false;
}

// Ctrl-C, Ctrl-Break and a closed console remove the temporary file, then leave
// the ending to the default handler, which ends the process as it always does.
BOOL WINAPI remove_temp_on_interrupt(DWORD) {
  LONG state;
  while ((state = InterlockedCompareExchange(&g_temp_state, TEMP_NONE, TEMP_LIVE)) == TEMP_RENAMING) Sleep(1);
  if (state == TEMP_LIVE) DeleteFileW(g_temp_name);
  return FALSE;
}

// Removes the temporary file if the console handler has not, keeping errno.
void remove_temp() {
  const int error = errno;
  if (InterlockedCompareExchange(&g_temp_state, TEMP_NONE, TEMP_LIVE) == TEMP_LIVE) DeleteFileW(g_temp_name);
  errno = error;
}

// Letters and digits for the suffix's "XXXXXX" that differ from run to run and
// from try to try.
void fill_unique(wchar_t* at, unsigned attempt) {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  unsigned long long x = static_cast<unsigned long long>(counter.QuadPart) * 0x9E3779B97F4A7C15ull;
  x ^= (static_cast<unsigned long long>(GetCurrentProcessId()) << 32) + attempt * 0xBF58476D1CE4E5B9ull;
  x ^= x >> 29;
  constexpr wchar_t DIGITS[] = L"0123456789abcdefghijklmnopqrstuvwxyz";
  for (std::size_t i = 0; i < TEMP_SUFFIX_LENGTH - 1; ++i, x /= 36) at[i] = DIGITS[x % 36];
}

// The fallback for a folder that takes no new file: writes over the result itself
// when it is a regular file with no other link. On failure errno is `error`.
bool open_in_place(result_file& file, const char* path, int error) {
  const DWORD attributes = GetFileAttributesW(g_result_name);
  HANDLE h = INVALID_HANDLE_VALUE;
  if (error == EACCES && attributes != INVALID_FILE_ATTRIBUTES &&
      !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    h = CreateFileW(g_result_name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info) && info.nNumberOfLinks == 1 &&
      SetEndOfFile(h)) {
    file.handle = reinterpret_cast<std::intptr_t>(h);
    file.in_place = true;
    file.path = path;
    return true;
  }
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  errno = error;
  return false;
}

// Renames the temporary file over the result. Another run replacing the same
// file at the same moment makes the rename fail for a while with "access denied":
// it is tried again then, unless the result is a folder or read-only for good.
BOOL replace_result() {
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExW(g_temp_name, g_result_name, MOVEFILE_REPLACE_EXISTING)) return TRUE;
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(g_result_name);
    const bool lasting = attributes != INVALID_FILE_ATTRIBUTES &&
                         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0;
    if (attempt == 100 || lasting || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)) {
      SetLastError(error);
      return FALSE;
    }
    Sleep(10);
  }
}

}  // namespace

std::FILE* open_script(const char* path) {
  static wchar_t wide[MAX_WIDE];
  if (!widen(path, wide, MAX_WIDE)) return nullptr;
  return _wfopen(wide, L"rb");
}

bool result_open(result_file& file, const char* path) {
  if (!widen(path, g_result_name, MAX_WIDE)) return false;
  const std::size_t n = wcslen(g_result_name);
  if (n + TEMP_SUFFIX_LENGTH >= MAX_WIDE) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(g_temp_name, g_result_name, n * sizeof(wchar_t));
  g_temp_name[n] = L'.';
  g_temp_name[n + TEMP_SUFFIX_LENGTH] = L'\0';
  SetConsoleCtrlHandler(remove_temp_on_interrupt, TRUE);
  HANDLE h = INVALID_HANDLE_VALUE;
  DWORD error = ERROR_FILE_EXISTS;
  for (unsigned attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
    fill_unique(g_temp_name + n + 1, attempt);
    // Shared for deletion, so that the console handler can remove it while open.
    h = CreateFileW(g_temp_name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    error = h == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  }
  if (h == INVALID_HANDLE_VALUE) return open_in_place(file, path, errno_of(error));
  g_temp_state = TEMP_LIVE;
  file.handle = reinterpret_cast<std::intptr_t>(h);
  file.in_place = false;
  file.path = path;
  return true;
}

bool result_commit(result_file& file) {
  const BOOL closed = CloseHandle(reinterpret_cast<HANDLE>(file.handle));
  file.handle = -1;
  if (!closed) errno = errno_of(GetLastError());
  if (file.in_place) return closed;
  if (!closed) {
    remove_temp();
    return false;
  }
  if (InterlockedCompareExchange(&g_temp_state, TEMP_RENAMING, TEMP_LIVE) != TEMP_LIVE) {
    errno = EINTR;  // the console handler took the file away: the process is ending
    return false;
  }
  const BOOL moved = replace_result();
  const int error = moved ? 0 : errno_of(GetLastError());
  if (!moved) DeleteFileW(g_temp_name);
  InterlockedExchange(&g_temp_state, TEMP_NONE);
  if (moved) return true;
  errno = error;
  return false;
}

void result_abandon(result_file& file) {
  const int error = errno;
  if (file.handle != -1) CloseHandle(reinterpret_cast<HANDLE>(file.handle));
  file.handle = -1;
  if (!file.in_place) remove_temp();
  errno = error;
}

void report_error(const char* path) {
  const char* text = std::strerror(errno);
  DWORD mode;
  const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
  if (console == INVALID_HANDLE_VALUE || console == nullptr || !GetConsoleMode(console, &mode)) {
    // Redirected to a file or a pipe: the path in UTF-8, the line ended by the
    // text-mode stream with CR LF.
    if (*path != '\0') std::fprintf(stderr, "%s: %s\n", path, text);
    else std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
    return;
  }
  // On a console: the path as the user typed it, in whatever letters.
  static wchar_t line[MAX_WIDE + 256];
  int at = 0;
  if (*path != '\0' && widen(path, line, MAX_WIDE)) {
    at = static_cast<int>(wcslen(line));
    line[at++] = L':';
    line[at++] = L' ';
  }
  for (const char* c = text; *c != '\0' && at < MAX_WIDE + 250; ++c) line[at++] = static_cast<unsigned char>(*c);
  line[at++] = L'\r';
  line[at++] = L'\n';
  DWORD written;
  WriteConsoleW(console, line, static_cast<DWORD>(at), &written, nullptr);
}

#endif
