#include "lsp/expansion.h"

#include <cstring>
#include <string_view>

#include "check/charset.h"
#include "cleanup/cleanup.h"
#include "common/io.h"
#include "common/pipeline.h"
#include "expand/expand.h"
#include "labels/labels.h"

namespace {

struct cut_seen {
  std::size_t source_at;  // in the script as read
  std::string btn;
  std::string block_name;  // empty for a plain button
};

}  // namespace

void button_outputs(std::string bytes, std::vector<button_output>& out) {
  out.clear();
  // The script as mavo reads it: nothing from a Ctrl-Z on, CR LF as LF.
  if (const void* z = std::memchr(bytes.data(), CTRL_Z, bytes.size()))
    bytes.resize(static_cast<std::size_t>(static_cast<const char*>(z) - bytes.data()));
  script_text text;
  text.assign(bytes);
  text_decoder decoder;
  decode_text_mode(decoder, text, 0);
  finish_text_mode(decoder, text);
  const std::string source(text);
  const bool utf8 = is_utf8(source);

  cleanup_record cleanup;
  text += END_SENTINEL;
  clean_source(text, &cleanup);
  const std::size_t script_end = text.size() - END_SENTINEL.size();
  text += BANNER;
  const std::size_t banner_at = text.size() - BANNER.size();
  const std::string cleaned(text);
  label_table table;
  collect_labels(text, table);
  expansion run;
  expansion_begin(run, text, table);
  button_cut cut;
  std::vector<cut_seen> seen;
  std::vector<std::string> new_blocks;
  while (expansion_step(run, cut)) {
    const bool expanded = cut.kind == CUT_LINE || cut.kind == CUT_BRACE;
    if (expanded && cut.is_new) new_blocks.emplace_back(label_name(*cut.block));
    if (cut.keyword >= script_end || (!expanded && cut.kind != CUT_PLAIN)) continue;
    cut_seen s;
    s.source_at = source_position(cleanup, cut.keyword);
    if (expanded) {
      s.block_name.assign(label_name(*cut.block));
      s.btn = "btn " + s.block_name + "," + std::string(cut.caption);
    } else {
      // Rewritten in place: "mavo" becomes " btn", the rest of its line kept.
      const std::string_view rest = std::string_view(cleaned).substr(cut.keyword + 4);
      s.btn = "btn" + std::string(rest.substr(0, rest.find('\n')));
    }
    seen.push_back(std::move(s));
  }
  expansion_end(run, text);
  label_table_release(table);

  // The new blocks stand after the banner in the order they were made, each up to
  // the next one's ":" line.
  const std::string_view all(text);
  std::vector<std::size_t> starts;
  std::size_t from = banner_at;
  for (const std::string& name : new_blocks) {
    const std::string head = "\n:" + name + "\n";
    const std::size_t at = all.find(head, from);
    starts.push_back(at == std::string_view::npos ? all.size() : at + 1);
    if (at != std::string_view::npos) from = at + 1;
  }
  for (const cut_seen& s : seen) {
    button_output o;
    // Its line and column in the script as read, as the checker counts them.
    std::uint64_t line = 1;
    std::size_t line_begin = 0;
    for (std::size_t i = 0; i < s.source_at && i < source.size(); ++i)
      if (source[i] == '\n' || source[i] == '\r') {
        ++line;
        line_begin = i + 1;
      }
    o.line = line;
    o.column = 1 + count_chars(std::string_view(source).substr(line_begin, s.source_at - line_begin), utf8);
    o.btn = as_utf8(s.btn, utf8);
    if (!s.block_name.empty())
      for (std::size_t i = 0; i < new_blocks.size(); ++i)
        if (new_blocks[i] == s.block_name && starts[i] < all.size()) {
          const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : all.size();
          o.block = as_utf8(all.substr(starts[i], end - starts[i]), utf8);
          break;
        }
    out.push_back(std::move(o));
  }
}
