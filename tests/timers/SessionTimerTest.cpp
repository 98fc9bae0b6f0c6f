// One timer: creation from policy, the tick arithmetic and what it decides.
#include "timers/SessionTimer.h"

#include "CoreFixture.h"

namespace ravitor::testing {
namespace {

const TimerDefinition& kActiveTimer = kTimerDefinitions[0];
const TimerDefinition& kActiveButIdleTimer = kTimerDefinitions[1];
const TimerDefinition& kDisconnectedTimer = kTimerDefinitions[2];

struct CreationCase {
  const char* name;
  const TimerDefinition* definition;
  std::optional<std::uint32_t> enable;
  std::optional<std::uint32_t> limitMs;
  std::uint32_t resetBroken;
  bool expectedEnabled;
  std::uint32_t expectedLimit;
  std::vector<std::wstring> expectedTrace;
};

void PrintTo(const CreationCase& c, std::ostream* os) { *os << c.name; }

class SessionTimerCreationTest : public CoreFixture,
                                 public ::testing::WithParamInterface<CreationCase> {};

TEST_P(SessionTimerCreationTest, BuildsTheTimerFromPolicy) {
  const CreationCase& c = GetParam();
  TraceOn();
  if (c.enable) ProductPolicy(c.definition->limit->enableValue->name, *c.enable);
  if (c.limitMs) TsPolicy(c.definition->limit->limitValue->name, *c.limitMs);
  TsPolicy(kResetBroken, c.resetBroken);

  const auto timer = SessionTimer::Create(fake, trace, *c.definition);

  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->Enabled(), c.expectedEnabled);
  EXPECT_EQ(timer->Limit(), c.expectedLimit);
  EXPECT_EQ(timer->Count(), 0u);
  EXPECT_EQ(fake.TraceLines(), c.expectedTrace);
  EXPECT_EQ(fake.InstalledHookCount(HookKind::Keyboard), 0) << "the set installs the hooks";
}

const std::wstring kTerminate = L"Terminate session when time limit is reached is set";

INSTANTIATE_TEST_SUITE_P(
    Cases, SessionTimerCreationTest,
    ::testing::Values(
        CreationCase{
            "ActiveFromPolicy", &kActiveTimer, {}, 3600000, 0, true, 120, {L"Active timer Set"}},
        CreationCase{"ActiveEndsSession",
                     &kActiveTimer,
                     1,
                     3600000,
                     1,
                     true,
                     120,
                     {L"Active timer Set", kTerminate}},
        CreationCase{"IdleFromPolicy",
                     &kActiveButIdleTimer,
                     {},
                     600000,
                     0,
                     true,
                     20,
                     {L"ActiveButIdle timer set"}},
        CreationCase{"DisconnectedFromPolicy",
                     &kDisconnectedTimer,
                     {},
                     60000,
                     1,
                     true,
                     2,
                     {L"Disconnected timer set", kTerminate}},
        CreationCase{"LimitRoundsDownToOneTick",
                     &kActiveTimer,
                     {},
                     45000,
                     0,
                     true,
                     1,
                     {L"Active timer Set"}},
        CreationCase{"LimitBelowOneTickIsZeroTicks",
                     &kActiveTimer,
                     {},
                     20000,
                     0,
                     true,
                     0,
                     {L"Active timer Set"}},
        CreationCase{
            "EnableZeroKeepsMilliseconds", &kActiveButIdleTimer, 0, 600000, 1, false, 600000, {}},
        CreationCase{"NoLimitIsDisabled", &kActiveTimer, 1, {}, 1, false, 0, {}},
        CreationCase{"ZeroLimitIsDisabled", &kDisconnectedTimer, 1, 0, 0, false, 0, {}}),
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
  TsPolicy(c.definition->limit->limitValue->name, c.limitMs);
  TsPolicy(kResetBroken, c.resetBroken);
  const auto timer = SessionTimer::Create(fake, trace, *c.definition);

  int warnedAt = 0;
  int actedAt = 0;
  bool loggedOff = false;
  for (int tick = 1; tick <= 40; ++tick) {
    switch (timer->Tick()) {
      case TickOutcome::Nothing:
        break;
      case TickOutcome::Warn:
        warnedAt = warnedAt ? -1 : tick;
        break;
      case TickOutcome::Expire:
        actedAt = actedAt ? -1 : tick;
        loggedOff = timer->Expire() == ExpiryAction::LogOff;
        break;
    }
  }
  EXPECT_EQ(warnedAt, c.warningTick) << "-1: warned more than once";
  EXPECT_EQ(actedAt, c.actionTick) << "-1: acted more than once";
  EXPECT_EQ(loggedOff, c.logoff);
  EXPECT_EQ(timer->Count(), 40u) << "the count keeps rising after the action";
  EXPECT_TRUE(fake.Journal().empty()) << "a timer decides; it asks the system for nothing";
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

struct WarningCase {
  const char* name;
  const TimerDefinition* definition;
  std::uint32_t resetBroken;
  std::uint32_t expectedTextId;
  const wchar_t* expectedTrace;
};

void PrintTo(const WarningCase& c, std::ostream* os) { *os << c.name; }

class SessionTimerWarningTest : public CoreFixture,
                                public ::testing::WithParamInterface<WarningCase> {};

TEST_P(SessionTimerWarningTest, WarnsOfTheActionItWillTake) {
  const WarningCase& c = GetParam();
  TraceOn();
  TsPolicy(c.definition->limit->limitValue->name, 30000);
  TsPolicy(kResetBroken, c.resetBroken);
  const auto timer = SessionTimer::Create(fake, trace, *c.definition);
  fake.ClearJournal();

  ASSERT_EQ(timer->Tick(), TickOutcome::Warn);
  EXPECT_EQ(timer->WarningTextId(), c.expectedTextId);
  EXPECT_EQ(timer->Kind(), c.definition->kind) << "the caption";
  EXPECT_EQ(fake.TraceLines(), (std::vector<std::wstring>{L"Tick", c.expectedTrace}));
}

INSTANTIATE_TEST_SUITE_P(Cases, SessionTimerWarningTest,
                         ::testing::Values(WarningCase{"ActiveDisconnect", &kActiveTimer, 0, 113,
                                                       L"Disconnect timer is Near Expiring"},
                                           WarningCase{"ActiveLogoff", &kActiveTimer, 1, 112,
                                                       L"Logoff Timer is Near Expiring"},
                                           WarningCase{"IdleDisconnect", &kActiveButIdleTimer, 0,
                                                       116, L"Disconnect timer is Near Expiring"},
                                           WarningCase{"IdleLogoff", &kActiveButIdleTimer, 1, 115,
                                                       L"Logoff Timer is Near Expiring"}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(CoreFixture, DisabledTimerNeverTicks) {
  TraceOn();
  ProductPolicy(kConnectionTimerEnable, 0);
  TsPolicy(kMaxConnectionTime, 60000);
  const auto timer = SessionTimer::Create(fake, trace, kActiveTimer);

  for (int tick = 0; tick < 10; ++tick) EXPECT_EQ(timer->Tick(), TickOutcome::Nothing);
  EXPECT_EQ(timer->Count(), 0u);
  EXPECT_TRUE(fake.TraceLines().empty());
  EXPECT_TRUE(fake.Journal().empty());
}

TEST_F(CoreFixture, DestroyingTheTimersRemovesKeyboardThenMouseHook) {
  TsPolicy(kMaxIdleTime, 600000);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  fake.ClearJournal();
  timers.DestroyAllTimers();

  EXPECT_EQ(fake.JournalOf(L"RemoveHook"),
            (std::vector<std::wstring>{L"RemoveHook Keyboard", L"RemoveHook Mouse"}));
  EXPECT_EQ(fake.OpenHandleCount(), 0);
}

}  // namespace
}  // namespace ravitor::testing
