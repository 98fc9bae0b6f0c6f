// Policy-change notifications: which changes rebuild the timers.
#include "CoreFixture.h"

namespace ravitor::testing {
namespace {

class PolicyChangeTest : public CoreFixture {
 protected:
  int Rebuilds() const {
    return static_cast<int>(fake.JournalOf(L"Trace Destroying all timers").size());
  }
};

struct ChangeCase {
  const char* name;
  const wchar_t* key;
  const wchar_t* value;
  std::uint32_t before;
  std::uint32_t after;
  bool rebuilds;
};

void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.name; }

class PolicyChangeCaseTest : public PolicyChangeTest,
                             public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(PolicyChangeCaseTest, RebuildsOnlyWhenALimitChanges) {
  const ChangeCase& c = GetParam();
  TraceOn();
  TsPolicy(kMaxConnectionTime, 3600000);
  TsPolicy(kMaxIdleTime, 600000);
  TsPolicy(kMaxDisconnectionTime, 300000);
  fake.SetDword(Hive::LocalMachine, c.key, c.value, c.before);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  Ticks(7);

  fake.SetDword(Hive::LocalMachine, c.key, c.value, c.after);
  timers.OnPolicyChange();

  EXPECT_EQ(Rebuilds(), c.rebuilds ? 1 : 0);
  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), c.rebuilds ? 0u : 7u);
  EXPECT_EQ(fake.JournalOf(L"Trace Policy change has been detected.").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PolicyChangeCaseTest,
    ::testing::Values(
        ChangeCase{"SameTickCount", kTerminalServicesPolicyKey, kMaxIdleTime, 600000, 610000,
                   false},
        ChangeCase{"OtherTickCount", kTerminalServicesPolicyKey, kMaxIdleTime, 600000, 630000,
                   true},
        ChangeCase{"ConnectionLimit", kTerminalServicesPolicyKey, kMaxConnectionTime, 3600000,
                   7200000, true},
        ChangeCase{"DisconnectionLimit", kTerminalServicesPolicyKey, kMaxDisconnectionTime, 300000,
                   0, true},
        // Below one tick the limit is 0 ticks: set to 0 the timer is off.
        ChangeCase{"SubTickIdleLimitSetToZero", kTerminalServicesPolicyKey, kMaxIdleTime, 20000, 0,
                   true},
        ChangeCase{"SubTickIdleLimitToAnotherBelowOneTick", kTerminalServicesPolicyKey,
                   kMaxIdleTime, 20000, 29999, false},
        ChangeCase{"ResetBrokenAlone", kTerminalServicesPolicyKey, kResetBroken, 0, 1, false},
        ChangeCase{"IdleSwitchedOffAlone", kProductPolicyKey, kIdleTimerEnable, 1, 0, false}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// A limit below one tick acts four ticks after every reset, without a
// warning; once the administrator removes it, the session is left alone.
TEST_F(PolicyChangeTest, RemovingALimitBelowOneTickStopsTheDisconnects) {
  TsPolicy(kMaxIdleTime, 20000);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  Ticks(4);
  ASSERT_EQ(Actions(), (std::vector<std::wstring>{L"ReportEvent 4 1 119", L"DisconnectSession"}));

  fake.DeleteValue(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxIdleTime);
  timers.OnPolicyChange();
  timers.OnSessionChange(3);  // the user reconnects
  fake.ClearJournal();
  Ticks(40);

  EXPECT_EQ(Actions(), std::vector<std::wstring>{});
  EXPECT_FALSE(timers.Timer(TimerSlot::ActiveButIdle)->Enabled());
  EXPECT_EQ(fake.InstalledHookCount(HookKind::Keyboard), 0);
}

TEST_F(PolicyChangeTest, RebuildTracesAndReinitializesInOrder) {
  TraceOn();
  TsPolicy(kMaxIdleTime, 600000);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  TsPolicy(kMaxIdleTime, 900000);
  fake.ClearJournal();
  timers.OnPolicyChange();

  const std::vector<std::wstring> expectedStart = {
      L"Trace Policy change has been detected.",
      L"Trace Session Timer policy change has been detected, stopping timers and re-initializing "
      L"app",
      L"Trace Destroying all timers",
      L"StopWindowTimer 0x42 151",
      L"UnregisterSessionNotification 0x42",
      L"RemoveHook Keyboard",
      L"RemoveHook Mouse",
      L"Trace Initializing all timers",
      L"RegisterSessionNotification 0x42",
      L"StartWindowTimer 0x42 151 30000"};
  ASSERT_GE(fake.Journal().size(), expectedStart.size());
  EXPECT_EQ(std::vector<std::wstring>(fake.Journal().begin(), fake.Journal().begin() + 10),
            expectedStart);
  EXPECT_EQ(timers.Timer(TimerSlot::ActiveButIdle)->Limit(), 30u);
  EXPECT_EQ(fake.InstalledHookCount(HookKind::Keyboard), 1);
}

// A timer switched off by its enable value while its limit policy is set
// must not rebuild the set at every Group Policy refresh, or nobody's idle
// or connection limit would ever be reached.
TEST_F(PolicyChangeTest, DisabledTimerWithUnchangedPolicyDoesNotRebuild) {
  ProductPolicy(kConnectionTimerEnable, 0);
  TsPolicy(kMaxConnectionTime, 3600000);
  TsPolicy(kMaxIdleTime, 600000);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  fake.ClearJournal();

  for (int refresh = 0; refresh < 30; ++refresh) {
    Ticks(1);
    timers.OnPolicyChange();
  }
  EXPECT_EQ(Rebuilds(), 0);
  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), 30u);
  EXPECT_EQ(Actions(), (std::vector<std::wstring>{
                           L"MessageBox RAVITOR: Idle timer expired | 0x50010",
                           L"SendMessageTimeout RAVITOR: Idle timer expired 0x10 0 0 0 100",
                           L"ReportEvent 4 1 119", L"DisconnectSession"}))
      << "the idle limit is still enforced";
}

