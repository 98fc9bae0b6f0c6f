// A process's worth of core objects over the recording platform, with the
// registry set up the way an administrator's policies leave it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake/FakePlatform.h"
#include "notify/Notifier.h"
#include "settings/DebugTrace.h"
#include "settings/PolicyNames.h"
#include "timers/TimerSet.h"

namespace ravitor::testing {

inline constexpr const wchar_t* kApplicationName = L"Tolvex Pellan Session Timers";
inline constexpr WindowHandle kAppWindow{0x42};
// The journal's entries for the two warning boxes.
inline const std::wstring kIdleBox = L"MessageBox RAVITOR: Idle timer expired | 0x50010";
inline const std::wstring kActiveBox = L"MessageBox RAVITOR: Logon timer expired | 0x50010";

class CoreFixture : public ::testing::Test {
 protected:
  CoreFixture() { trace.Configure(Hive::LocalMachine, kTraceSwitchKey); }

  void TraceOn() { fake.CreateRegistryKey(Hive::LocalMachine, kTraceSwitchKey); }
  void ProductPolicy(const wchar_t* name, std::uint32_t value, Hive hive = Hive::LocalMachine) {
    fake.SetDword(hive, kProductPolicyKey, name, value);
  }
  void TsPolicy(const wchar_t* name, std::uint32_t value, Hive hive = Hive::LocalMachine) {
    fake.SetDword(hive, kTerminalServicesPolicyKey, name, value);
  }
  void Ticks(int count, std::uintptr_t id = kTickTimerId) {
    for (int i = 0; i < count; ++i) timers.OnTick(id);
  }
  std::uint32_t CountOf(TimerSlot slot) const { return timers.Timer(slot)->Count(); }
  // The journal without trace lines, registry writes and thread plumbing:
  // what a user or an administrator would see happen.
  std::vector<std::wstring> Actions() const {
    std::vector<std::wstring> actions;
    for (const auto& entry : fake.Journal()) {
      for (const wchar_t* prefix : {L"MessageBox", L"SendMessageTimeout", L"ReportEvent",
                                    L"DisconnectSession", L"LogoffSession"}) {
        if (entry.rfind(prefix, 0) == 0) actions.push_back(entry);
      }
    }
    return actions;
  }

  FakePlatform fake;
  DebugTrace trace{fake};
  Notifier notifier{fake, kApplicationName};
  TimerSet timers{fake, trace, notifier, kApplicationName};
};

}  // namespace ravitor::testing
