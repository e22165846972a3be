#include "lsp/message.h"

#include <charconv>

namespace {

bool same_letters(std::string_view a, std::string_view lower) {
  if (a.size() != lower.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char c = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
    if (c != lower[i]) return false;
  }
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// The Content-Length of a header block (its lines end at LF, a CR before it
// dropped), or MAX_BODY + 1 when it has none that can be read.
std::size_t content_length(std::string_view headers) {
  std::size_t length = MAX_BODY + 1;
  while (!headers.empty()) {
    std::size_t nl = headers.find('\n');
    if (nl == std::string_view::npos) nl = headers.size();
    const std::string_view line = headers.substr(0, nl);
    headers.remove_prefix(nl == headers.size() ? nl : nl + 1);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !same_letters(trim(line.substr(0, colon)), "content-length")) continue;
    const std::string_view value = trim(line.substr(colon + 1));
    std::size_t n = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (error == std::errc() && end == value.data() + value.size() && !value.empty() && n <= MAX_BODY) length = n;
  }
  return length;
}

// Drops what has been taken once it is most of the buffer, so that a long session
// keeps its buffer no larger than its longest message.
void compact(message_reader& reader) {
  if (reader.at == 0) return;
  if (reader.at == reader.buffer.size()) {
    reader.buffer.clear();
    reader.at = 0;
  } else if (reader.at >= reader.buffer.size() / 2) {
    reader.buffer.erase(0, reader.at);
    reader.at = 0;
  }
}

}  // namespace

void message_feed(message_reader& reader, std::string_view bytes) {
  compact(reader);
  reader.buffer.append(bytes);
}

bool message_next(message_reader& reader, std::string& body) {
  for (;;) {
    const std::string_view rest = std::string_view(reader.buffer).substr(reader.at);
    // The header block ends at the first empty line: CR LF CR LF as the protocol
    // writes it, or LF LF from a client that forgets the CR.
    std::size_t end = std::string_view::npos, after = 0;
    for (std::size_t nl = rest.find('\n'); nl != std::string_view::npos; nl = rest.find('\n', nl + 1)) {
      std::size_t next = nl + 1;
      if (next < rest.size() && rest[next] == '\r') ++next;
      if (next < rest.size() && rest[next] == '\n') {
        end = nl;
        after = next + 1;
        break;
      }
      if (next >= rest.size()) break;
    }
    if (end == std::string_view::npos) {
      if (rest.size() > MAX_HEADER) {  // no header block ends: not the protocol
        reader.at = reader.buffer.size();
        ++reader.skipped;
        compact(reader);
      }
      return false;
    }
    const std::size_t length = content_length(rest.substr(0, end));
    if (length > MAX_BODY) {
      reader.at += after;
      ++reader.skipped;
      continue;
    }
    if (rest.size() - after < length) return false;
    body.assign(rest.substr(after, length));
    reader.at += after + length;
    compact(reader);
    return true;
  }
}

std::string message_frame(std::string_view body) {
  std::string out = "Content-Length: ";
  out += std::to_string(body.size());
  out += "\r\n\r\n";
  out += body;
  return out;
}
