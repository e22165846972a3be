// libFuzzer target of the whole pipeline, in memory: the bytes of a script file are
// decoded in text mode, transformed, and encoded as the writer would write them. The
// fast stages are compared with the plain reference transformation, and the text-mode
// layers are checked for the properties the program relies on. Any broken property
// aborts, naming itself on stderr.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "check/check.h"
#include "check/report.h"
#include "cleanup/cleanup.h"
#include "common/io.h"
#include "common/pipeline.h"
#include "reference.h"

namespace {

[[noreturn]] void broken(const char* what, int line) {
  std::fprintf(stderr, "fuzz_pipeline.cc:%d: property broken: %s\n", line, what);
  std::abort();
}

#define MAVO_CHECK(cond)                     \
  do {                                       \
    if (!(cond)) broken(#cond, __LINE__);    \
  } while (0)

// Text mode decoding written out plainly: everything before the first Ctrl-Z, with
// each CR LF pair as LF and every other byte, lone CR included, as it is.
std::string plain_decode(std::string_view in) {
  const std::size_t stop = in.find(CTRL_Z);
  if (stop != std::string_view::npos) in = in.substr(0, stop);
  std::string out;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\r' && i + 1 < in.size() && in[i + 1] == '\n') continue;
    out += in[i];
  }
  return out;
}

// The product decoder fed in pieces of `chunk` bytes, as a read loop feeds it.
script_text decode_in_chunks(std::string_view in, std::size_t chunk) {
  script_text text;
  text_decoder decoder;
  for (std::size_t at = 0; at < in.size(); at += chunk) {
    const std::size_t n = in.size() - at < chunk ? in.size() - at : chunk;
    decode_text_mode(decoder, in.data() + at, n, text);
  }
  finish_text_mode(decoder, text);
  return text;
}

std::string encode(std::string_view part) {
  std::string out(2 * part.size(), '\0');
  out.resize(encode_text_mode(part.data(), part.size(), out.data()));
  return out;
}

struct pipeline_run {
  script_text decoded;  // the script as read
  script_text text;     // what the result file holds before its final end sentinel
  std::uint64_t count = 0;
  bool writes = false;  // whether the driver writes a result file at all
  std::string bytes;    // the result file's bytes, text then end sentinel, as encoded
};

// The driver's steps on a script file's bytes, with the file replaced by memory.
pipeline_run run_pipeline(std::string_view in) {
  pipeline_run run;
  text_decoder decoder;
  decode_text_mode(decoder, in.data(), in.size(), run.decoded);
  finish_text_mode(decoder, run.decoded);
  run.text = run.decoded;
  run.count = transform_script(run.text);
  run.writes = run.count != 0;  // the driver's rule: nothing expanded, nothing written
  // Encoded even when the driver would not write, so the writer's properties are
  // checked on every input.
  run.bytes = encode(run.text) + encode(END_SENTINEL);
  return run;
}

bool same_output(const pipeline_run& a, const pipeline_run& b) {
  return a.count == b.count && a.writes == b.writes && a.text == b.text && a.bytes == b.bytes;
}

bool ends_with(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// Every LF replaced by CR LF.
std::string with_crlf(std::string_view in) {
  std::string out;
  out.reserve(2 * in.size());
  for (const char c : in) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// mavo-check on the same bytes, in the dialect the input picks: its reading of every
// keyword is the expansion's (the statements written in the result, in order, and
// the counts), the findings come in the script's order, each has a place inside
// it, and both output forms hold together (the json form always parses, one object
// a finding).
void check_checker(std::string_view in, const pipeline_run& run, std::uint8_t pick) {
  std::vector<button_view> views;
  script_reading r;
  r.views = &views;
  check_script(r, script_text(in), static_cast<check_mode>(pick % 4));
  std::uint64_t expanded = 0;
  std::size_t at = 0;
  for (const button_view& v : views) {
    const bool actions = v.kind == CUT_LINE || v.kind == CUT_BRACE;
    if (!actions && v.kind != CUT_PLAIN) continue;
    expanded += actions;
    // A statement without actions keeps its text after the keyword, blanks before the
    // label included: its label, then its "," and caption.
    if (actions) {
      const std::string statement = "btn " + v.block + "," + v.caption;
      at = run.text.find(statement, at);
      MAVO_CHECK(at != script_text::npos);
      at += statement.size();
    } else {
      // Only its keyword is rewritten, so a keyword inside its label or caption (a
      // label that runs over lines, a caption that holds another button) is read
      // next: the search goes on from the label. A keyword within either is
      // rewritten in turn: each is compared up to the first one.
      const std::size_t inner = v.label.find("mavo ");
      const std::string head = v.label.substr(0, inner);
      at = run.text.find(head, at);
      MAVO_CHECK(at != script_text::npos);
      if (inner == std::string::npos) {
        const std::string caption = v.caption.substr(0, v.caption.find("mavo "));
        MAVO_CHECK(run.text.find("," + caption, at + head.size()) != script_text::npos);
      }
      at += 1;
    }
  }
  MAVO_CHECK(expanded == run.count);
  // The findings in the order of the script, one of a kind at a place.
  for (std::size_t i = 1; i < r.findings.size(); ++i) {
    const finding& a = r.findings[i - 1];
    const finding& b = r.findings[i];
    MAVO_CHECK(a.at < b.at || (a.at == b.at && a.id < b.id));
  }
  // Every fix edits bytes of the script as read, in order.
  for (const finding& f : r.findings) {
    if (f.fix_begin == NO_POSITION) continue;
    MAVO_CHECK(f.fix_begin <= f.fix_end && f.fix_end <= r.source.size());
  }
  std::vector<report_item> items;
  report_findings(r, "t.qst", pick & 4 ? LANGUAGE_RU : LANGUAGE_EN, items);
  MAVO_CHECK(items.size() == r.findings.size());
  for (const report_item& item : items) {
    MAVO_CHECK(item.line >= 1 && item.column >= 1 && item.end_column > item.column);
    for (const report_fix& x : item.fixes)
      MAVO_CHECK(x.line >= 1 && x.column >= 1 && (x.line < x.end_line || (x.line == x.end_line && x.column <= x.end_column)));
    for (const report_note& n : item.notes) MAVO_CHECK(n.line >= 1 && n.column >= 1 && !n.message.empty());
    const std::string gcc = format_gcc(item);
    MAVO_CHECK(gcc.compare(0, 6, "t.qst:") == 0 && gcc.back() == '\n');
  }
  const nlohmann::json all = nlohmann::json::parse(format_json(items), nullptr, false);
  MAVO_CHECK(all.is_array() && all.size() == items.size());
}

}  // namespace

// The rules let a few dozen keywords multiply the output: every block copies its
// label, keywords included, into its "goto" line, where they are searched again, so
// one kilobyte can ask for gigabytes (fuzz/regressions/explosive-output.qst). Such a
// run ends as out of memory, which the command-line suite tests; here inputs with
// more keywords than this are passed over. They are counted in the text as read and
// cleaned, since a tab, a continuation line or a comment can join a keyword that the
// raw bytes do not show ("mavo\t", "ma\n_vo ", "ma/**/vo ").
constexpr std::size_t MAX_KEYWORDS = 24;

// The largest result, in bytes before encoding, that is checked beyond its sentinel.
constexpr std::size_t MAX_COMPARED_RESULT = std::size_t{1} << 20;

static std::size_t count_keywords(std::string_view in) {
  std::size_t n = 0;
  for (std::size_t at = in.find("mavo "); at != std::string_view::npos; at = in.find("mavo ", at + 1)) ++n;
  return n;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  if (count_keywords(reference_clean(plain_decode(in) + "\nend\n")) > MAX_KEYWORDS) return 0;
  const pipeline_run first = run_pipeline(in);

  // Decoding: the plain reading, and the same bytes fed in pieces (a CR at the end of
  // a piece must wait for the next one). The piece size comes from the input.
  MAVO_CHECK(first.decoded == plain_decode(in));
  const std::size_t chunk = size == 0 ? 1 : 1 + data[size - 1] % 16;
  MAVO_CHECK(decode_in_chunks(in, chunk) == first.decoded);
  MAVO_CHECK(first.decoded.find(CTRL_Z) == script_text::npos);

  // Clean-up alone against the reference, so a difference there is named as such.
  {
    script_text cleaned = first.decoded + std::string(END_SENTINEL);
    const std::size_t length = clean_source(cleaned);
    MAVO_CHECK(length == cleaned.size());
    MAVO_CHECK(cleaned == reference_clean(first.decoded + "\nend\n"));
  }

  // Written exactly when something was expanded: then at least one block follows the
  // banner (the first generated name is always new), otherwise the banner is last.
  if (first.writes) {
    MAVO_CHECK(ends_with(first.text, "\nend\n\n"));
  } else {
    MAVO_CHECK(ends_with(first.text, BANNER));
  }

  // The end sentinel is last in any case. Even under the keyword limit a result can
  // reach tens of megabytes, and every check below costs at least a pass over it (the
  // reference rebuilds the whole text for every statement, and the variants repeat
  // the pipeline), so such inputs would take most of the fuzzing time: they stop here.
  MAVO_CHECK(ends_with(first.bytes, "\r\nend\r\n"));
  if (first.text.size() > MAX_COMPARED_RESULT) return 0;
  check_checker(in, first, size == 0 ? 0 : data[0]);

  // The encoded output: every LF comes with its CR, and reading it back in text mode
  // gives the text and the sentinel again.
  for (std::size_t i = 0; i < first.bytes.size(); ++i)
    if (first.bytes[i] == '\n') MAVO_CHECK(i > 0 && first.bytes[i - 1] == '\r');
  MAVO_CHECK(first.text.find(CTRL_Z) == script_text::npos);
  MAVO_CHECK(plain_decode(first.bytes) == first.text + std::string(END_SENTINEL));

  // The fast stages against the reference on the same decoded text, the count
  // included: the driver writes a result exactly when it is not zero.
  const reference_result ref = reference_transform(first.decoded);
  MAVO_CHECK(first.count == ref.count);
  MAVO_CHECK(first.text == ref.text);
  MAVO_CHECK(first.writes == (ref.count != 0));

  // Inputs that must give the same output as these bytes, each run once: the same
  // bytes again; the bytes before the first Ctrl-Z, since nothing after it counts;
  // and, when every CR before the Ctrl-Z was part of a CR LF pair, the text as read
  // (an input without CR) and its CR LF version. For raw bytes without CR, their CR
  // LF version too, the bytes after a Ctrl-Z included.
  struct variant {
    const char* what;
    std::string bytes;
  };
  variant variants[5];
  std::size_t n_variants = 0;
  const auto add_variant = [&](const char* what, std::string bytes) {
    for (std::size_t i = 0; i < n_variants; ++i)
      if (variants[i].bytes == bytes) return;
    variants[n_variants++] = {what, std::move(bytes)};
  };
  add_variant("the same bytes a second time give the same output", std::string(in));
  const std::size_t stop = in.find(CTRL_Z);
  if (stop != std::string_view::npos)
    add_variant("the bytes before the first Ctrl-Z give the same output", std::string(in.substr(0, stop)));
  if (first.decoded.find('\r') == script_text::npos) {
    add_variant("the text as read, given as input, gives the same output", first.decoded);
    add_variant("the text as read with CR LF line ends gives the same output", with_crlf(first.decoded));
  }
  if (in.find('\r') == std::string_view::npos)
    add_variant("the bytes with every LF as CR LF give the same output", with_crlf(in));
  for (std::size_t i = 0; i < n_variants; ++i)
    if (!same_output(run_pipeline(variants[i].bytes), first)) broken(variants[i].what, __LINE__);
  return 0;
}
