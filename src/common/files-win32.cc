// The file layer on Windows: names arrive in UTF-8 and every call goes through the
// wide (UTF-16) interfaces, so that any name works whatever the code page.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/files.h"
#include "text/text.h"

namespace {

constexpr char TEMP_SUFFIX[] = ".XXXXXX";  // the temporary file is "<result>.XXXXXX"
constexpr std::size_t TEMP_SUFFIX_LENGTH = sizeof TEMP_SUFFIX - 1;
constexpr int MAX_WIDE = 32768;  // the longest path Windows takes, in UTF-16 units
constexpr DWORD READ_CHUNK = 64 * 1024;

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

// Writes all `n` bytes, up to 1 GiB a call; false (errno set) on an error. A full
// disk that takes nothing more is ENOSPC.
bool write_all(HANDLE h, const char* data, std::size_t n) {
  while (n > 0) {
    DWORD written = 0;
    const DWORD step = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n);
    const BOOL done = WriteFile(h, data, step, &written, nullptr);
    if (!done || written == 0) {
      errno = done ? ENOSPC : errno_of(GetLastError());
      return false;
    }
    data += written;
    n -= written;
  }
  return true;
}

// The temporary file's name and its state, shared with the console handler:
// TEMP_NONE, TEMP_LIVE (exists, may be removed), TEMP_RENAMING (being renamed).
wchar_t g_temp_name[MAX_WIDE];
wchar_t g_result_name[MAX_WIDE];
volatile LONG g_temp_state = 0;
constexpr LONG TEMP_NONE = 0, TEMP_LIVE = 1, TEMP_RENAMING = 2;

// A result written in place: a second handle of the same file object, which holds
// the lock and outlives the writing one so that the old bytes can be put back even
// after a failed close; the old bytes; whether they must be put back when the run
// fails or is interrupted; and whether the file has been cut short of them. The
// console handler runs in a thread of its own: `g_in_place_guard` is held around
// every write and every change of these, and the handler, once it has taken it,
// keeps it until the process ends.
HANDLE g_keep = INVALID_HANDLE_VALUE;
script_text g_old;
bool g_in_place_live = false;
bool g_in_place_cut = false;
SRWLOCK g_in_place_guard = SRWLOCK_INIT;

// UTF-8 `text` as UTF-16 in `out` (`room` units); false (errno set) when it does
// not fit or is not UTF-8.
bool widen(const char* text, wchar_t* out, int room) {
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out, room) > 0) return true;
  errno = GetLastError() == ERROR_INSUFFICIENT_BUFFER ? ENAMETOOLONG : EINVAL;
  return false;
}

// Puts the old bytes back over what the run wrote in place and cuts the file to
// their length. The writes have gone from the start of the file to the shared
// file pointer, so only that part is written again, unless the file was cut
// already. Called with `g_in_place_guard` held.
void restore_in_place() {
  LARGE_INTEGER zero{}, written{}, size{};
  std::size_t n = g_old.size();
  if (!g_in_place_cut && SetFilePointerEx(g_keep, zero, &written, FILE_CURRENT) &&
      static_cast<unsigned long long>(written.QuadPart) < n)
    n = static_cast<std::size_t>(written.QuadPart);
  size.QuadPart = static_cast<LONGLONG>(g_old.size());
  if (SetFilePointerEx(g_keep, zero, nullptr, FILE_BEGIN) && write_all(g_keep, g_old.data(), n) &&
      SetFilePointerEx(g_keep, size, nullptr, FILE_BEGIN))
    SetEndOfFile(g_keep);
}

