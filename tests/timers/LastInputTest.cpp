// The session's last input time as the second source of input beside the
// hooks: read at each connected tick before the idle timer counts, it resets
// the idle count for input that no hook saw.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "CoreFixture.h"

namespace ravitor::testing {
namespace {

using Lines = std::vector<std::wstring>;

constexpr std::uint32_t kIdleLimitMs = 600000;  // 20 ticks: the box at 20, the disconnect at 24
constexpr int kWarningTick = 20;
constexpr int kDisconnectTick = 24;

// Input that reaches the session but no hook: an elevated window's, or any
// after Windows removed the hooks.
void InputNoHookSees(FakePlatform& fake) { fake.lastInputTime += 7; }

class LastInputTest : public CoreFixture {
 protected:
  int TraceCount(const std::wstring& line) const {
    const Lines lines = fake.TraceLines();
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
  }
  // The number of each tick, among `ticks` more, at which `action` was
  // recorded.
  std::vector<int> TicksOf(const std::wstring& action, int ticks,
                           const std::function<void(int)>& beforeTick = {}) {
    std::vector<int> at;
    for (int tick = 1; tick <= ticks; ++tick) {
      if (beforeTick) beforeTick(tick);
      fake.ClearJournal();
      timers.OnTick(kTickTimerId);
      const Lines actions = Actions();
      if (std::find(actions.begin(), actions.end(), action) != actions.end()) at.push_back(tick);
    }
    return at;
  }
};

// --- Input seen only by the reading -------------------------------------------

struct AliveCase {
  const char* name;
  int inputEvery;  // ticks between two inputs, the first before tick 1
  bool hooksFail;  // InstallHook fails: no hook at all, as after Windows removed them
  int ticks;
  std::uint32_t highestCount;
};

void PrintTo(const AliveCase& c, std::ostream* os) { *os << c.name; }

class InputSeenOnlyByTheReadingTest : public LastInputTest,
                                      public ::testing::WithParamInterface<AliveCase> {};

TEST_P(InputSeenOnlyByTheReadingTest, KeepsTheSessionAliveForAsLongAsItComes) {
  const AliveCase& c = GetParam();
  TsPolicy(kMaxIdleTime, kIdleLimitMs);
  if (c.hooksFail) fake.Fail("InstallHook");
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  fake.ClearJournal();

  std::uint32_t highest = 0;
  for (int tick = 1; tick <= c.ticks; ++tick) {
    if ((tick - 1) % c.inputEvery == 0) InputNoHookSees(fake);
    timers.OnTick(kTickTimerId);
    highest = std::max(highest, CountOf(TimerSlot::ActiveButIdle));
  }

  EXPECT_TRUE(Actions().empty()) << "no warning, no disconnect";
  EXPECT_EQ(highest, c.highestCount);
  EXPECT_EQ(fake.CallCount("CallNextHook"), 0) << "no hook was called";
  EXPECT_EQ(fake.CallCount("ReadLastInputTime"), 1 + c.ticks) << "at start-up and at every tick";
}

INSTANTIATE_TEST_SUITE_P(Cases, InputSeenOnlyByTheReadingTest,
                         ::testing::Values(AliveCase{"EveryTick", 1, false, 200, 1},
                                           // The count reaches 19 and never the limit of 20.
                                           AliveCase{"EveryNineteenthTick", 19, false, 200, 19},
                                           AliveCase{"EveryNineteenthTickWithoutHooks", 19, true,
                                                     200, 19}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(LastInputTest, InputEveryTwentiethTickComesTooLateForTheWarning) {
  TsPolicy(kMaxIdleTime, kIdleLimitMs);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));

  // Before tick 1 and tick 21: the count reaches the limit at tick 20 first.
  EXPECT_EQ(TicksOf(kIdleBox, 21,
                    [this](int tick) {
                      if (tick == 1 || tick == 21) InputNoHookSees(fake);
                    }),
            std::vector<int>{kWarningTick});
  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), 1u) << "the input before tick 21 restarted it";
}

