// ReadPolicyDword against the raw registry sequences it is made of: open,
// query and close in the machine hive, then, when that gives nothing, in the
// user hive.
#include <benchmark/benchmark.h>

#include <string>

#include "CoreProcess.h"
#include "FloorPaths.h"
#include "settings/PolicyReader.h"

namespace ravitor::benchmarks {
namespace {

using testing::FakePlatform;

constexpr std::uint32_t kIdleMs = 600000;

// Where the value is: the machine hive; only the user hive (the machine key
// exists with other values); nowhere (neither key exists).
enum class Placement { MachineHive, UserHive, Absent };

const char* PlacementName(Placement placement) {
  switch (placement) {
    case Placement::MachineHive:
      return "MachineHive";
    case Placement::UserHive:
      return "UserHiveFallback";
    case Placement::Absent:
      break;
  }
  return "Absent";
}

void Place(FakePlatform& fake, Placement placement) {
  fake.journalling = false;
  if (placement == Placement::MachineHive) {
    fake.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxIdleTime, kIdleMs);
  } else if (placement == Placement::UserHive) {
    fake.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxConnectionTime, kIdleMs);
    fake.SetDword(Hive::CurrentUser, kTerminalServicesPolicyKey, kMaxIdleTime, kIdleMs);
  }
}

std::uint32_t Expected(Placement placement) { return placement == Placement::Absent ? 0 : kIdleMs; }

void Program(benchmark::State& state, Placement placement) {
  FakePlatform fake;
  Place(fake, placement);
  std::uint32_t value = 0;
  for (auto _ : state) {
    value = ReadPolicyDword(fake, kTerminalServicesPolicyKey, kMaxIdleTime, 0, 0, 0xFFFFFFFF);
    benchmark::DoNotOptimize(value);
  }
  if (value != Expected(placement)) state.SkipWithError("read the wrong value");
}

void Floor(benchmark::State& state, Placement placement) {
  FakePlatform fake;
  Place(fake, placement);
  std::uint32_t value = 0;
  for (auto _ : state) {
    value = 0;
    const bool read =
        FloorRawRead(fake, Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxIdleTime, value) ||
        FloorRawRead(fake, Hive::CurrentUser, kTerminalServicesPolicyKey, kMaxIdleTime, value);
    benchmark::DoNotOptimize(read);
    benchmark::DoNotOptimize(value);
  }
  if (value != Expected(placement)) state.SkipWithError("read the wrong value");
}

const bool registered = [] {
  for (const Placement placement :
       {Placement::MachineHive, Placement::UserHive, Placement::Absent}) {
    const std::string name = std::string("ReadPolicyDword/Fake/") + PlacementName(placement);
    benchmark::RegisterBenchmark((name + "/Program").c_str(), &Program, placement);
    benchmark::RegisterBenchmark((name + "/Floor").c_str(), &Floor, placement);
  }
  return true;
}();

}  // namespace
}  // namespace ravitor::benchmarks
