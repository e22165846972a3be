// floor: the least a run of mavo can cost. Reads the file named by its argument,
// turns every LF into CR LF and writes the result to "floor.out" in the current
// folder, in binary with large buffers. The measurements compare mavo with it.
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t CHUNK = 1 << 20;

// Copies `n` bytes to `out` with each LF as CR LF; `out` holds 2 * n bytes.
std::size_t to_crlf(const char* in, std::size_t n, char* out) {
  char* w = out;
  const char* const end = in + n;
  while (in < end) {
    const char* nl = static_cast<const char*>(std::memchr(in, '\n', static_cast<std::size_t>(end - in)));
    const char* stop = nl == nullptr ? end : nl;
    std::memcpy(w, in, static_cast<std::size_t>(stop - in));
    w += stop - in;
    if (nl == nullptr) break;
    *w++ = '\r';
    *w++ = '\n';
    in = nl + 1;
  }
  return static_cast<std::size_t>(w - out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: floor <file>\n", stderr);
    return 2;
  }
  std::FILE* in = std::fopen(argv[1], "rb");
  if (in == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  std::FILE* out = std::fopen("floor.out", "wb");
  if (out == nullptr) {
    std::perror("floor.out");
    return 1;
  }
  std::vector<char> read_buffer(CHUNK), write_buffer(2 * CHUNK);
  std::setvbuf(in, nullptr, _IONBF, 0);
  std::setvbuf(out, nullptr, _IONBF, 0);
  for (;;) {
    const std::size_t got = std::fread(read_buffer.data(), 1, CHUNK, in);
    if (got == 0) break;
    const std::size_t n = to_crlf(read_buffer.data(), got, write_buffer.data());
    if (std::fwrite(write_buffer.data(), 1, n, out) != n) {
      std::perror("floor.out");
      return 1;
    }
  }
  if (std::ferror(in)) {
    std::perror(argv[1]);
    return 1;
  }
  std::fclose(in);
  if (std::fclose(out) != 0) {
    std::perror("floor.out");
    return 1;
  }
  return 0;
}