// Two sessions, one whose input the hooks see and one whose input only the
// reading sees, at the same moments: the counts agree after every tick.
TEST_F(LastInputTest, TheReadingGivesTheCountTheHooksWouldHaveGiven) {
  struct Process {
    Process() {
      fake.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxIdleTime, kIdleLimitMs);
      trace.Configure(Hive::LocalMachine, kTraceSwitchKey);
    }
    FakePlatform fake;
    DebugTrace trace{fake};
    Notifier notifier{fake, kApplicationName};
    TimerSet timers{fake, trace, notifier, kApplicationName};
  };
  Process hooked;
  Process unhooked;
  ASSERT_TRUE(hooked.timers.InitializeAllTimers(kAppWindow));
  ASSERT_TRUE(unhooked.timers.InitializeAllTimers(kAppWindow));
  // Input before the first tick, twice in one period, in consecutive
  // periods, and after long pauses.
  const std::vector<int> inputBefore = {1, 2, 2, 3, 9, 10, 21, 22, 23, 40};

  std::vector<std::uint32_t> hookedCounts;
  std::vector<std::uint32_t> unhookedCounts;
  for (int tick = 1; tick <= 45; ++tick) {
    for (const int at : inputBefore) {
      if (at != tick) continue;
      hooked.fake.DeliverInput(HookKind::Mouse);
      InputNoHookSees(unhooked.fake);
    }
    hooked.timers.OnTick(kTickTimerId);
    unhooked.timers.OnTick(kTickTimerId);
    hookedCounts.push_back(hooked.timers.Timer(TimerSlot::ActiveButIdle)->Count());
    unhookedCounts.push_back(unhooked.timers.Timer(TimerSlot::ActiveButIdle)->Count());
  }

  EXPECT_EQ(unhookedCounts, hookedCounts);
  EXPECT_EQ(hookedCounts[8], 1u) << "input before tick 9";
  EXPECT_EQ(hookedCounts[18], 10u) << "tick 19 is the tenth since the input before tick 10";
  EXPECT_EQ(unhooked.fake.CallCount("CallNextHook"), 0);
}

// --- No input at all ------------------------------------------------------------

struct ExpiryCase {
  const char* name;
  bool readingFails;
};

void PrintTo(const ExpiryCase& c, std::ostream* os) { *os << c.name; }

class NoInputTest : public LastInputTest, public ::testing::WithParamInterface<ExpiryCase> {};

