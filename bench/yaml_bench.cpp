// Reader, writer and release costs of the YAML module. The flat cases show
// that reading is linear (200,000 entries cost about ten times 20,000); the
// deep cases show that depth costs only the indentation it is written with.

#include <benchmark/benchmark.h>

#include <map>
#include <string>

#include "bench/yaml_documents.h"
#include "yaml/kesoyaml.h"

namespace {

const std::string& cached(std::map<std::size_t, std::string>& cache, std::size_t size,
                          std::string (*make)(std::size_t)) {
  auto found = cache.find(size);
  if (found == cache.end()) found = cache.emplace(size, make(size) + '\0').first;
  return found->second;
}

void BM_ParseFlat(benchmark::State& state) {
  static std::map<std::size_t, std::string> cache;
  const std::string& text = cached(cache, static_cast<std::size_t>(state.range(0)), bench::flatDocument);
  for (auto _ : state) benchmark::DoNotOptimize(kesoyaml::parseText(text));
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ParseFlat)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);

void BM_ParseDeep(benchmark::State& state) {
  static std::map<std::size_t, std::string> cache;
  const std::string& text = cached(cache, static_cast<std::size_t>(state.range(0)), bench::deepDocument);
  for (auto _ : state) benchmark::DoNotOptimize(kesoyaml::parseText(text));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ParseDeep)->Arg(20000)->Arg(40000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_WriteFlat(benchmark::State& state) {
  kesoyaml::NodeRef tree = kesoyaml::parseText(bench::flatDocument(static_cast<std::size_t>(state.range(0))));
  for (auto _ : state) {
    kesoyaml::StringOutput out;
    tree->write(out);
    benchmark::DoNotOptimize(out.text().data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_WriteFlat)->Arg(200000)->Unit(benchmark::kMillisecond);

void BM_BuildAndReleaseChain(benchmark::State& state) {
  for (auto _ : state) {
    auto root = std::make_shared<kesoyaml::YamlArray>();
    kesoyaml::YamlArray* tip = root.get();
    for (std::int64_t i = 0; i < state.range(0); ++i) {
      auto next = std::make_shared<kesoyaml::YamlArray>();
      kesoyaml::YamlArray* raw = next.get();
      tip->append(std::move(next));
      tip = raw;
    }
  }
}
BENCHMARK(BM_BuildAndReleaseChain)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
