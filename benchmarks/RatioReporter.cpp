// Pairs the program's paths with their floors after all runs are in.
#include "RatioReporter.h"

#include <cstdio>
#include <ostream>

namespace ravitor::benchmarks {
namespace {

constexpr const char* kProgramSuffix = "/Program";
constexpr const char* kFloorSuffix = "/Floor";

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

double Nanoseconds(const benchmark::BenchmarkReporter::Run& run) {
  return run.GetAdjustedCPUTime() * benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
         benchmark::GetTimeUnitMultiplier(run.time_unit);
}

}  // namespace

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    if (run.error_occurred) continue;
    const std::string name = run.run_name.str();
    names_.insert(name);
    if (run.run_type == Run::RT_Aggregate) {
      if (run.aggregate_name == "median") medians_[name] = Nanoseconds(run);
    } else {
      singles_[name] = Nanoseconds(run);
    }
  }
}

void RatioReporter::Finalize() {
  ConsoleReporter::Finalize();
  const auto timeOf = [this](const std::string& name, double& nanoseconds) {
    if (const auto median = medians_.find(name); median != medians_.end()) {
      nanoseconds = median->second;
      return true;
    }
    if (const auto single = singles_.find(name); single != singles_.end()) {
      nanoseconds = single->second;
      return true;
    }
    return false;
  };
  std::ostream& out = GetOutputStream();
  char line[256];
  std::snprintf(line, sizeof line, "\n%-52s %12s %12s %7s\n", "Path against its floor (CPU)",
                "program ns", "floor ns", "ratio");
  out << line;
  for (const std::string& name : names_) {
    if (!EndsWith(name, kProgramSuffix)) continue;
    const std::string path =
        name.substr(0, name.size() - std::char_traits<char>::length(kProgramSuffix));
    double program = 0;
    double floor = 0;
    if (!timeOf(name, program) || !timeOf(path + kFloorSuffix, floor) || floor <= 0) continue;
    std::snprintf(line, sizeof line, "%-52s %12.1f %12.1f %7.3f\n", path.c_str(), program, floor,
                  program / floor);
    out << line;
  }
  out.flush();
}

}  // namespace ravitor::benchmarks
