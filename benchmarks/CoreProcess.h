// A process's worth of core objects over a given platform, with the policies
// of a session whose three limits are all on and as long as they can be, so
// that no warning or expiry interrupts a steady-state loop for 143,165 ticks.
#pragma once

#include <cstdint>

#include "NullPlatform.h"
#include "fake/FakePlatform.h"
#include "notify/Notifier.h"
#include "platform/SystemValues.h"
#include "settings/DebugTrace.h"
#include "settings/PolicyNames.h"
#include "timers/TimerSet.h"

namespace ravitor::benchmarks {

inline constexpr const wchar_t* kApplicationName = L"Tolvex Pellan Session Timers";
inline constexpr std::uint32_t kLongestLimitMs = 0xFFFFFFFF;
// Steady-state tick loops reset their counts this often, far below the
// longest limit in ticks (kLongestLimitMs / 30000 = 143,165).
inline constexpr std::uint32_t kTicksBetweenResets = 100000;

inline void SetLongestLimits(testing::FakePlatform& fake, bool traceSwitch) {
  for (const wchar_t* name : {kMaxConnectionTime, kMaxIdleTime, kMaxDisconnectionTime}) {
    fake.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, name, kLongestLimitMs);
  }
  if (traceSwitch) fake.CreateRegistryKey(Hive::LocalMachine, kTraceSwitchKey);
  fake.journalling = false;
}

inline void SetLongestLimits(NullPlatform& platform, bool traceSwitch) {
  platform.values = {{kMaxConnectionTime, kLongestLimitMs},
                     {kMaxIdleTime, kLongestLimitMs},
                     {kMaxDisconnectionTime, kLongestLimitMs}};
  platform.traceSwitchPath = kTraceSwitchKey;
  platform.traceSwitchExists = traceSwitch;
}

template <typename PlatformType>
struct CoreProcess {
  explicit CoreProcess(bool traceSwitch) {
    SetLongestLimits(platform, traceSwitch);
    trace.Configure(Hive::LocalMachine, kTraceSwitchKey);
    started = timers.InitializeAllTimers(WindowHandle{0x42});
  }

  PlatformType platform;
  DebugTrace trace{platform};
  Notifier notifier{platform, kApplicationName};
  TimerSet timers{platform, trace, notifier, kApplicationName};
  bool started = false;
};

}  // namespace ravitor::benchmarks
