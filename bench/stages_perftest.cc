// In-process timings of the single stages on generated rooms, to see where a run
// spends its time. The label table is timed by replaying, on a fresh table, the
// adds and lookups that a run makes for the entries it ends up with, and by
// releasing a full table; compared with BM_transform_script they give the
// table's share of a run (a lower bound: lookups of names that a climb found
// taken, and the name cache, are not replayed).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cleanup/cleanup.h"
#include "common/io.h"
#include "common/pipeline.h"
#include "expand/expand.h"
#include "labels/labels.h"
#include "script_gen.h"

namespace {

// The generated script of a size as the reading stage delivers it (LF only), made
// once per size.
const script_text& rooms_text(std::int64_t rooms) {
  static std::map<std::int64_t, script_text> made;
  auto found = made.find(rooms);
  if (found == made.end()) found = made.emplace(rooms, generate_rooms(static_cast<std::uint64_t>(rooms), 1)).first;
  return found->second;
}

// The text as label collection sees it: sentinel, clean-up, banner.
script_text cleaned_text(std::int64_t rooms) {
  script_text text = rooms_text(rooms);
  text += END_SENTINEL;
  clean_source(text);
  text += BANNER;
  return text;
}

void set_bytes(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
}

void BM_decode_text_mode(benchmark::State& state) {
  const script_text& input = rooms_text(state.range(0));
  for (auto _ : state) {
    script_text text;
    text_decoder decoder;
    decode_text_mode(decoder, input.data(), input.size(), text);
    finish_text_mode(decoder, text);
    benchmark::DoNotOptimize(text.data());
  }
  set_bytes(state, input.size());
}

// Times the clean-up of `input` with its end sentinel, a fresh copy each round.
void time_clean_source(benchmark::State& state, const std::string& input) {
  for (auto _ : state) {
    state.PauseTiming();
    script_text text = input;
    text += END_SENTINEL;
    state.ResumeTiming();
    benchmark::DoNotOptimize(clean_source(text));
  }
  set_bytes(state, input.size());
}

void BM_clean_source(benchmark::State& state) { time_clean_source(state, rooms_text(state.range(0))); }

// A 10 MB script of text lines, continuation lines, line comments and block
// comments (the continuations pattern at 900,000 statements: 675,000 comments and
// continuation lines).
void BM_clean_source_comments(benchmark::State& state) {
  std::string input;
  generate_pattern("continuations", 900000, input);
  time_clean_source(state, input);
  state.counters["MB"] = static_cast<double>(input.size()) / 1e6;
}

void BM_collect_labels(benchmark::State& state) {
  const script_text text = cleaned_text(state.range(0));
  std::size_t labels = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto* table = new label_table;
    state.ResumeTiming();
    collect_labels(text, *table);
    state.PauseTiming();
    labels = table->entry_count;
    delete table;
    state.ResumeTiming();
  }
  state.counters["labels"] = static_cast<double>(labels);
  set_bytes(state, rooms_text(state.range(0)).size());
}

void BM_expand_action_buttons(benchmark::State& state) {
  const script_text cleaned = cleaned_text(state.range(0));
  std::uint64_t count = 0;
  for (auto _ : state) {
    state.PauseTiming();
    script_text text = cleaned;
    auto* table = new label_table;
    collect_labels(text, *table);
    state.ResumeTiming();
    count = expand_action_buttons(text, *table);
    state.PauseTiming();
    delete table;
    state.ResumeTiming();
  }
  state.counters["statements"] = static_cast<double>(count);
  set_bytes(state, rooms_text(state.range(0)).size());
}

// The entries a whole run leaves in its table, in order of adding.
struct table_trace {
  std::vector<std::string> names;
  std::vector<std::string> bodies;
  std::vector<bool> generated;
};

const table_trace& trace_of(std::int64_t rooms) {
  static std::map<std::int64_t, table_trace> made;
  auto found = made.find(rooms);
  if (found != made.end()) return found->second;
  script_text text = cleaned_text(rooms);
  label_table table;
  collect_labels(text, table);
  expand_action_buttons(text, table);
  table_trace trace;
  for (std::size_t i = 0; i < table.entry_count; ++i) {
    const label_entry& entry = label_entry_at(table, i);
    trace.names.emplace_back(label_name(entry));
    trace.bodies.emplace_back(label_body(entry));
    trace.generated.push_back(entry.kind == LABEL_GENERATED);
  }
  return made.emplace(rooms, std::move(trace)).first->second;
}

