// The 30-second tick: the connected set ticks the Active and ActiveButIdle
// timers, the disconnected set the Disconnected timer; each tick of a timer
// checks the trace switch once, and the connected set reads the session's
// last input time once. The floor makes the same trace checks and the same
// reading and runs no timer logic. LastInputRead sets the connected set's
// floor against that floor without the reading: what the reading adds to a
// tick.
#include <benchmark/benchmark.h>

#include <string>

#include "CoreProcess.h"
#include "FloorPaths.h"

namespace ravitor::benchmarks {
namespace {

using testing::FakePlatform;

// Ticks the set in steady state: no count gets near its limit, so no tick
// warns or acts. Returns false when a count did not move as a tick moves it.
template <typename PlatformType>
bool TickSteadily(benchmark::State& state, CoreProcess<PlatformType>& process, bool disconnected) {
  TimerSet& timers = process.timers;
  const std::uint32_t resetCode = disconnected ? kWtsRemoteDisconnect : kWtsRemoteConnect;
  timers.OnSessionChange(resetCode);
  std::uint32_t sinceReset = 0;
  for (auto _ : state) {
    timers.OnTick(kTickTimerId);
    if (++sinceReset == kTicksBetweenResets) {
      sinceReset = 0;
      timers.OnSessionChange(resetCode);
    }
  }
  const SessionTimer* ticked =
      timers.Timer(disconnected ? TimerSlot::Disconnected : TimerSlot::ActiveButIdle);
  const SessionTimer* resting =
      timers.Timer(disconnected ? TimerSlot::Active : TimerSlot::Disconnected);
  return ticked->Count() == sinceReset && resting->Count() == 0;
}

template <typename PlatformType>
void Program(benchmark::State& state, bool disconnected, bool traceSwitch) {
  CoreProcess<PlatformType> process(traceSwitch);
  if (!process.started) {
    state.SkipWithError("the timers were not created");
    return;
  }
  if (!TickSteadily(state, process, disconnected)) state.SkipWithError("the counts went astray");
}

// `reading`: the connected set's reading of the session's last input time.
template <typename PlatformType>
void Floor(benchmark::State& state, bool disconnected, bool traceSwitch, bool reading) {
  PlatformType platform;
  SetLongestLimits(platform, traceSwitch);
  // Seen only as a Platform, as the core sees it.
  Platform* opaque = &platform;
  benchmark::DoNotOptimize(opaque);
  // The same loop shape as the program's, reset branch included.
  std::uint32_t sinceReset = 0;
  for (auto _ : state) {
    FloorTraceCheck(*opaque, L"Tick");
    if (reading) benchmark::DoNotOptimize(FloorLastInputRead(*opaque));
    if (!disconnected) FloorTraceCheck(*opaque, L"Tick");
    if (++sinceReset == kTicksBetweenResets) sinceReset = 0;
    benchmark::DoNotOptimize(sinceReset);
  }
}

const bool registered = [] {
  for (const bool traceSwitch : {false, true}) {
    for (const bool disconnected : {false, true}) {
      const std::string suffix = std::string(disconnected ? "DisconnectedSet" : "ConnectedSet") +
                                 (traceSwitch ? "/TraceOn" : "/TraceOff");
      benchmark::RegisterBenchmark(("OnTick/Fake/" + suffix + "/Program").c_str(),
                                   &Program<FakePlatform>, disconnected, traceSwitch);
      benchmark::RegisterBenchmark(("OnTick/Fake/" + suffix + "/Floor").c_str(),
                                   &Floor<FakePlatform>, disconnected, traceSwitch, !disconnected);
      benchmark::RegisterBenchmark(("OnTick/CoreOnly/" + suffix + "/Program").c_str(),
                                   &Program<NullPlatform>, disconnected, traceSwitch);
      benchmark::RegisterBenchmark(("OnTick/CoreOnly/" + suffix + "/Floor").c_str(),
                                   &Floor<NullPlatform>, disconnected, traceSwitch, !disconnected);
    }
    // The connected set's floor with its reading ("Program") and without.
    const std::string trace = traceSwitch ? "TraceOn" : "TraceOff";
    for (const bool reading : {true, false}) {
      const std::string side = reading ? "/Program" : "/Floor";
      benchmark::RegisterBenchmark(("LastInputRead/Fake/" + trace + side).c_str(),
                                   &Floor<FakePlatform>, false, traceSwitch, reading);
      benchmark::RegisterBenchmark(("LastInputRead/CoreOnly/" + trace + side).c_str(),
                                   &Floor<NullPlatform>, false, traceSwitch, reading);
    }
  }
  return true;
}();

}  // namespace
}  // namespace ravitor::benchmarks
