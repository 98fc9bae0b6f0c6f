// Messages that reach the window while the main thread waits inside a
// platform call: Windows delivers sent messages (a "Policy" notification, a
// forged tick, a session change, the end of the session) and low-level input
// right there, in the middle of a tick.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <tuple>

#include "app/Application.h"
#include "fake/FakePlatform.h"
#include "settings/PolicyNames.h"

namespace ravitor::testing {
namespace {

using Lines = std::vector<std::wstring>;

const std::wstring kPolicySeen = L"Trace Policy change has been detected.";
constexpr int kWarningTick = 2;  // MaxIdleTime 60000
constexpr int kExpiryTick = 6;
constexpr int kRoadTicks = 9;

enum class Arrival { Policy, Tick, Disconnect, Input, CancelledEndSession, EndSession };

std::string NameOf(Arrival arrival) {
  switch (arrival) {
    case Arrival::Policy:
      return "Policy";
    case Arrival::Tick:
      return "Tick";
    case Arrival::Disconnect:
      return "Disconnect";
    case Arrival::Input:
      return "Input";
    case Arrival::CancelledEndSession:
      return "CancelledEndSession";
    case Arrival::EndSession:
      break;
  }
  return "EndSession";
}

struct Wait {
  const char* operation;  // the platform call the main thread waits in
  int tick;               // the tick that makes that call
  bool logsOff;           // fResetBroken 1: the expiry logs the session off
};

// One process on the idle road (limit 2 ticks, so a warning at tick 2 and
// the expiry at tick 6), with a connection limit too when one is given;
// before the expiry Group Policy doubles the idle limit.
class Session {
 public:
  explicit Session(bool logsOff, std::uint32_t connectionLimitMs = 0) {
    fake.CreateRegistryKey(Hive::LocalMachine, kTraceSwitchKey);
    fake.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxIdleTime, 60000);
    if (connectionLimitMs != 0) {
      fake.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxConnectionTime,
                    connectionLimitMs);
    }
    fake.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kResetBroken, logsOff ? 1 : 0);
    EXPECT_TRUE(app.RunStartupSequence());
  }

  void Deliver(Arrival arrival) {
    static const wchar_t kPolicy[] = L"Policy";
    const WindowHandle window = fake.applicationWindow;
    switch (arrival) {
      case Arrival::Policy:
        app.WindowProcedure(window, kWmSettingChange, 0, reinterpret_cast<std::intptr_t>(kPolicy));
        break;
      case Arrival::Tick:
        app.WindowProcedure(window, kWmTimer, kTickTimerId, 0);
        break;
      case Arrival::Disconnect:
        app.WindowProcedure(window, kWmWtsSessionChange, 4, 0);
        break;
      case Arrival::Input:
        fake.DeliverInput(HookKind::Keyboard);
        break;
      case Arrival::CancelledEndSession:
        app.WindowProcedure(window, kWmEndSession, 0, 0);
        break;
      case Arrival::EndSession:
        app.WindowProcedure(window, kWmEndSession, 1, 0);
        break;
    }
  }

  // Plays the road; `arrival` comes inside the wait, or right after the tick
  // that waits has returned. Returns what each tick period recorded, the
  // period of a tick starting with it (0: start-up).
  std::vector<Lines> Play(const Wait& wait, Arrival arrival, bool insideTheWait) {
    std::vector<Lines> periods;
    std::size_t recorded = 0;
    const auto endPeriod = [&] {
      const Lines& journal = fake.Journal();
      periods.emplace_back(journal.begin() + static_cast<std::ptrdiff_t>(recorded), journal.end());
      recorded = journal.size();
    };
    endPeriod();
    for (int tick = 1; tick <= kRoadTicks; ++tick) {
      if (tick == kExpiryTick) {
        fake.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxIdleTime, 120000);
      }
      const bool now = tick == wait.tick;
      if (now && insideTheWait) {
        EXPECT_TRUE(fake.ReenterDuring(wait.operation, [this, arrival] { Deliver(arrival); }));
      }
      Deliver(Arrival::Tick);
      if (now && insideTheWait) {
        EXPECT_EQ(fake.PendingReentryCount(), 0u) << "the tick waited in " << wait.operation;
      }
      if (now && !insideTheWait) Deliver(arrival);
      endPeriod();
    }
    return periods;
  }

  FakePlatform fake;
  Application app{fake, L"Tolvex Pellan Session Timers", L"Tolvex Pellan Session Timers"};
};

Lines Flatten(const std::vector<Lines>& periods) {
  Lines lines;
  for (const auto& period : periods) lines.insert(lines.end(), period.begin(), period.end());
  return lines;
}

