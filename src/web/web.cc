// mavo inside a web page: the program's run on a script handed over as bytes by the
// JavaScript around it (mavo-urqw.js), with the result file kept in memory.
#include <cstddef>
#include <string>

#include "common/io.h"
#include "common/pipeline.h"

namespace {

// The bytes of the last result file, kept until the next run or release.
std::string result;

}  // namespace

extern "C" {

// Runs the stages on the `n` bytes at `in` exactly as the program runs them on a
// file of those bytes: read in text mode, transformed, written in text mode with
// the final sentinel. Yields the length of the result file, whose bytes are then at
// mavo_result(); 0 when the program writes no result file (nothing to expand).
std::size_t mavo_expand(const char* in, std::size_t n) {
  // The program's memory rule: an allocation that fails ends the run, which here
  // throws out of the module to expand's caller, the script left as it was.
  static const bool rule_installed = (install_memory_rule(), true);
  (void)rule_installed;
  result = std::string();
  script_text text;
  // Room for the text, the sentinel, the banner and the blocks, as the program's
  // own read makes it, so that the text is seldom moved.
  alloc_or_exit(text, size_add_or_exit(size_add_or_exit(n, n / 4 * 5), 64));
  text_decoder decoder;
  decode_text_mode(decoder, in, n, text);
  finish_text_mode(decoder, text);
  if (transform_script(text) == 0) return 0;
  const std::size_t length = size_add_or_exit(text.size(), END_SENTINEL.size());
  // Each LF may become CR LF; 16 bytes spare for a block-wise encoder's last store.
  result.resize(size_add_or_exit(size_add_or_exit(length, length), 16));
  std::size_t written = encode_text_mode(text.data(), text.size(), result.data());
  script_text().swap(text);
  written += encode_text_mode(END_SENTINEL.data(), END_SENTINEL.size(), result.data() + written);
  result.resize(written);
  return written;
}

const char* mavo_result() { return result.data(); }

// Gives the memory of the last result back.
void mavo_release() { std::string().swap(result); }

}  // extern "C"
