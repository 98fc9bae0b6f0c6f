// Console output of Google Benchmark followed by a table that sets each
// "<case>/Program" against its "<case>/Floor" from the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace ravitor::benchmarks {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

 private:
  // CPU nanoseconds per iteration of each benchmark: the median when
  // repetitions were asked for, else the single run.
  std::map<std::string, double> medians_;
  std::map<std::string, double> singles_;
  // By name: runs arrive shuffled when repetitions are interleaved.
  std::set<std::string> names_;
};

}  // namespace ravitor::benchmarks