// A generated name with a "[N]" suffix was found by a climb from its base name.
std::string_view base_of(std::string_view name) {
  if (name.empty() || name.back() != ']') return name;
  std::size_t open = name.size() - 1;
  while (open > 0 && name[open - 1] >= '0' && name[open - 1] <= '9') --open;
  if (open == 0 || open == name.size() - 1 || name[open - 1] != '[') return name;
  return name.substr(0, open - 1);
}

// The table work of a run, replayed on a fresh table: every add, and before each
// generated one the lookups that found its name free (the base name first when
// the name has a suffix).
void BM_label_table_ops(benchmark::State& state) {
  const table_trace& trace = trace_of(state.range(0));
  std::size_t lookups = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto* table = new label_table;
    lookups = 0;
    state.ResumeTiming();
    for (std::size_t i = 0; i < trace.names.size(); ++i) {
      if (trace.generated[i]) {
        const std::string_view base = base_of(trace.names[i]);
        if (base.size() != trace.names[i].size()) {
          benchmark::DoNotOptimize(label_find(*table, base));
          ++lookups;
        }
        benchmark::DoNotOptimize(label_find(*table, trace.names[i]));
        ++lookups;
        label_add(*table, trace.names[i], LABEL_GENERATED, trace.bodies[i]);
      } else {
        label_add(*table, trace.names[i], LABEL_SOURCE, {});
      }
    }
    state.PauseTiming();
    delete table;
    state.ResumeTiming();
  }
  state.counters["entries"] = static_cast<double>(trace.names.size());
  state.counters["lookups"] = static_cast<double>(lookups);
}

// Releasing a full table, as a run does at its end.
void BM_label_table_release(benchmark::State& state) {
  const table_trace& trace = trace_of(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto* table = new label_table;
    for (std::size_t i = 0; i < trace.names.size(); ++i)
      label_add(*table, trace.names[i], trace.generated[i] ? LABEL_GENERATED : LABEL_SOURCE, trace.bodies[i]);
    state.ResumeTiming();
    label_table_release(*table);
    state.PauseTiming();
    delete table;
    state.ResumeTiming();
  }
}

// Lookups of every name of a full table, each of which is found.
void BM_label_find(benchmark::State& state) {
  const table_trace& trace = trace_of(state.range(0));
  label_table table;
  for (std::size_t i = 0; i < trace.names.size(); ++i)
    label_add(table, trace.names[i], trace.generated[i] ? LABEL_GENERATED : LABEL_SOURCE, trace.bodies[i]);
  for (auto _ : state) {
    for (const std::string& name : trace.names) benchmark::DoNotOptimize(label_find(table, name));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * trace.names.size()));
}

void BM_encode_text_mode(benchmark::State& state) {
  script_text text = rooms_text(state.range(0));
  transform_script(text);
  std::vector<char> out(2 * text.size());
  for (auto _ : state) benchmark::DoNotOptimize(encode_text_mode(text.data(), text.size(), out.data()));
  set_bytes(state, text.size());
}

void BM_transform_script(benchmark::State& state) {
  const script_text& input = rooms_text(state.range(0));
  std::uint64_t count = 0;
  for (auto _ : state) {
    state.PauseTiming();
    script_text text = input;
    state.ResumeTiming();
    count = transform_script(text);
  }
  state.counters["statements"] = static_cast<double>(count);
  set_bytes(state, input.size());
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_decode_text_mode)->Apply(sizes);
BENCHMARK(BM_clean_source)->Apply(sizes);
BENCHMARK(BM_clean_source_comments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_collect_labels)->Apply(sizes);
BENCHMARK(BM_expand_action_buttons)->Apply(sizes);
BENCHMARK(BM_label_table_ops)->Apply(sizes);
BENCHMARK(BM_label_table_release)->Apply(sizes)->Iterations(50);  // each round fills a table untimed
BENCHMARK(BM_label_find)->Apply(sizes);
BENCHMARK(BM_encode_text_mode)->Apply(sizes);
BENCHMARK(BM_transform_script)->Apply(sizes);

}  // namespace

// The program's own memory setup first, so that the stages run as they do in it.
int main(int argc, char** argv) {
  install_memory_rule();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
