// Loads a YAML file with vesk's reader several times and prints the size of
// its root and the best time of one load (read, parse and release), as
// processor time, which other load on the machine disturbs less than the
// wall clock, and as wall-clock time.
//   yaml_load_bench FILE [REPEAT]

#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <exception>

#include "yaml/kesoyaml.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage: yaml_load_bench FILE [REPEAT]\n");
    return 2;
  }
  int repeat = argc > 2 ? std::atoi(argv[2]) : 5;
  double best = 1e300;
  double bestWall = 1e300;
  std::size_t size = 0;
  try {
    for (int i = 0; i < repeat; ++i) {
      std::clock_t startCpu = std::clock();
      auto start = std::chrono::steady_clock::now();
      {
        kesoyaml::NodeRef root = kesoyaml::loadYaml(argv[1]);
        if (auto* assoc = dynamic_cast<kesoyaml::YamlAssoc*>(root.get())) {
          size = assoc->entries().size();
        } else if (auto* array = dynamic_cast<kesoyaml::YamlArray*>(root.get())) {
          size = array->elements().size();
        } else {
          size = 0;
        }
      }
      std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
      double cpu = static_cast<double>(std::clock() - startCpu) / CLOCKS_PER_SEC;
      if (cpu < best) best = cpu;
      if (wall.count() < bestWall) bestWall = wall.count();
    }
  } catch (const std::exception& e) {
    std::printf("error: %s\n", e.what());
    return 1;
  }
  std::printf("root_size=%zu best_cpu_seconds=%.6f best_wall_seconds=%.6f\n", size, best, bestWall);
  return 0;
}
