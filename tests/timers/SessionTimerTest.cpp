// One timer: creation from policy and the tick arithmetic.
#include "timers/SessionTimer.h"

#include "CoreFixture.h"

namespace ravitor::testing {
namespace {

struct CreationCase {
  const char* name;
  const TimerDefinition* definition;
  std::optional<std::uint32_t> enable;
  std::optional<std::uint32_t> limitMs;
  std::uint32_t resetBroken;
  bool expectedEnabled;
  std::uint32_t expectedLimit;
  std::vector<std::wstring> expectedTrace;
  int expectedHooks;
};

void PrintTo(const CreationCase& c, std::ostream* os) { *os << c.name; }

class SessionTimerCreationTest : public CoreFixture,
                                 public ::testing::WithParamInterface<CreationCase> {};

TEST_P(SessionTimerCreationTest, BuildsTheTimerFromPolicy) {
  const CreationCase& c = GetParam();
  TraceOn();
  if (c.enable) ProductPolicy(c.definition->enableValueName, *c.enable);
  if (c.limitMs) TsPolicy(c.definition->limitValueName, *c.limitMs);
  TsPolicy(kResetBroken, c.resetBroken);
  TimerServices services{fake, trace, notifier, timers, nullptr, nullptr, nullptr};

  const auto timer = SessionTimer::Create(services, *c.definition);

  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->Enabled(), c.expectedEnabled);
  EXPECT_EQ(timer->Limit(), c.expectedLimit);
  EXPECT_EQ(timer->Count(), 0u);
  EXPECT_EQ(fake.TraceLines(), c.expectedTrace);
  EXPECT_EQ(fake.InstalledHookCount(HookKind::Keyboard), c.expectedHooks);
  EXPECT_EQ(fake.InstalledHookCount(HookKind::Mouse), c.expectedHooks);
}

const std::wstring kHooks = L"Is Active but idle timer, Setting keyboard and mouse hooks...";
const std::wstring kTerminate = L"Terminate session when time limit is reached is set";

INSTANTIATE_TEST_SUITE_P(
    Cases, SessionTimerCreationTest,
    ::testing::Values(
        CreationCase{
            "ActiveFromPolicy", &kActiveTimer, {}, 3600000, 0, true, 120, {L"Active timer Set"}, 0},
        CreationCase{"ActiveEndsSession",
                     &kActiveTimer,
                     1,
                     3600000,
                     1,
                     true,
                     120,
                     {L"Active timer Set", kTerminate},
                     0},
        CreationCase{"IdleInstallsHooks",
                     &kActiveButIdleTimer,
                     {},
                     600000,
                     0,
                     true,
                     20,
                     {L"ActiveButIdle timer set", kHooks},
                     1},
        CreationCase{"DisconnectedFromPolicy",
                     &kDisconnectedTimer,
                     {},
                     60000,
                     1,
                     true,
                     2,
                     {L"Disconnected timer set", kTerminate},
                     0},
        CreationCase{"LimitRoundsDownToOneTick",
                     &kActiveTimer,
                     {},
                     45000,
                     0,
                     true,
                     1,
                     {L"Active timer Set"},
                     0},
        CreationCase{"LimitBelowOneTickIsZeroTicks",
                     &kActiveTimer,
                     {},
                     20000,
                     0,
                     true,
                     0,
                     {L"Active timer Set"},
                     0},
        CreationCase{"EnableZeroKeepsMilliseconds",
                     &kActiveButIdleTimer,
                     0,
                     600000,
                     1,
                     false,
                     600000,
                     {},
                     0},
        CreationCase{"NoLimitIsDisabled", &kActiveTimer, 1, {}, 1, false, 0, {}, 0},
        CreationCase{"ZeroLimitIsDisabled", &kDisconnectedTimer, 1, 0, 0, false, 0, {}, 0}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct TickCase {
  const char* name;
  const TimerDefinition* definition;
  std::uint32_t limitMs;
  std::uint32_t resetBroken;
  int warningTick;  // 0: none
  int actionTick;   // 0: none within the ticks run
  bool logoff;
};

void PrintTo(const TickCase& c, std::ostream* os) { *os << c.name; }

class SessionTimerTickTest : public CoreFixture, public ::testing::WithParamInterface<TickCase> {};

TEST_P(SessionTimerTickTest, WarnsAtTheLimitAndActsFourTicksLater) {
  const TickCase& c = GetParam();
  TsPolicy(c.definition->limitValueName, c.limitMs);
  TsPolicy(kResetBroken, c.resetBroken);
  TimerServices services{fake, trace, notifier, timers, nullptr, nullptr, nullptr};
  const auto timer = SessionTimer::Create(services, *c.definition);

  int warnedAt = 0;
  int actedAt = 0;
  bool loggedOff = false;
  for (int tick = 1; tick <= 40; ++tick) {
    const std::size_t boxes = fake.JournalOf(L"MessageBox").size();
    const std::size_t disconnects = fake.JournalOf(L"DisconnectSession").size();
    const bool bLogoffNow = timer->Tick();
    if (fake.JournalOf(L"MessageBox").size() != boxes) warnedAt = warnedAt ? -1 : tick;
    if (bLogoffNow || fake.JournalOf(L"DisconnectSession").size() != disconnects) {
      actedAt = actedAt ? -1 : tick;
      loggedOff = bLogoffNow;
    }
  }
  EXPECT_EQ(warnedAt, c.warningTick) << "-1: warned more than once";
  EXPECT_EQ(actedAt, c.actionTick) << "-1: acted more than once";
  EXPECT_EQ(loggedOff, c.logoff);
  EXPECT_EQ(timer->Count(), 40u) << "the count keeps rising after the action";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SessionTimerTickTest,
    ::testing::Values(
        TickCase{"IdleDisconnects", &kActiveButIdleTimer, 600000, 0, 20, 24, false},
        TickCase{"IdleLogsOff", &kActiveButIdleTimer, 600000, 1, 20, 24, true},
        TickCase{"OneTickLimit", &kActiveTimer, 45000, 0, 1, 5, false},
        TickCase{"ZeroTickLimitActsWithoutWarning", &kActiveTimer, 20000, 1, 0, 4, true},
        TickCase{"DisconnectedLogsOffAtItsLimitWithoutWarning", &kDisconnectedTimer, 60000, 0, 0, 2,
                 true},
        TickCase{"DisconnectedWithZeroTicksNeverActs", &kDisconnectedTimer, 20000, 0, 0, 0, false}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(CoreFixture, DisabledTimerNeverTicks) {
  TraceOn();
  ProductPolicy(kConnectionTimerEnable, 0);
  TsPolicy(kMaxConnectionTime, 60000);
  TimerServices services{fake, trace, notifier, timers, nullptr, nullptr, nullptr};
  const auto timer = SessionTimer::Create(services, kActiveTimer);

  for (int tick = 0; tick < 10; ++tick) EXPECT_FALSE(timer->Tick());
  EXPECT_EQ(timer->Count(), 0u);
  EXPECT_TRUE(fake.TraceLines().empty());
  EXPECT_TRUE(fake.Journal().empty());
}

TEST_F(CoreFixture, DestroyingTheIdleTimerRemovesKeyboardThenMouseHook) {
  TsPolicy(kMaxIdleTime, 600000);
  TimerServices services{fake, trace, notifier, timers, nullptr, nullptr, nullptr};
  auto timer = SessionTimer::Create(services, kActiveButIdleTimer);
  fake.ClearJournal();
  timer.reset();

  EXPECT_EQ(fake.Journal(),
            (std::vector<std::wstring>{L"RemoveHook Keyboard", L"RemoveHook Mouse"}));
  EXPECT_EQ(fake.OpenHandleCount(), 0);
}

}  // namespace
}  // namespace ravitor::testing
