// The input hook path: an event delivered to the installed hook, which resets
// the idle count, checks the trace switch and passes the event on; against a
// hook that only checks the trace switch and passes the event on.
#include <benchmark/benchmark.h>

#include <string>

#include "CoreProcess.h"
#include "FloorPaths.h"

namespace ravitor::benchmarks {
namespace {

using testing::FakePlatform;

const char* KindName(HookKind kind) { return kind == HookKind::Keyboard ? "Keyboard" : "Mouse"; }

void InstallFloorHooks(Platform& platform) {
  // The hooks see the platform only as a Platform, as the core does: an
  // optimiser that knew its type could make the floor's calls direct.
  Platform* opaque = &platform;
  benchmark::DoNotOptimize(opaque);
  // Same two hooks, in the same order, as the program installs.
  platform.InstallHook(HookKind::Keyboard, &FloorKeyboardHook, opaque);
  platform.InstallHook(HookKind::Mouse, &FloorMouseHook, opaque);
}

// Through the recording fake, which locks, counts and looks up every call.
void ProgramOverFake(benchmark::State& state, HookKind kind, bool traceSwitch) {
  CoreProcess<FakePlatform> process(traceSwitch);
  FakePlatform& fake = process.platform;
  if (!process.started || fake.InstalledHookCount(kind) != 1) {
    state.SkipWithError("the idle timer did not install its hooks");
    return;
  }
  const int passedOnBefore = fake.CallCount("CallNextHook");
  for (auto _ : state) benchmark::DoNotOptimize(fake.DeliverInput(kind));
  if (fake.CallCount("CallNextHook") - passedOnBefore != static_cast<int>(state.iterations())) {
    state.SkipWithError("not every event was passed on");
  }
}

void FloorOverFake(benchmark::State& state, HookKind kind, bool traceSwitch) {
  FakePlatform fake;
  SetLongestLimits(fake, traceSwitch);
  InstallFloorHooks(fake);
  for (auto _ : state) benchmark::DoNotOptimize(fake.DeliverInput(kind));
  if (fake.CallCount("CallNextHook") != static_cast<int>(state.iterations())) {
    state.SkipWithError("not every event was passed on");
  }
}

// Through a platform that does nothing: the core's own cost per event.
void ProgramOverNull(benchmark::State& state, HookKind kind, bool traceSwitch) {
  CoreProcess<NullPlatform> process(traceSwitch);
  if (!process.started) {
    state.SkipWithError("the idle timer was not created");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(process.platform.Deliver(kind, 0, 0x100, 0));
}

void FloorOverNull(benchmark::State& state, HookKind kind, bool traceSwitch) {
  NullPlatform platform;
  SetLongestLimits(platform, traceSwitch);
  InstallFloorHooks(platform);
  for (auto _ : state) benchmark::DoNotOptimize(platform.Deliver(kind, 0, 0x100, 0));
}

const bool registered = [] {
  for (const bool traceSwitch : {false, true}) {
    for (const HookKind kind : {HookKind::Keyboard, HookKind::Mouse}) {
      const std::string suffix =
          std::string(KindName(kind)) + (traceSwitch ? "/TraceOn" : "/TraceOff");
      benchmark::RegisterBenchmark(("HookPath/Fake/" + suffix + "/Program").c_str(),
                                   &ProgramOverFake, kind, traceSwitch);
      benchmark::RegisterBenchmark(("HookPath/Fake/" + suffix + "/Floor").c_str(), &FloorOverFake,
                                   kind, traceSwitch);
      benchmark::RegisterBenchmark(("HookPath/CoreOnly/" + suffix + "/Program").c_str(),
                                   &ProgramOverNull, kind, traceSwitch);
      benchmark::RegisterBenchmark(("HookPath/CoreOnly/" + suffix + "/Floor").c_str(),
                                   &FloorOverNull, kind, traceSwitch);
    }
  }
  return true;
}();

}  // namespace
}  // namespace ravitor::benchmarks
