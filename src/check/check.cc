#include "check/check.h"

#include <algorithm>
#include <cstring>

#include "check/charset.h"
#include "common/io.h"
#include "common/pipeline.h"

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == CTRL_Z; }

// What a Ctrl-Z hides: the lines and the action buttons after it.
void check_ctrl_z(script_reading& r, std::string_view after, std::size_t at) {
  if (std::all_of(after.begin(), after.end(), is_space)) return;  // nothing is lost
  std::uint64_t lines = 0;
  std::uint64_t buttons = 0;
  bool line_has_text = false;
  bool statement_start = true;  // only blanks since a line end or "&"
  for (std::size_t i = 0; i < after.size(); ++i) {
    const char c = after[i];
    if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < after.size() && after[i + 1] == '\n') ++i;
      lines += line_has_text;
      line_has_text = false;
      statement_start = true;
      continue;
    }
    if (c == ' ' || c == '\t') continue;
    line_has_text = true;
    if (statement_start && after.compare(i, KEYWORD.size(), KEYWORD) == 0) ++buttons;
    statement_start = c == '&';
  }
  lines += line_has_text;
  finding& f = add_finding(r, CTRL_Z_CUT, at);
  f.count[0] = lines;
  f.count[1] = buttons;
}

// How many runs in order are merged rather than sorted.
constexpr std::size_t MERGED_RUNS = 16;

// Puts the findings in the order of the script: by place, then by check, then in
// the order they were found. Small keys are sorted and the findings moved once,
// along the cycles of the order, rather than moved about by the sort.
void sort_findings(finding_list& all) {
  struct key {
    std::size_t at;
    std::uint32_t order;
    check_id id;
  };
  std::vector<key> keys(all.size());
  for (std::size_t i = 0; i < all.size(); ++i) keys[i] = {all[i].at, static_cast<std::uint32_t>(i), all[i].id};
  const auto before = [](const key& a, const key& b) {
    return a.at != b.at ? a.at < b.at : a.id != b.id ? a.id < b.id : a.order < b.order;
  };
  // Each phase of the check finds in the order of the script, so the keys come in
  // a few runs already in order: these are merged, or, when there are many, sorted.
  std::vector<std::size_t> runs;
  for (std::size_t i = 1; i < keys.size() && runs.size() <= MERGED_RUNS; ++i)
    if (before(keys[i], keys[i - 1])) runs.push_back(i);
  if (runs.size() > MERGED_RUNS) {
    std::sort(keys.begin(), keys.end(), before);
  } else {
    runs.push_back(keys.size());
    for (std::size_t k = 0; k + 1 < runs.size(); ++k)
      std::inplace_merge(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(runs[k]),
                         keys.begin() + static_cast<std::ptrdiff_t>(runs[k + 1]), before);
  }
  std::vector<bool> placed(all.size());
  for (std::size_t start = 0; start < all.size(); ++start) {
    if (placed[start]) continue;
    finding held = std::move(all[start]);
    std::size_t to = start;
    for (std::size_t from = keys[to].order; from != start; from = keys[to].order) {
      all[to] = std::move(all[from]);
      placed[to] = true;
      to = from;
    }
    all[to] = std::move(held);
    placed[to] = true;
  }
}

bool silenced(const script_reading& r, const finding& f) {
  for (const silence& s : r.silences)
    if (f.at >= s.begin && f.at <= s.end && (s.checks >> f.id & 1) != 0) return true;
  return false;
}

// Turns the bytes of a file into the script as mavo reads it: CR LF as LF, nothing
// from a Ctrl-Z on. Whether there was a Ctrl-Z, and what followed it.
bool read_as_mavo(script_text& bytes, std::string& after_z) {
  const void* z = std::memchr(bytes.data(), CTRL_Z, bytes.size());
  if (z != nullptr) {
    const auto at = static_cast<std::size_t>(static_cast<const char*>(z) - bytes.data());
    after_z.assign(bytes, at + 1, std::string::npos);
    bytes.resize(at);
  }
  text_decoder decoder;
  decode_text_mode(decoder, bytes, 0);
  finish_text_mode(decoder, bytes);
  return z != nullptr;
}

}  // namespace

