// libFuzzer target of the language server's message reader: any bytes, fed whole
// and in pieces whose sizes the input's first byte chooses, give the same bodies,
// each no longer than the input, and every body that is not JSON is found so
// without an exception.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "lsp/message.h"

namespace {

std::vector<std::string> read_all(std::string_view bytes, std::size_t piece, std::size_t& skipped) {
  message_reader reader;
  std::vector<std::string> bodies;
  std::string body;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    message_feed(reader, bytes.substr(at, piece));
    while (message_next(reader, body)) bodies.push_back(body);
  }
  skipped = reader.skipped;
  return bodies;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + data[0] % 17;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::size_t skipped_whole = 0, skipped_pieces = 0;
  const std::vector<std::string> whole = read_all(bytes, bytes.size() + 1, skipped_whole);
  const std::vector<std::string> pieces = read_all(bytes, piece, skipped_pieces);
  // A header block that gives up as garbage past MAX_HEADER may cut differently in
  // pieces only when the input is that long.
  if (bytes.size() <= MAX_HEADER && (whole != pieces || skipped_whole != skipped_pieces)) std::abort();
  for (const std::string& body : whole) {
    if (body.size() > bytes.size()) std::abort();
    const nlohmann::json message = nlohmann::json::parse(body, nullptr, false);
    (void)message.is_discarded();
  }
  return 0;
}