// As RoadOfOneIdleSession in TimerSetTest: the box at tick 20, the
// disconnect four ticks later.
TEST_P(NoInputTest, ExpiresOnTheSameTickAsWithoutTheReading) {
  TsPolicy(kMaxIdleTime, kIdleLimitMs);
  if (GetParam().readingFails) fake.Fail("ReadLastInputTime");
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  std::vector<int> boxes;
  std::vector<int> disconnects;
  for (int tick = 1; tick <= 30; ++tick) {
    fake.ClearJournal();
    timers.OnTick(kTickTimerId);
    for (const auto& action : Actions()) {
      if (action == kIdleBox) boxes.push_back(tick);
      if (action == L"DisconnectSession") disconnects.push_back(tick);
    }
  }

  EXPECT_EQ(boxes, std::vector<int>{kWarningTick});
  EXPECT_EQ(disconnects, std::vector<int>{kDisconnectTick});
  EXPECT_EQ(fake.CallCount("ReadLastInputTime"), 31);
  EXPECT_EQ(fake.FailedCallCount("ReadLastInputTime"), GetParam().readingFails ? 31 : 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, NoInputTest,
                         ::testing::Values(ExpiryCase{"ReadingSucceeds", false},
                                           ExpiryCase{"ReadingFails", true}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// --- The wrap of the tick count ---------------------------------------------------

struct WrapCase {
  const char* name;
  std::uint32_t before;
  std::uint32_t after;
  bool isInput;
};

void PrintTo(const WrapCase& c, std::ostream* os) { *os << c.name; }

class TickCountTest : public LastInputTest, public ::testing::WithParamInterface<WrapCase> {};

TEST_P(TickCountTest, AnyChangeIsInputAndNoChangeIsNone) {
  const WrapCase& c = GetParam();
  TsPolicy(kMaxIdleTime, kIdleLimitMs);
  fake.lastInputTime = c.before;
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  Ticks(5);
  ASSERT_EQ(CountOf(TimerSlot::ActiveButIdle), 5u);

  fake.lastInputTime = c.after;
  Ticks(1);

  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), c.isInput ? 1u : 6u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TickCountTest,
    ::testing::Values(WrapCase{"AcrossTheWrap", 0xFFFFFFF0, 0x00000010, true},
                      WrapCase{"OntoTheWrap", 0xFFFFFFFF, 0x00000000, true},
                      WrapCase{"OneMillisecondLater", 0x00010000, 0x00010001, true},
                      // Not a later time by the numbers, still a change.
                      WrapCase{"SmallerNumber", 0x00000010, 0xFFFFFFF0, true},
                      WrapCase{"UnchangedAtTheTop", 0xFFFFFFF0, 0xFFFFFFF0, false},
                      WrapCase{"UnchangedAtZero", 0, 0, false}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// --- A failed reading -----------------------------------------------------------

struct FailureCase {
  const char* name;
  bool inputWhileFailing;
  bool inputAfterHealing;
  std::uint32_t countAfterHealing;  // after 3 good ticks, 4 failing and 1 healed
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class FailedReadingTest : public LastInputTest,
                          public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailedReadingTest, ChangesNothingAndTheLastGoodReadingStaysTheReference) {
  const FailureCase& c = GetParam();
  TraceOn();
  TsPolicy(kMaxIdleTime, kIdleLimitMs);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  Ticks(3);

  fake.Fail("ReadLastInputTime");
  if (c.inputWhileFailing) InputNoHookSees(fake);
  Ticks(4);
  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), 7u) << "counted on as without the reading";
  EXPECT_EQ(TraceCount(kLastInputResetTrace), 0);

  fake.Heal("ReadLastInputTime");
  if (c.inputAfterHealing) InputNoHookSees(fake);
  Ticks(1);
  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), c.countAfterHealing);
  const bool reset = c.countAfterHealing == 1;
  EXPECT_EQ(TraceCount(kLastInputResetTrace), reset ? 1 : 0);
  EXPECT_EQ(fake.FailedCallCount("ReadLastInputTime"), 4);
}

INSTANTIATE_TEST_SUITE_P(Cases, FailedReadingTest,
                         ::testing::Values(
                             // Compared with the reading before the failure, the input shows.
                             FailureCase{"InputWhileFailingCountsOnceHealed", true, false, 1},
                             FailureCase{"InputAfterHealingCounts", false, true, 1},
                             FailureCase{"NoInputCountsOn", false, false, 8}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(LastInputTest, WithoutAGoodFirstReadingTheFirstGoodOneOnlyBecomesTheReference) {
  TsPolicy(kMaxIdleTime, kIdleLimitMs);
  fake.Fail("ReadLastInputTime");
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  InputNoHookSees(fake);
  Ticks(2);
  fake.Heal("ReadLastInputTime");
  Ticks(1);
  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), 3u) << "nothing to compare the first one with";

  InputNoHookSees(fake);
  Ticks(1);
  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), 1u);
}

// --- The trace line ---------------------------------------------------------------

struct TraceCase {
  const char* name;
  bool hookInput;
  bool unhookedInput;
  int hookLines;
  int readingLines;
};

void PrintTo(const TraceCase& c, std::ostream* os) { *os << c.name; }

class ReadingTraceTest : public LastInputTest, public ::testing::WithParamInterface<TraceCase> {};

