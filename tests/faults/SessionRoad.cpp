// One session played from the system's side, message by message.
#include "faults/SessionRoad.h"

#include <cwchar>
#include <functional>

#include "app/Application.h"
#include "settings/PolicyNames.h"

namespace ravitor::testing {
namespace {

constexpr const wchar_t* kApplicationName = L"Tolvex Pellan Session Timers";
constexpr int kIdleRoadTicks = 32;
constexpr int kRebuildRoadTicks = 35;
constexpr int kRebuildBeforeTick = 6;

bool IsAction(const std::wstring& entry) {
  for (const wchar_t* prefix : {L"MessageBox", L"SendMessageTimeout", L"ReportEvent",
                                L"DisconnectSession", L"LogoffSession"}) {
    if (entry.compare(0, std::wcslen(prefix), prefix) == 0) return true;
  }
  return false;
}

bool Contains(const std::vector<std::wstring>& entries, const std::wstring& entry) {
  for (const auto& candidate : entries) {
    if (candidate == entry) return true;
  }
  return false;
}

}  // namespace

int FailedReleases(const FakePlatform& fake) {
  int failed = 0;
  for (const char* release :
       {"CloseKey", "RemoveHook", "CloseThreadHandle", "CloseEventSource", "CloseMutex"}) {
    failed += fake.FailedCallCount(release);
  }
  return failed;
}

RoadOutcome PlayRoad(FakePlatform& fake, Road road, const FaultPlan& plan) {
  RoadOutcome outcome;
  fake.CreateRegistryKey(Hive::LocalMachine, kTraceSwitchKey);
  fake.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxIdleTime, 600000);
  fake.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kResetBroken, 0);
  if (road == Road::IdleSession) {
    fake.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxDisconnectionTime, 120000);
  }

  Application app(fake, kApplicationName, kApplicationName);
  const WindowHandle window = fake.applicationWindow;
  int tick = 0;

  // One moment: switch the failures as planned, let `what` happen, and note
  // what it made visible. Returns the entries it recorded.
  const auto deliver = [&](const std::function<void()>& what) {
    if (outcome.moments == plan.from) {
      for (const auto& operation : plan.operations) fake.Fail(operation);
    }
    if (outcome.moments == plan.until) {
      for (const auto& operation : plan.operations) fake.Heal(operation);
    }
    const std::size_t before = fake.Journal().size();
    what();
    ++outcome.moments;
    const std::vector<std::wstring> entries(
        fake.Journal().begin() + static_cast<std::ptrdiff_t>(before), fake.Journal().end());
    for (const auto& entry : entries) {
      if (IsAction(entry)) outcome.timeline.push_back(std::to_wstring(tick) + L" " + entry);
    }
    return entries;
  };
  const auto message = [&](std::uint32_t id, std::uintptr_t wParam, std::intptr_t lParam) {
    return deliver([&] { app.WindowProcedure(window, id, wParam, lParam); });
  };

  deliver([&] { outcome.started = app.RunStartupSequence(); });
  if (outcome.started) {
    if (road == Road::IdleSession) {
      deliver([&] { fake.DeliverInput(HookKind::Keyboard); });
      deliver([&] { fake.DeliverInput(HookKind::Mouse, 0, 0x200); });
    }
    const int ticks = road == Road::IdleSession ? kIdleRoadTicks : kRebuildRoadTicks;
    bool sessionOver = false;
    for (tick = 1; tick <= ticks && !sessionOver; ++tick) {
      if (road == Road::PolicyRebuild && tick == kRebuildBeforeTick) {
        fake.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxIdleTime, 630000);
        static const wchar_t kPolicy[] = L"Policy";
        message(kWmSettingChange, 0, reinterpret_cast<std::intptr_t>(kPolicy));
      }
      if (!fake.WindowTimerRunning(kTickTimerId)) continue;  // no WM_TIMER without a timer
      const auto entries = message(kWmTimer, kTickTimerId, 0);
      if (Contains(entries, L"DisconnectSession") && fake.SessionNotificationsRegistered()) {
        message(kWmWtsSessionChange, kWtsRemoteDisconnect, 0);
      }
      if (Contains(entries, L"LogoffSession")) {
        // A log-off ends the session whatever the program answers.
        message(kWmQueryEndSession, 0, 0);
        message(kWmEndSession, 1, 0);
        if (!fake.ApplicationWindowExists()) message(kWmDestroy, 0, 0);
        sessionOver = true;
      }
    }
  }
  // Every window on these roads is a warning box, even one whose texts could
  // not be formatted (which OpenBoxes would not count).
  outcome.boxesLeftOpen = fake.Windows().size();
  outcome.quitCode = fake.QuitCode();
  outcome.instanceMutexHeld = fake.OpenMutexNames().size() == 1;
  outcome.openHandlesAtEnd =
      fake.OpenHandleCount() - static_cast<int>(fake.OpenMutexNames().size());
  outcome.releasesFailedAtEnd = FailedReleases(fake);
  outcome.journal = fake.Journal();
  return outcome;
}

}  // namespace ravitor::testing
