#include "common/io.h"

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <sys/stat.h>

#include "common/files.h"

namespace {

constexpr std::size_t READ_CHUNK = 64 * 1024;
constexpr std::size_t WRITE_CHUNK = 256 * 1024;

}  // namespace

std::size_t length_hint(std::FILE* file) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || info.st_size <= 0) return 0;
  const auto size = static_cast<unsigned long long>(info.st_size);
  return size > static_cast<std::size_t>(-1) ? static_cast<std::size_t>(-1) : static_cast<std::size_t>(size);
}

void decode_text_mode(text_decoder& decoder, script_text& text, std::size_t from) {
  if (decoder.ended) {
    text.resize(from);
    return;
  }
  char* const t = text.data();
  std::size_t n = text.size();
  std::size_t r = from;
  std::size_t w = from;
  if (decoder.pending_cr && r < n) {
    decoder.pending_cr = false;
    if (t[r] == '\n') --w;  // the pending CR gives way to this LF
  }
  if (const void* z = std::memchr(t + r, CTRL_Z, n - r)) {
    n = static_cast<std::size_t>(static_cast<const char*>(z) - t);
    decoder.ended = true;
  }
  while (r < n) {
    // Move the run up to the next CR (or the end) back to the write position.
    const void* found = std::memchr(t + r, '\r', n - r);
    const std::size_t cr = found == nullptr ? n : static_cast<std::size_t>(static_cast<const char*>(found) - t);
    if (w != r) std::memmove(t + w, t + r, cr - r);
    w += cr - r;
    if (cr == n) break;
    r = cr + 1;
    if (r < n && t[r] == '\n') continue;  // the CR of a CR LF pair goes
    t[w++] = '\r';
    if (r == n && !decoder.ended) decoder.pending_cr = true;
  }
  text.resize(w);
}

void decode_text_mode(text_decoder& decoder, const char* in, std::size_t n, script_text& text) {
  const std::size_t from = text.size();
  alloc_or_exit(text, size_add_or_exit(from, n));
  text.append(in, n);
  decode_text_mode(decoder, text, from);
}

void finish_text_mode(text_decoder& decoder, script_text&) {
  decoder.pending_cr = false;  // the CR is in the text already
  decoder.ended = true;
}

std::size_t encode_text_mode(const char* in, std::size_t n, char* out) {
  char* w = out;
  const char* const end = in + n;
#ifdef __SSE2__
  // 16 bytes a step. The bytes between two LFs of a block are copied by loads at
  // offsets taken from the block's LF mask, so that no load waits for the one
  // before; each store writes 16 bytes, of which those past the part are written
  // again by the next (`out` has room to spare for that).
  while (end - in >= 32) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    auto lf = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))));
    std::size_t from = 0;
    for (; lf != 0; lf &= lf - 1) {
      const auto at = static_cast<std::size_t>(std::countr_zero(lf));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(w), _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + from)));
      w += at - from;
      *w++ = '\r';
      *w++ = '\n';
      from = at + 1;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w), _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + from)));
    w += 16 - from;
    in += 16;
  }
#endif
  for (; in < end; ++in) {
    if (*in == '\n') *w++ = '\r';
    *w++ = *in;
  }
  return static_cast<std::size_t>(w - out);
}

bool read_script(const char* path, script_text& text) {
  std::FILE* file = open_script(path);
  if (file == nullptr) {
    if (errno == ENOMEM) out_of_memory();  // the C runtime's own allocation failed
    return false;
  }
  // Room for the text, the end sentinel and the banner, and for the blocks that the
  // expansion appends to it, so that the text is never moved to a larger buffer
  // (only the pages written are ever touched). The read goes on past the hint, so
  // a pipe or a growing file is read to its end.
  const std::size_t hint = length_hint(file);
  alloc_or_exit(text, size_add_or_exit(size_add_or_exit(hint, hint / 4 * 5), 64));
  // Unbuffered: each read goes straight into the text, the first one for the
  // whole length the file is expected to have.
  std::setvbuf(file, nullptr, _IONBF, 0);
  text_decoder decoder;
  while (!decoder.ended) {
    const std::size_t at = text.size();
    const std::size_t want = hint > at ? size_add_or_exit(hint - at, 1) : READ_CHUNK;
    alloc_or_exit(text, size_add_or_exit(at, want));
    text.resize(at + want);
    const std::size_t got = std::fread(text.data() + at, 1, want, file);
    text.resize(at + got);
    if (got == 0) break;
    decode_text_mode(decoder, text, at);
  }
  if (!decoder.ended && std::ferror(file)) {
    const int error = errno;
    if (error == ENOMEM) out_of_memory();
    std::fclose(file);
    errno = error;
    return false;
  }
  finish_text_mode(decoder, text);
  std::fclose(file);
  return true;
}

bool write_result(const char* path, std::string_view first, std::string_view second) {
  result_file file;
  if (!result_open(file, path)) return false;
  static char out[2 * WRITE_CHUNK];
  for (const std::string_view part : {first, second}) {
    for (std::size_t at = 0; at < part.size(); at += WRITE_CHUNK) {
      const std::size_t n = part.size() - at < WRITE_CHUNK ? part.size() - at : WRITE_CHUNK;
      if (!result_write(file, out, encode_text_mode(part.data() + at, n, out))) {
        result_abandon(file);
        return false;
      }
    }
  }
  return result_commit(file);
}
