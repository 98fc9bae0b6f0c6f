// Runs the registered benchmarks and ends with the ratio of each path to its
// floor. Every Google Benchmark flag applies; scripts/bench passes the ones
// it measures with.
#include <benchmark/benchmark.h>

#include "RatioReporter.h"

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  ravitor::benchmarks::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
