// The hook and tick paths, the reading of the session's last input time
// included, run for the whole life of every session and must not allocate:
// only the tick that shows a warning box allocates, the box's strings, by
// design. Allocations are counted inside the core's code only; what the
// recording fake allocates stands for the operating system.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "AllocationCounter.h"
#include "notify/CatalogIds.h"
#include "notify/Notifier.h"
#include "settings/DebugTrace.h"
#include "settings/PolicyNames.h"
#include "timers/TimerSet.h"

namespace ravitor::testing {
namespace {

constexpr const wchar_t* kApplicationName = L"Tolvex Pellan Session Timers";
constexpr int kEvents = 1000;

// Parameter: whether the trace switch key exists.
class SteadyStateAllocationTest : public ::testing::TestWithParam<bool> {
 protected:
  SteadyStateAllocationTest() {
    fake.seamObserver = &PlatformCallsUncounted();
    trace.Configure(Hive::LocalMachine, kTraceSwitchKey);
    if (GetParam()) fake.CreateRegistryKey(Hive::LocalMachine, kTraceSwitchKey);
  }

  void TsPolicy(const wchar_t* name, std::uint32_t value) {
    fake.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, name, value);
  }
  // Allocations the core makes while `action` runs; the test's own code in
  // `action` is not counted unless it enters the core.
  static long AllocationsDuring(const std::function<void()>& action) {
    const long before = CountedAllocations();
    action();
    return CountedAllocations() - before;
  }
  long AllocationsOfTick() {
    return AllocationsDuring([this] {
      const CoreScope core;
      timers.OnTick(kTickTimerId);
    });
  }
  int BoxesShown() const { return fake.CallCount("StartThread"); }

  FakePlatform fake;
  DebugTrace trace{fake};
  Notifier notifier{fake, kApplicationName};
  TimerSet timers{fake, trace, notifier, kApplicationName};
};

TEST_P(SteadyStateAllocationTest, CounterSeesTheCoreAllocatingAndIgnoresThePlatform) {
  EXPECT_GE(AllocationsDuring([this] {
              const CoreScope core;
              notifier.ShowWarning(kIdleDisconnectWarning, kIdleCaption);
            }),
            1)
      << "a warning box's strings are allocated by the core";
  EXPECT_EQ(AllocationsDuring([this] {
              const CoreScope core;
              // The fake builds a lower-case copy of the path to look it up.
              fake.CloseKey(fake.OpenKeyForRead(Hive::LocalMachine, kTerminalServicesPolicyKey));
            }),
            0);
}

TEST_P(SteadyStateAllocationTest, InputEventsAllocateNothing) {
  TsPolicy(kMaxIdleTime, 600000);
  TsPolicy(kMaxConnectionTime, 3600000);
  ASSERT_TRUE(timers.InitializeAllTimers(WindowHandle{0x42}));
  for (int i = 0; i < 3; ++i) timers.OnTick(kTickTimerId);
  ASSERT_EQ(timers.Timer(TimerSlot::ActiveButIdle)->Count(), 3u);
  const int passedOnBefore = fake.CallCount("CallNextHook");

  // The fake's delivery is the system's; the hook procedure it calls is the
  // core's, and counted.
  const long allocations = AllocationsDuring([this] {
    for (int i = 0; i < kEvents; ++i) {
      fake.DeliverInput(HookKind::Keyboard, 0, 0x100);
      fake.DeliverInput(HookKind::Mouse, 0, 0x200);
    }
  });

  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(fake.CallCount("CallNextHook") - passedOnBefore, 2 * kEvents);
  EXPECT_EQ(timers.Timer(TimerSlot::ActiveButIdle)->Count(), 0u);
  EXPECT_EQ(timers.Timer(TimerSlot::Active)->Count(), 3u);
  const auto lines = fake.TraceLines();
  const auto resets = std::count(lines.begin(), lines.end(), L"Keyboard timer reset") +
                      std::count(lines.begin(), lines.end(), L"Mouse timer reset");
  EXPECT_EQ(resets, GetParam() ? 2 * kEvents : 0);
}

TEST_P(SteadyStateAllocationTest, TicksAllocateNothingButAWarningBoxsStrings) {
  TsPolicy(kMaxIdleTime, 150000);           // 5 ticks
  TsPolicy(kMaxConnectionTime, 300000);     // 10 ticks
  TsPolicy(kMaxDisconnectionTime, 120000);  // 4 ticks
  ASSERT_TRUE(timers.InitializeAllTimers(WindowHandle{0x42}));

  // Connected: idle warning at 5, disconnect at 9; connection warning at 10,
  // disconnect at 14; then counts past their expiry points.
  std::vector<int> warningTicks;
  for (int tick = 1; tick <= 16; ++tick) {
    const int boxesBefore = BoxesShown();
    const long allocations = AllocationsOfTick();
    if (BoxesShown() != boxesBefore) {
      // The one exception: the box's text and caption, owned by its thread.
      warningTicks.push_back(tick);
      EXPECT_GE(allocations, 1) << "tick " << tick;
    } else {
      EXPECT_EQ(allocations, 0) << "tick " << tick;
    }
  }
  EXPECT_EQ(warningTicks, (std::vector<int>{5, 10}));
  EXPECT_EQ(fake.CallCount("DisconnectSession"), 2);

  // Disconnected: the Disconnected timer logs the session off at its 4th tick
  // and the set is gone after that.
  timers.OnSessionChange(kWtsRemoteDisconnect);
  for (int tick = 1; tick <= 6; ++tick) {
    EXPECT_EQ(AllocationsOfTick(), 0) << "disconnected tick " << tick;
  }
  EXPECT_EQ(fake.CallCount("LogoffSession"), 1);
  EXPECT_EQ(BoxesShown(), 2);
}

TEST_P(SteadyStateAllocationTest, TicksThatSeeInputThroughTheLastInputTimeAllocateNothing) {
  TsPolicy(kMaxIdleTime, 150000);  // 5 ticks
  ASSERT_TRUE(timers.InitializeAllTimers(WindowHandle{0x42}));
  constexpr int kTicks = 100;

  // Input no hook sees before every tick: each reading resets the count.
  long allocations = 0;
  for (int tick = 1; tick <= kTicks; ++tick) {
    ++fake.lastInputTime;
    allocations += AllocationsOfTick();
    ASSERT_EQ(timers.Timer(TimerSlot::ActiveButIdle)->Count(), 1u) << "tick " << tick;
  }

  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(BoxesShown(), 0);
  const auto lines = fake.TraceLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kLastInputResetTrace), GetParam() ? kTicks : 0);
}

INSTANTIATE_TEST_SUITE_P(TraceSwitch, SteadyStateAllocationTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "KeyPresent" : "KeyAbsent";
                         });

}  // namespace
}  // namespace ravitor::testing
