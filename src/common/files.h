// The platform's side of a run's files: opening the script, replacing the result
// file whole or not at all, and naming a path in an error message. File names are
// bytes on POSIX systems and UTF-8 on Windows, where every call goes through the
// wide (UTF-16) interfaces, so that any name works whatever the code page. One
// file a platform holds the code: files-posix.cc and files-win32.cc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Opens the script at `path` for reading in binary; nullptr (errno set) on failure.
std::FILE* open_script(const char* path);

// Where a result is being written: a new temporary file beside it, renamed over it
// once complete, or (in a folder that takes no new file) the result file itself.
struct result_file {
  std::intptr_t handle = -1;  // a file descriptor, or a Windows file handle
  bool in_place = false;
  const char* path = nullptr;
};

// True when something named `path` is there (a file, a folder, a link, even a
// dangling one): for the note that a mavo.qst left by an earlier run is in the folder.
bool path_present(const char* path);

// Opens a way to replace the file at `path` (whose folder must be the current one
// or be named in it): a temporary file "<path>.XXXXXX" created exclusively, with
// the permission bits of the file it will replace (those of any new file, 0666
// less the umask, when there is none). Interrupting signals (Ctrl-C, console close
// on Windows) undo the run's writes from now on, and a file-size limit becomes an
// ordinary write error. When the folder takes no new file but `path` is a regular
// file with no other link that can be read and written, that file is written in
// place instead: it is locked for the whole write (another run waits here), and
// its old bytes are read into memory first, so that a failed write or close, or
// an interrupt, puts them back. False (errno set) on failure; nothing is left
// behind then and nothing is written.
bool result_open(result_file& file, const char* path);

// Writes all `n` bytes; false (errno set) on an error.
bool result_write(result_file& file, const char* data, std::size_t n);

// Closes the temporary file and renames it over the result in one step (in place:
// cuts the file at the result's end and closes it). False (errno set) when any of
// it fails; the temporary file is gone then, or the old bytes are back in place,
// and the result is as it was.
bool result_commit(result_file& file);

// Closes and removes the temporary file after a failure (in place: puts the old
// bytes back), keeping errno.
void result_abandon(result_file& file);

// Prints "<path>: <system error text>" for errno on standard error, as perror
// does; on a Windows console the path appears as typed, whatever its letters.
void report_error(const char* path);

// Writes `text` and a newline on standard output; false when it cannot be written.
bool print_line(const char* text);

#ifdef _WIN32
// Windows gives a program's arguments as UTF-16, whatever the code page: they are
// taken as such into `args` in UTF-8, which the file layer turns back for each
// call, with `argv` pointing at them as main's argv would (a null last).
void utf8_arguments(int argc, wchar_t** wargv, std::vector<std::string>& args, std::vector<char*>& argv);
#endif