TEST_P(ReadingTraceTest, TheLineAppearsOnlyWhenTheReadingAndNoHookResets) {
  const TraceCase& c = GetParam();
  TraceOn();
  TsPolicy(kMaxIdleTime, kIdleLimitMs);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  Ticks(3);
  fake.ClearJournal();

  if (c.hookInput) fake.DeliverInput(HookKind::Keyboard);
  if (c.unhookedInput) InputNoHookSees(fake);
  Ticks(1);
  Ticks(2);  // and no input after it

  EXPECT_EQ(TraceCount(L"Keyboard timer reset"), c.hookLines);
  EXPECT_EQ(TraceCount(kLastInputResetTrace), c.readingLines);
  const bool reset = c.hookInput || c.unhookedInput;
  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), reset ? 3u : 6u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadingTraceTest,
    ::testing::Values(TraceCase{"HookInput", true, false, 1, 0},
                      TraceCase{"InputNoHookSaw", false, true, 0, 1},
                      // The hook has already reset the count; the reading adds nothing.
                      TraceCase{"HookInputAndInputNoHookSaw", true, true, 1, 0},
                      TraceCase{"NoInput", false, false, 0, 0}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(LastInputTest, TheLineIsTheOneTraceOfAReadingThatResets) {
  TraceOn();
  TsPolicy(kMaxIdleTime, kIdleLimitMs);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  fake.ClearJournal();

  InputNoHookSees(fake);
  Ticks(1);

  EXPECT_EQ(fake.TraceLines(),
            (Lines{L"Input seen by the session's last input time, idle timer reset", L"Tick"}))
      << "the reset comes before the idle timer's tick";
  EXPECT_TRUE(Actions().empty());
}

// --- When the reading is taken ------------------------------------------------------

struct ReadingCase {
  const char* name;
  std::uint32_t maxIdleTime;
  std::uint32_t idleTimerEnable;
  int readings;  // at start-up and over 5 ticks
};

void PrintTo(const ReadingCase& c, std::ostream* os) { *os << c.name; }

class WhenReadTest : public LastInputTest, public ::testing::WithParamInterface<ReadingCase> {};

TEST_P(WhenReadTest, OnlyWhileAnEnabledIdleTimerExists) {
  const ReadingCase& c = GetParam();
  TsPolicy(kMaxConnectionTime, 3600000);
  TsPolicy(kMaxIdleTime, c.maxIdleTime);
  ProductPolicy(kIdleTimerEnable, c.idleTimerEnable);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  Ticks(5);
  EXPECT_EQ(fake.CallCount("ReadLastInputTime"), c.readings);
}

INSTANTIATE_TEST_SUITE_P(Cases, WhenReadTest,
                         ::testing::Values(ReadingCase{"IdleLimitSet", kIdleLimitMs, 1, 6},
                                           ReadingCase{"NoIdleLimit", 0, 1, 0},
                                           ReadingCase{"IdleTimerSwitchedOff", kIdleLimitMs, 0, 0}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(LastInputTest, NotReadWhileDisconnectedAndReadAfreshAtTheConnection) {
  TsPolicy(kMaxIdleTime, kIdleLimitMs);
  TsPolicy(kMaxDisconnectionTime, 3600000);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  Ticks(2);
  timers.OnSessionChange(kWtsRemoteDisconnect);
  const int readsBefore = fake.CallCount("ReadLastInputTime");

  InputNoHookSees(fake);
  Ticks(5);
  EXPECT_EQ(fake.CallCount("ReadLastInputTime"), readsBefore) << "only the Disconnected timer";

  timers.OnSessionChange(kWtsRemoteConnect);
  EXPECT_EQ(fake.CallCount("ReadLastInputTime"), readsBefore + 1);
  TraceOn();
  Ticks(3);
  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), 3u) << "from the connection on";
  EXPECT_EQ(TraceCount(kLastInputResetTrace), 0) << "input before the connection is not new";
  InputNoHookSees(fake);
  Ticks(1);
  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), 1u);
}

