// Standard input and output as the protocol's byte streams.
#pragma once

#include <string>
#include <string_view>

// Both streams in binary: no CR LF translation on Windows.
void stream_binary_mode();

// Reads what standard input has, at least one byte, into `chunk`; false at its end
// or on an error.
bool read_input(std::string& chunk);

// Writes a framed message to standard output and flushes it.
void write_message(std::string_view bytes);
