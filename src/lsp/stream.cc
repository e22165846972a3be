#include "lsp/stream.h"

#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

void stream_binary_mode() {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
}

bool read_input(std::string& chunk) {
  chunk.resize(64 * 1024);
  for (;;) {
#ifdef _WIN32
    const int got = _read(0, chunk.data(), static_cast<unsigned>(chunk.size()));
#else
    const auto got = read(0, chunk.data(), chunk.size());
#endif
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    chunk.resize(static_cast<std::size_t>(got));
    return true;
  }
}

void write_message(std::string_view bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}