TEST_F(LastInputTest, ARebuiltIdleTimerTakesItsOwnFirstReading) {
  TsPolicy(kMaxIdleTime, kIdleLimitMs);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  Ticks(2);
  InputNoHookSees(fake);
  TraceOn();
  TsPolicy(kMaxIdleTime, 2 * kIdleLimitMs);
  timers.OnPolicyChange();
  ASSERT_EQ(timers.Timer(TimerSlot::ActiveButIdle)->Limit(), 40u);
  Ticks(3);
  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), 3u);
  EXPECT_EQ(TraceCount(kLastInputResetTrace), 0) << "input before the rebuild is not new";
  InputNoHookSees(fake);
  Ticks(1);
  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), 1u);
}

TEST_F(LastInputTest, ARebuiltIdleTimerIsNeverComparedWithTheReadingOfTheOneBefore) {
  TsPolicy(kMaxIdleTime, kIdleLimitMs);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  Ticks(2);
  InputNoHookSees(fake);
  fake.Fail("ReadLastInputTime");
  TsPolicy(kMaxIdleTime, 2 * kIdleLimitMs);
  timers.OnPolicyChange();
  ASSERT_EQ(timers.Timer(TimerSlot::ActiveButIdle)->Limit(), 40u);
  Ticks(2);
  fake.Heal("ReadLastInputTime");
  Ticks(1);
  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), 3u)
      << "the new timer's first good reading only becomes its reference";
}

// A tick of the Active timer that shows its warning waits in StartThread;
// input that comes meanwhile counts before the idle timer ticks, as it would
// through a hook.
TEST_F(LastInputTest, InputWhileTheActiveTimersTickWaitsCountsBeforeTheIdleTimerTicks) {
  TsPolicy(kMaxConnectionTime, 150000);  // 5 ticks
  TsPolicy(kMaxIdleTime, kIdleLimitMs);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  Ticks(4);
  fake.ClearJournal();
  ASSERT_TRUE(fake.ReenterDuring("StartThread", [this] { InputNoHookSees(fake); }));

  Ticks(1);

  EXPECT_EQ(Actions(), Lines{kActiveBox});
  EXPECT_EQ(fake.PendingReentryCount(), 0u);
  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), 1u);
  EXPECT_EQ(CountOf(TimerSlot::Active), 5u);
}

TEST_F(LastInputTest, ReadingNeverReachesTheJournal) {
  TsPolicy(kMaxIdleTime, kIdleLimitMs);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  fake.ClearJournal();
  InputNoHookSees(fake);
  Ticks(3);
  EXPECT_TRUE(fake.Journal().empty()) << ::testing::PrintToString(fake.Journal());
  EXPECT_EQ(fake.CallCount("ReadLastInputTime"), 4);
}

// The fake's own rule: the system's last input time moves with every input
// it delivers, whether or not a hook is there to see it.
TEST(FakeLastInputTime, MovesWithEveryDeliveredInputHookedOrNot) {
  FakePlatform fake;
  std::uint32_t read = 0xAAAAAAAA;
  fake.lastInputTime = 0xFFFFFFFF;
  ASSERT_TRUE(fake.ReadLastInputTime(&read));
  EXPECT_EQ(read, 0xFFFFFFFFu);

  fake.DeliverInput(HookKind::Keyboard);
  ASSERT_TRUE(fake.ReadLastInputTime(&read));
  EXPECT_EQ(read, 0u) << "no hook installed, and it wraps";

  fake.InstallHook(
      HookKind::Mouse, [](void*, int, std::uintptr_t, std::intptr_t) -> std::intptr_t { return 0; },
      nullptr);
  fake.DeliverInput(HookKind::Mouse);
  ASSERT_TRUE(fake.ReadLastInputTime(&read));
  EXPECT_EQ(read, 1u);
}

}  // namespace
}  // namespace ravitor::testing
