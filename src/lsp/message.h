// The protocol's framing: messages of "Content-Length: N" headers, a blank line
// and N bytes of JSON, cut out of the bytes read so far.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The most a header block may hold before it is given up as garbage, and the
// largest body taken.
constexpr std::size_t MAX_HEADER = 64 * 1024;
constexpr std::size_t MAX_BODY = std::size_t{1} << 30;

struct message_reader {
  std::string buffer;  // bytes read and not yet taken
  std::size_t at = 0;  // where the next message starts in `buffer`
  std::size_t skipped = 0;  // header blocks dropped for want of a usable Content-Length
};

// Adds bytes read from the stream.
void message_feed(message_reader& reader, std::string_view bytes);

// Takes the next whole message's body out of the bytes fed; false when none is
// complete yet. A header block without a usable Content-Length is dropped, and the
// search goes on after it.
bool message_next(message_reader& reader, std::string& body);

// A body with its header, as written to the client.
std::string message_frame(std::string_view body);