// Ctrl-C, Ctrl-Break and a closed console undo the run's writes (remove the
// temporary file, or put the old bytes back in place), then leave the ending to
// the default handler, which ends the process as it always does.
BOOL WINAPI undo_on_interrupt(DWORD) {
  LONG state;
  while ((state = InterlockedCompareExchange(&g_temp_state, TEMP_NONE, TEMP_LIVE)) == TEMP_RENAMING) Sleep(1);
  if (state == TEMP_LIVE) DeleteFileW(g_temp_name);
  AcquireSRWLockExclusive(&g_in_place_guard);  // never released: the process is ending
  if (g_in_place_live) restore_in_place();
  g_in_place_live = false;
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

// Reads the whole file from its start into `g_old`, `hint` bytes expected; false
// (errno set) on a read error. Running out of memory ends the run here, before
// anything is written.
bool read_old_bytes(HANDLE h, std::size_t hint) {
  g_old.clear();
  for (;;) {
    const std::size_t at = g_old.size();
    std::size_t want = hint > at ? size_add_or_exit(hint - at, 1) : READ_CHUNK;
    if (want > (1u << 30)) want = 1u << 30;
    alloc_or_exit(g_old, size_add_or_exit(at, want));
    g_old.resize(at + want);
    DWORD got = 0;
    const BOOL done = ReadFile(h, g_old.data() + at, static_cast<DWORD>(want), &got, nullptr);
    g_old.resize(at + got);
    if (!done) {
      errno = errno_of(GetLastError());
      return false;
    }
    if (got == 0) return true;
  }
}

// Closes the second handle, which ends the lock; first, when the run's writes
// must still be undone, puts the old bytes back. Keeps errno.
void end_in_place() {
  const int error = errno;
  AcquireSRWLockExclusive(&g_in_place_guard);
  if (g_in_place_live) restore_in_place();
  g_in_place_live = false;
  ReleaseSRWLockExclusive(&g_in_place_guard);
  CloseHandle(g_keep);
  g_keep = INVALID_HANDLE_VALUE;
  script_text().swap(g_old);
  errno = error;
}

// The fallback for a folder that takes no new file: writes over the result itself
// when it is a regular file with no other link. The whole file is locked first (a
// second run waits here, so that runs write it one at a time), then its old bytes
// are read, to be put back if the run fails or is interrupted; nothing is written
// yet. On failure errno is the reason: `error`, the folder's refusal, unless the
// lock or the read failed.
bool open_in_place(result_file& file, const char* path, int error) {
  const DWORD attributes = GetFileAttributesW(g_result_name);
  HANDLE h = INVALID_HANDLE_VALUE;
  if (error == EACCES && attributes != INVALID_FILE_ATTRIBUTES &&
      !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    // Shared for writing, so that a second run opens it too and waits for the lock.
    h = CreateFileW(g_result_name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  }
  if (h == INVALID_HANDLE_VALUE) {
    errno = error;
    return false;
  }
  OVERLAPPED whole{};
  BY_HANDLE_FILE_INFORMATION info;
  const HANDLE process = GetCurrentProcess();
  bool ready = false;
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    errno = errno_of(GetLastError());
  } else if (!GetFileInformationByHandle(h, &info) || info.nNumberOfLinks != 1) {
    errno = error;
  } else if (!DuplicateHandle(process, h, process, &g_keep, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    errno = errno_of(GetLastError());
  } else {
    const unsigned long long size = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > static_cast<std::size_t>(-1)) out_of_memory();
    LARGE_INTEGER start{};
    ready = read_old_bytes(h, static_cast<std::size_t>(size));
    if (ready && !SetFilePointerEx(h, start, nullptr, FILE_BEGIN)) {
      errno = errno_of(GetLastError());
      ready = false;
    }
  }
  if (!ready) {
    const int reason = errno;
    CloseHandle(h);
    if (g_keep != INVALID_HANDLE_VALUE) end_in_place();
    errno = reason;
    return false;
  }
  AcquireSRWLockExclusive(&g_in_place_guard);
  g_in_place_cut = false;
  g_in_place_live = true;
  ReleaseSRWLockExclusive(&g_in_place_guard);
  file.handle = reinterpret_cast<std::intptr_t>(h);
  file.in_place = true;
  file.path = path;
  return true;
}

// Cuts the file at the end of the new result, where the old one was longer, and
// closes it; when either fails, the old bytes are put back.
bool commit_in_place(result_file& file) {
  const HANDLE h = reinterpret_cast<HANDLE>(file.handle);
  file.handle = -1;
  AcquireSRWLockExclusive(&g_in_place_guard);
  LARGE_INTEGER zero{}, end{};
  bool done = SetFilePointerEx(h, zero, &end, FILE_CURRENT);
  if (done && static_cast<unsigned long long>(end.QuadPart) < g_old.size()) {
    g_in_place_cut = true;  // the old bytes past `end` are gone from here on
    done = SetEndOfFile(h);
  }
  DWORD error = done ? ERROR_SUCCESS : GetLastError();
  if (!CloseHandle(h) && done) {
    error = GetLastError();
    done = false;
  }
  if (done) g_in_place_live = false;  // whole: an interrupt from now on leaves it
  ReleaseSRWLockExclusive(&g_in_place_guard);
  if (!done) errno = errno_of(error);
  end_in_place();
  return done;
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

bool print_line(const char* text) { return std::puts(text) != EOF && std::fflush(stdout) == 0; }

std::FILE* open_script(const char* path) {
  static wchar_t wide[MAX_WIDE];
  if (!widen(path, wide, MAX_WIDE)) return nullptr;
  return _wfopen(wide, L"rb");
}

bool path_present(const char* path) {
  static wchar_t wide[MAX_WIDE];
  return widen(path, wide, MAX_WIDE) && GetFileAttributesW(wide) != INVALID_FILE_ATTRIBUTES;
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
  SetConsoleCtrlHandler(undo_on_interrupt, TRUE);
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

bool result_write(result_file& file, const char* data, std::size_t n) {
  const HANDLE h = reinterpret_cast<HANDLE>(file.handle);
  if (!file.in_place) return write_all(h, data, n);
  AcquireSRWLockExclusive(&g_in_place_guard);
  const bool written = write_all(h, data, n);
  ReleaseSRWLockExclusive(&g_in_place_guard);
  return written;
}

bool result_commit(result_file& file) {
  if (file.in_place) return commit_in_place(file);
  const BOOL closed = CloseHandle(reinterpret_cast<HANDLE>(file.handle));
  file.handle = -1;
  if (!closed) {
    errno = errno_of(GetLastError());
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
  if (file.in_place) {
    end_in_place();
  } else {
    remove_temp();
  }
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

void utf8_arguments(int argc, wchar_t** wargv, std::vector<std::string>& args, std::vector<char*>& argv) {
  args.assign(static_cast<std::size_t>(argc), std::string());
  argv.clear();
  for (int i = 0; i < argc; ++i) {
    std::string& arg = args[static_cast<std::size_t>(i)];
    const int n = WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, nullptr, 0, nullptr, nullptr);
    if (n > 0) {
      arg.resize(static_cast<std::size_t>(n));
      WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, arg.data(), n, nullptr, nullptr);
      arg.resize(static_cast<std::size_t>(n - 1));
    }
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
}