Lines Without(Lines lines, const std::wstring& entry) {
  lines.erase(std::remove(lines.begin(), lines.end(), entry), lines.end());
  return lines;
}

Lines ActionsOf(const Lines& journal) {
  Lines actions;
  for (const auto& entry : journal) {
    for (const wchar_t* prefix : {L"MessageBox", L"SendMessageTimeout", L"ReportEvent",
                                  L"DisconnectSession", L"LogoffSession"}) {
      if (entry.rfind(prefix, 0) == 0) actions.push_back(entry);
    }
  }
  return actions;
}

const Wait kWaits[] = {
    {"StartThread", kWarningTick, false},           {"EnumerateWindows", kExpiryTick, false},
    {"SendMessageWithTimeout", kExpiryTick, false}, {"DisconnectSession", kExpiryTick, false},
    {"SendMessageWithTimeout", kExpiryTick, true},  {"LogoffSession", kExpiryTick, true},
};

std::string CaseName(const Wait& wait, Arrival arrival) {
  return NameOf(arrival) + "During" + wait.operation + (wait.logsOff ? "OfALogoff" : "");
}

class DeferredArrivalTest : public ::testing::TestWithParam<Wait> {};

// A policy change that arrives inside the wait is handled exactly as if it
// had come right after the running tick: once, nothing lost, nothing
// destroyed under the running tick. Only its notice is traced at once, where
// it arrived.
TEST_P(DeferredArrivalTest, IsHandledOnceRightAfterTheRunningTick) {
  const Wait& wait = GetParam();
  Session inside(wait.logsOff);
  Session after(wait.logsOff);
  const std::vector<Lines> nested = inside.Play(wait, Arrival::Policy, true);
  const std::vector<Lines> reference = after.Play(wait, Arrival::Policy, false);

  EXPECT_EQ(Without(Flatten(nested), kPolicySeen), Without(Flatten(reference), kPolicySeen));
  const Lines& waitingTick = nested[static_cast<std::size_t>(wait.tick)];
  EXPECT_EQ(std::count(waitingTick.begin(), waitingTick.end(), kPolicySeen), 1);
}

INSTANTIATE_TEST_SUITE_P(Waits, DeferredArrivalTest, ::testing::ValuesIn(kWaits),
                         [](const auto& testInfo) {
                           return CaseName(testInfo.param, Arrival::Policy);
                         });

// What each immediate arrival leaves in the journal of the tick it arrived in.
const wchar_t* TraceOf(Arrival arrival) {
  switch (arrival) {
    case Arrival::Disconnect:
      return L"Trace WTS Disconnect message detected, reseting disconnect timer";
    case Arrival::Input:
      return L"Trace Keyboard timer reset";
    case Arrival::Tick:
      return L"Trace Tick";
    case Arrival::EndSession:
      return L"DestroyApplicationWindow 0x42";
    default:
      return nullptr;
  }
}

class ImmediateArrivalTest : public ::testing::TestWithParam<std::tuple<Wait, Arrival>> {};