void read_game_locations(script_text&& bytes, std::uint32_t file, std::vector<game_location>& out) {
  std::string after_z;
  read_as_mavo(bytes, after_z);
  const bool utf8 = is_utf8(bytes);
  const std::string source = bytes;
  bytes += END_SENTINEL;
  cleanup_record record;
  clean_source(bytes, &record);
  const std::size_t from = out.size();
  add_game_locations(std::string_view(bytes).substr(0, bytes.size() - END_SENTINEL.size()), utf8,
                     byte_order_mark(source, utf8), file, out);
  // Each one's line in the file, counted as its editor counts them.
  std::size_t hint = 0, counted_to = 0;
  std::uint64_t line = 1;
  for (std::size_t i = from; i < out.size(); ++i) {
    const std::size_t at = std::min(source_position(record, static_cast<std::size_t>(out[i].line), hint), source.size());
    for (; counted_to < at; ++counted_to) {
      const char c = source[counted_to];
      if (c == '\n' || (c == '\r' && (counted_to + 1 >= source.size() || source[counted_to + 1] != '\n'))) ++line;
    }
    out[i].line = line;
  }
}

void check_script(script_reading& r, script_text&& bytes, check_mode mode) {
  r.mode = mode;
  std::string after_z;
  const bool ctrl_z = read_as_mavo(bytes, after_z);
  r.source = std::move(bytes);
  r.utf8 = is_utf8(r.source);
  r.bom = byte_order_mark(r.source, r.utf8);
  if (ctrl_z) {
    check_ctrl_z(r, after_z, r.source.size());
    r.ctrl_z_rest.assign(after_z, 0, after_z.find_first_of("\r\n"));
  }
  std::string().swap(after_z);

  // The stages, as a run of mavo has them, the clean-up noting what it deletes.
  // Room for the blocks too, as mavo makes it when it reads a script, so that the
  // text does not move while it grows.
  const std::size_t size = r.source.size();
  alloc_or_exit(r.text, size_add_or_exit(size_add_or_exit(size, size / 4 * 5), 64));
  r.text = r.source;
  r.text += END_SENTINEL;
  clean_source(r.text, &r.cleanup);
  r.script_end = r.text.size() - END_SENTINEL.size();
  r.text += BANNER;
  r.searched_end = r.text.size();
  read_locations(r);
  check_cleanup(r);
  check_statements(r);

  label_table table;
  collect_labels(r.text, table);
  expansion run;
  expansion_begin(run, r.text, table);
  button_cut cut;
  while (expansion_step(run, cut)) check_button(r, cut);
  r.expanded = expansion_end(run, r.text);
  script_text().swap(r.text);
  check_blocks(r, table);
  check_game_duplicates(r);
  label_table_release(table);

  // The order of the script; one finding of a kind at a place.
  finding_list& all = r.findings;
  sort_findings(all);
  all.erase(std::unique(all.begin(), all.end(),
                        [](const finding& a, const finding& b) { return a.at == b.at && a.id == b.id; }),
            all.end());
  if (!r.silences.empty() || r.disabled != 0)
    all.erase(std::remove_if(all.begin(), all.end(),
                             [&](const finding& f) { return (r.disabled >> f.id & 1) != 0 || silenced(r, f); }),
              all.end());
  // With no action button expanded mavo writes nothing: what it would read
  // otherwise never reaches the player.
  if (!r.show_all && r.expanded == 0) {
    const std::size_t before = all.size();
    all.erase(std::remove_if(all.begin(), all.end(), [](const finding& f) { return about_mavo_reading(f.id); }),
              all.end());
    r.left_out = before - all.size();
  }
}