TEST_F(PolicyChangeTest, DisabledTimerIsPickedUpWhenItWouldNowBeEnabled) {
  struct Case {
    const char* name;
    std::uint32_t enableBefore;
    std::uint32_t limitBefore;
    std::uint32_t enableAfter;
    std::uint32_t limitAfter;
    bool rebuilds;
  };
  for (const Case& c :
       {Case{"switched on", 0, 3600000, 1, 3600000, true},
        Case{"limit set", 1, 0, 1, 3600000, true},
        Case{"limit changed while off", 0, 3600000, 0, 7200000, true},
        Case{"limit removed while off", 0, 3600000, 0, 0, true},
        Case{"still off", 0, 3600000, 0, 3600000, false}, Case{"still no limit", 1, 0, 1, 0, false},
        Case{"switched on without limit", 0, 0, 1, 0, false}}) {
    FakePlatform local;
    DebugTrace localTrace(local);
    localTrace.Configure(Hive::LocalMachine, kTraceSwitchKey);
    local.CreateRegistryKey(Hive::LocalMachine, kTraceSwitchKey);
    Notifier localNotifier(local, kApplicationName);
    TimerSet set(local, localTrace, localNotifier, kApplicationName);
    local.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxIdleTime, 600000);
    local.SetDword(Hive::LocalMachine, kProductPolicyKey, kConnectionTimerEnable, c.enableBefore);
    local.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxConnectionTime,
                   c.limitBefore);
    ASSERT_TRUE(set.InitializeAllTimers(kAppWindow)) << c.name;

    local.SetDword(Hive::LocalMachine, kProductPolicyKey, kConnectionTimerEnable, c.enableAfter);
    local.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxConnectionTime,
                   c.limitAfter);
    set.OnPolicyChange();

    EXPECT_EQ(local.JournalOf(L"Trace Destroying all timers").size(), c.rebuilds ? 1u : 0u)
        << c.name;
    EXPECT_EQ(set.Timer(TimerSlot::Active)->Enabled(), c.enableAfter == 1 && c.limitAfter > 0)
        << c.name;
  }
}

TEST_F(PolicyChangeTest, RebuildWhileDisconnectedTicksOnlyTheNewDisconnectedTimer) {
  TsPolicy(kMaxIdleTime, 600000);
  TsPolicy(kMaxDisconnectionTime, 300000);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  timers.OnSessionChange(4);
  Ticks(3);
  TsPolicy(kMaxDisconnectionTime, 150000);
  timers.OnPolicyChange();
  fake.ClearJournal();

  EXPECT_TRUE(timers.Disconnected());
  Ticks(4);
  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), 0u);
  EXPECT_TRUE(Actions().empty());
  Ticks(1);
  EXPECT_EQ(Actions(), (std::vector<std::wstring>{L"ReportEvent 4 1 118", L"LogoffSession"}));
}

TEST_F(PolicyChangeTest, MasterSwitchOffAtARebuildLeavesTheSetEmptyForGood) {
  TsPolicy(kMaxIdleTime, 600000);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  ProductPolicy(kRunRAVITOR, 0);
  TsPolicy(kMaxIdleTime, 900000);
  timers.OnPolicyChange();

  EXPECT_EQ(timers.Timer(TimerSlot::ActiveButIdle), nullptr);
  EXPECT_EQ(fake.OpenHandleCount(), 0) << "hooks gone with the idle timer";
  ProductPolicy(kRunRAVITOR, 1);
  timers.OnPolicyChange();
  Ticks(40);
  EXPECT_EQ(timers.Timer(TimerSlot::ActiveButIdle), nullptr) << "nothing recreates the timers";
  EXPECT_TRUE(Actions().empty());
}

}  // namespace
}  // namespace ravitor::testing