// Input, session changes, the end of the session and a tick (sent by another
// program) are handled at once, in the order they come, and the running tick
// still does all it set out to do with the timers it started with.
TEST_P(ImmediateArrivalTest, IsHandledAtOnceAndLeavesTheRunningTickWhole) {
  const Wait& wait = std::get<0>(GetParam());
  const Arrival arrival = std::get<1>(GetParam());
  Session inside(wait.logsOff);
  Session undisturbed(wait.logsOff);
  const std::vector<Lines> nested = inside.Play(wait, arrival, true);
  const std::vector<Lines> plain =
      undisturbed.Play(Wait{wait.operation, 0, wait.logsOff}, arrival, false);

  const auto tick = static_cast<std::size_t>(wait.tick);
  // The sweep knows which boxes are due when it starts: even input that
  // resets the idle count meanwhile leaves the expiry's actions as they were.
  EXPECT_EQ(ActionsOf(nested[tick]), ActionsOf(plain[tick]));
  // The log-off path has removed the hooks and timers before it waits for
  // the log-off: input and ticks then find nothing to count.
  const bool setGone = std::string(wait.operation) == "LogoffSession";
  const bool counts = arrival == Arrival::Input || arrival == Arrival::Tick;
  if (const wchar_t* trace = TraceOf(arrival)) {
    const auto seen = std::count(nested[tick].begin(), nested[tick].end(), trace);
    const auto seenAlone = std::count(plain[tick].begin(), plain[tick].end(), trace);
    EXPECT_EQ(seen - seenAlone, setGone && counts ? 0 : 1);
  }
  const Lines all = Flatten(nested);
  EXPECT_EQ(std::count(all.begin(), all.end(), L"DestroyApplicationWindow 0x42"),
            arrival == Arrival::EndSession ? 1 : 0)
      << "only an end of session that goes ahead ends the program";
  if (!wait.logsOff) {
    EXPECT_NE(inside.app.Timers().Timer(TimerSlot::ActiveButIdle), nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Waits, ImmediateArrivalTest,
    ::testing::Combine(::testing::ValuesIn(kWaits),
                       ::testing::Values(Arrival::Tick, Arrival::Disconnect, Arrival::Input,
                                         Arrival::CancelledEndSession, Arrival::EndSession)),
    [](const auto& testInfo) {
      return CaseName(std::get<0>(testInfo.param), std::get<1>(testInfo.param));
    });

// Two notifications while one tick runs are still one change to handle.
TEST(ReentryTest, TwoPolicyChangesInOneSweepRebuildOnce) {
  Session session(false);
  const Wait sweep{"SendMessageWithTimeout", kExpiryTick, false};
  session.fake.ReenterDuring("EnumerateWindows", [&] { session.Deliver(Arrival::Policy); });
  const std::vector<Lines> periods = session.Play(sweep, Arrival::Policy, true);

  const Lines& expiry = periods[kExpiryTick];
  EXPECT_EQ(std::count(expiry.begin(), expiry.end(), kPolicySeen), 2);
  EXPECT_EQ(std::count(expiry.begin(), expiry.end(), L"Trace Destroying all timers"), 1);
  // The rebuild comes after everything the expiring timer did.
  const auto disconnect = std::find(expiry.begin(), expiry.end(), L"DisconnectSession");
  const auto rebuild = std::find(expiry.begin(), expiry.end(), L"Trace Destroying all timers");
  EXPECT_LT(disconnect, rebuild);
}

// A tick sent while the Active timer's expiry sweeps lets the idle timer ask
// for the log-off first: the log-off comes once, after the running expiry,
// and frees no timer under it.
TEST(ReentryTest, ALogoffAskedForByATickInsideASweepComesOnceAfterIt) {
  // Both limits of 2 ticks: both warn at the 2nd tick and expire at the 6th,
  // the Active timer first and the idle timer in the tick sent while the
  // Active timer sweeps.
  Session session(true, 60000);
  const std::vector<Lines> periods =
      session.Play(Wait{"EnumerateWindows", kExpiryTick, true}, Arrival::Tick, true);

  const Lines& expiry = periods[kExpiryTick];
  const std::wstring expired =
      L"Trace Time has expired, setting bLogoffNow to true, session will be terminated.";
  EXPECT_EQ(std::count(expiry.begin(), expiry.end(), expired), 2)
      << "the idle timer's inside, then the Active timer's";
  EXPECT_EQ(ActionsOf(Flatten(periods)),
            (Lines{L"MessageBox RAVITOR: Logon timer expired | 0x50010",
                   L"MessageBox RAVITOR: Idle timer expired | 0x50010",
                   L"SendMessageTimeout RAVITOR: Logon timer expired 0x10 0 0 0 100",
                   L"SendMessageTimeout RAVITOR: Idle timer expired 0x10 0 0 0 100",
                   L"ReportEvent 4 1 118", L"LogoffSession"}))
      << "one record, one log-off";
  const auto lastExpiry = std::find(expiry.rbegin(), expiry.rend(), expired).base();
  EXPECT_LT(lastExpiry, std::find(expiry.begin(), expiry.end(), L"Trace Logging off now..."));
  for (const TimerSlot slot : {TimerSlot::Active, TimerSlot::ActiveButIdle}) {
    EXPECT_EQ(session.app.Timers().Timer(slot), nullptr);
  }
}

// After the log-off path the set is empty; a change that waited for it
// recreates nothing.
TEST(ReentryTest, APolicyChangeDuringTheLogoffRecreatesNoTimer) {
  Session session(true);
  session.Play(Wait{"LogoffSession", kExpiryTick, true}, Arrival::Policy, true);
  for (const TimerSlot slot :
       {TimerSlot::Active, TimerSlot::ActiveButIdle, TimerSlot::Disconnected})
    EXPECT_EQ(session.app.Timers().Timer(slot), nullptr);
  EXPECT_EQ(session.fake.InstalledHookCount(HookKind::Keyboard), 0);
}

}  // namespace
}  // namespace ravitor::testing
