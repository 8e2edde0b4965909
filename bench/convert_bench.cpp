// The conversion's inner loop without the file system: splitting text into
// lines and resolving references, on a chunk that stays in the cache. The
// program-level comparison with other tools is bench/run.sh; this one shows
// the loop's own cost, which the shared machine's I/O noise would hide.

#include <benchmark/benchmark.h>

#include <string>

#include "config/env.h"
#include "convert/line_splitter.h"
#include "convert/variable.h"

namespace {

// 80-byte lines ending in lineBreak; every fourth holds one ${v}.
std::string text(std::size_t size, std::string_view lineBreak) {
  std::string out;
  for (std::size_t i = 0; out.size() < size; ++i) {
    std::string line =
        "line " + std::to_string(i) + (i % 4 == 0 ? " holds ${v} here" : " is plain text");
    line.resize(80 - lineBreak.size(), '.');
    out += line;
    out += lineBreak;
  }
  out.resize(size);
  return out;
}

void splitChunk(benchmark::State& state, std::string_view lineBreak) {
  const std::string chunk = text(std::size_t{1} << 18, lineBreak);
  std::size_t lines = 0;
  for (auto _ : state) {
    vesk::LineSplitter splitter;
    auto count = [&](std::string_view line, const vesk::LineMarks& marks) {
      benchmark::DoNotOptimize(line.data());
      benchmark::DoNotOptimize(marks.firstDollar);
      ++lines;
    };
    splitter.feed(chunk, count);
    splitter.finish(count);
  }
  benchmark::DoNotOptimize(lines);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(chunk.size()));
}

void BM_SplitLf(benchmark::State& state) { splitChunk(state, "\n"); }
BENCHMARK(BM_SplitLf);

void BM_SplitCrLf(benchmark::State& state) { splitChunk(state, "\r\n"); }
BENCHMARK(BM_SplitCrLf);

// One line with its reference resolved, appended to a reused buffer.
void BM_SubstituteLine(benchmark::State& state) {
  vesk::VariableTable vars;
  vars.set("v", "VALUE");
  const std::string line =
      "line 12345 holds ${v} here...............................................";
  std::string out;
  for (auto _ : state) {
    out.clear();
    vesk::appendSubstituted(out, line, vars);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(line.size()));
}
BENCHMARK(BM_SubstituteLine);

}  // namespace
