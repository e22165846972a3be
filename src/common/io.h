// File input and output in text mode, done by our own code so that every platform
// reads and writes the same bytes: reading turns CR LF into LF and stops at the
// first Ctrl-Z; writing turns every LF into CR LF.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

#include "text/text.h"

constexpr char CTRL_Z = 26;

struct text_decoder {
  bool pending_cr = false;  // the last byte seen was a CR whose follower is not known yet
  bool ended = false;       // a Ctrl-Z was met: nothing after it belongs to the text
};

// Turns the bytes of `text` from `from` on, just read there in binary, into what
// text mode delivers, in place. A CR at the very end stays in the text, pending:
// an LF at the start of the next read takes its place.
void decode_text_mode(text_decoder& decoder, script_text& text, std::size_t from);

// Appends `n` bytes, as read in binary, to `text` as text mode delivers them.
void decode_text_mode(text_decoder& decoder, const char* in, std::size_t n, script_text& text);

// Ends the input: a CR still pending is delivered as it is.
void finish_text_mode(text_decoder& decoder, script_text& text);

// Writes `n` bytes to `out` with each LF as CR LF; `out` holds 2 * n bytes. Yields
// the number of bytes written.
std::size_t encode_text_mode(const char* in, std::size_t n, char* out);

// Reads the whole file at `path` into `text` in text mode. False when it cannot be
// opened or read; errno then tells why. Running out of memory, the C runtime's own
// allocations included (ENOMEM), ends the run as out of memory.
bool read_script(const char* path, script_text& text);

// The open file's length, only as a hint for a first allocation; 0 when unknown.
std::size_t length_hint(std::FILE* file);

// Replaces the file at `path` whole, or not at all, by `first` then `second` in
// text mode: they go to a new temporary file beside it, which is renamed over it
// once written and closed (or, in a folder that takes no new file, over the file
// itself, its old bytes kept to be put back). False when any step fails; errno
// then tells why, and the file at `path` is as it was.
bool write_result(const char* path, std::string_view first, std::string_view second);
