// The timer set driven like a session: ticks, session changes and input.
#include "timers/TimerSet.h"

#include "CoreFixture.h"

namespace ravitor::testing {
namespace {

const std::wstring kCloseIdleBox = L"SendMessageTimeout RAVITOR: Idle timer expired 0x10 0 0 0 100";
const std::wstring kCloseActiveBox =
    L"SendMessageTimeout RAVITOR: Logon timer expired 0x10 0 0 0 100";

using Lines = std::vector<std::wstring>;

class TimerSetTest : public CoreFixture {};

TEST_F(TimerSetTest, InitializationBindsTheWindowCreatesTimersAndRegistersTheSource) {
  TraceOn();
  TsPolicy(kMaxIdleTime, 600000);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));

  EXPECT_EQ(fake.Journal(),
            (Lines{L"Trace Initializing all timers", L"RegisterSessionNotification 0x42",
                   L"StartWindowTimer 0x42 151 30000", L"Trace ActiveButIdle timer set",
                   L"Trace Is Active but idle timer, Setting keyboard and mouse hooks...",
                   L"InstallHook Keyboard", L"InstallHook Mouse", L"TrimWorkingSet",
                   L"CreateKey HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"
                   L"Tolvex Pellan Session Timers",
                   L"SetValue EventMessageFile", L"SetValue TypesSupported",
                   L"SetValue CategoryMessageFile", L"SetValue CategoryCount"}));
  EXPECT_FALSE(timers.Timer(TimerSlot::Active)->Enabled());
  EXPECT_TRUE(timers.Timer(TimerSlot::ActiveButIdle)->Enabled());
  EXPECT_FALSE(timers.Timer(TimerSlot::Disconnected)->Enabled());
}

TEST_F(TimerSetTest, NothingToDoWhenTheMasterSwitchIsOffOrNoTimerIsEnabled) {
  struct Case {
    const char* name;
    std::uint32_t run;
    std::uint32_t maxIdleTime;
    bool expectTimers;
  };
  for (const Case& c :
       {Case{"master switch off", 0, 600000, false}, Case{"no limit set", 1, 0, true}}) {
    FakePlatform local;
    DebugTrace localTrace(local);
    Notifier localNotifier(local, kApplicationName);
    TimerSet set(local, localTrace, localNotifier, kApplicationName);
    local.SetDword(Hive::LocalMachine, kProductPolicyKey, kRunRAVITOR, c.run);
    local.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxIdleTime, c.maxIdleTime);

    EXPECT_FALSE(set.InitializeAllTimers(kAppWindow)) << c.name;
    EXPECT_EQ(set.Timer(TimerSlot::ActiveButIdle) != nullptr, c.expectTimers) << c.name;
    EXPECT_EQ(local.JournalOf(L"StartWindowTimer").size(), 1u) << "tick timer stays: " << c.name;
    EXPECT_EQ(local.CallCount("CreateKey"), 0) << "no source registered: " << c.name;
  }
}

TEST_F(TimerSetTest, RoadOfOneIdleSession) {
  TraceOn();
  TsPolicy(kMaxIdleTime, 600000);
  TsPolicy(kMaxDisconnectionTime, 120000);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  fake.ClearJournal();

  Ticks(19);
  EXPECT_TRUE(Actions().empty());
  Ticks(1);
  EXPECT_EQ(Actions(), Lines{kIdleBox});
  ASSERT_EQ(fake.OpenBoxes().size(), 1u);
  EXPECT_NE(fake.OpenBoxes()[0].text.find(L"It will be disconnected in 2 minutes."),
            std::wstring::npos);
  Ticks(3);
  EXPECT_EQ(Actions(), Lines{kIdleBox});

  fake.ClearJournal();
  Ticks(1);
  EXPECT_EQ(fake.TraceLines(), (Lines{L"Tick", L"Time has expired, disconnecting Session now"}));
  EXPECT_EQ(Actions(), (Lines{kCloseIdleBox, L"ReportEvent 4 1 119", L"DisconnectSession"}));
  EXPECT_TRUE(fake.OpenBoxes().empty());

  fake.ClearJournal();
  timers.OnSessionChange(4);  // the platform's own notification of the disconnect
  Ticks(3);
  EXPECT_TRUE(Actions().empty());
  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), 24u) << "connected timers rest while disconnected";
  Ticks(1);
  EXPECT_EQ(Actions(), (Lines{L"ReportEvent 4 1 118", L"LogoffSession"}));
  EXPECT_EQ(fake.TraceLines(),
            (Lines{L"WTS Disconnect message detected, reseting disconnect timer", L"Tick", L"Tick",
                   L"Tick", L"Tick",
                   L"Time has expired, setting bLogoffNow to true, session will be terminated.",
                   L"Destroying all timers", L"Logging off now..."}));
  EXPECT_EQ(timers.Timer(TimerSlot::ActiveButIdle), nullptr);
  EXPECT_EQ(fake.OpenHandleCount(), 0) << "hooks removed with the timers";
}

TEST_F(TimerSetTest, ConnectionTimeLogoff) {
  TsPolicy(kMaxConnectionTime, 3600000);
  TsPolicy(kResetBroken, 1);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  fake.ClearJournal();

  Ticks(120);
  ASSERT_EQ(Actions(), Lines{kActiveBox});
  EXPECT_NE(fake.OpenBoxes()[0].text.find(L"Logoff will start in 2 minutes."), std::wstring::npos);
  Ticks(4);

  EXPECT_EQ(Actions(),
            (Lines{kActiveBox, kCloseActiveBox, L"ReportEvent 4 1 118", L"LogoffSession"}));
  EXPECT_EQ(fake.JournalOf(L"StopWindowTimer"), Lines{L"StopWindowTimer 0x42 151"});
  EXPECT_EQ(fake.JournalOf(L"UnregisterSessionNotification"),
            Lines{L"UnregisterSessionNotification 0x42"});
}

TEST_F(TimerSetTest, AfterTheLogoffNothingTouchesTheEmptySet) {
  TsPolicy(kMaxConnectionTime, 60000);
  TsPolicy(kResetBroken, 1);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  Ticks(6);
  fake.ClearJournal();

  Ticks(50);
  timers.OnSessionChange(3);
  timers.OnSessionChange(2);
  timers.OnPolicyChange();
  EXPECT_EQ(fake.DeliverInput(HookKind::Keyboard), 0);

  EXPECT_TRUE(Actions().empty());
  EXPECT_TRUE(timers.Disconnected()) << "the flag is still kept up to date";
  EXPECT_EQ(timers.Timer(TimerSlot::Active), nullptr);
}

TEST_F(TimerSetTest, TwoWarningsAndTwoActionsInOneTick) {
  TsPolicy(kMaxConnectionTime, 600000);
  TsPolicy(kMaxIdleTime, 600000);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  fake.ClearJournal();

  Ticks(20);
  EXPECT_EQ(Actions(), (Lines{kActiveBox, kIdleBox}));
  Ticks(4);
  // The Active timer's sweep closes both boxes; the idle timer's finds none.
  EXPECT_EQ(Actions(),
            (Lines{kActiveBox, kIdleBox, kCloseActiveBox, kCloseIdleBox, L"ReportEvent 4 1 119",
                   L"DisconnectSession", L"ReportEvent 4 1 119", L"DisconnectSession"}));
}

TEST_F(TimerSetTest, InputResetsOnlyTheIdleCountAndIsPassedOn) {
  TraceOn();
  TsPolicy(kMaxConnectionTime, 3600000);
  TsPolicy(kMaxIdleTime, 600000);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  Ticks(15);
  fake.nextHookResult = 1;
  fake.ClearJournal();

  EXPECT_EQ(fake.DeliverInput(HookKind::Keyboard, 0, 0x100, 77), 1);
  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), 0u);
  Ticks(3);
  EXPECT_EQ(fake.DeliverInput(HookKind::Mouse, 0, 0x200, 5), 1);

  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), 0u);
  EXPECT_EQ(CountOf(TimerSlot::Active), 18u);
  EXPECT_EQ(fake.JournalOf(L"Trace Keyboard"), Lines{L"Trace Keyboard timer reset"});
  EXPECT_EQ(fake.JournalOf(L"Trace Mouse"), Lines{L"Trace Mouse timer reset"});
  EXPECT_EQ(fake.JournalOf(L"CallNextHook"),
            (Lines{L"CallNextHook 0 0x100 77", L"CallNextHook 0 0x200 5"}));
}

TEST_F(TimerSetTest, InputAfterTheWarningKeepsTheBoxAndRestartsTheCount) {
  TsPolicy(kMaxIdleTime, 600000);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  Ticks(21);
  fake.DeliverInput(HookKind::Mouse);
  fake.ClearJournal();

  Ticks(19);
  EXPECT_TRUE(Actions().empty());
  EXPECT_EQ(fake.OpenBoxes().size(), 1u) << "the user closes the old box";
  Ticks(1);
  EXPECT_EQ(Actions(), Lines{kIdleBox}) << "a later warning is shown again";
}

TEST_F(TimerSetTest, SessionChangesSwitchWhichTimersCount) {
  TsPolicy(kMaxConnectionTime, 3600000);
  TsPolicy(kMaxIdleTime, 3600000);
  TsPolicy(kMaxDisconnectionTime, 3600000);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  Ticks(5);

  for (const std::uint32_t code : {0u, 5u, 6u, 7u, 8u, 9u, 10u}) timers.OnSessionChange(code);
  Ticks(1, 150);
  Ticks(1, 0);
  EXPECT_EQ(CountOf(TimerSlot::Active), 5u) << "other codes and timer ids change nothing";
  EXPECT_FALSE(timers.Disconnected());

  timers.OnSessionChange(2);
  Ticks(3);
  EXPECT_TRUE(timers.Disconnected());
  EXPECT_EQ(CountOf(TimerSlot::Active), 5u);
  EXPECT_EQ(CountOf(TimerSlot::Disconnected), 3u);

  timers.OnSessionChange(3);
  Ticks(2);
  EXPECT_EQ(CountOf(TimerSlot::Active), 2u) << "reconnect starts the connected timers from 0";
  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), 2u);
  EXPECT_EQ(CountOf(TimerSlot::Disconnected), 3u);

  timers.OnSessionChange(4);
  EXPECT_EQ(CountOf(TimerSlot::Disconnected), 0u) << "each disconnect restarts the count";
  timers.OnSessionChange(1);
  EXPECT_FALSE(timers.Disconnected());
  EXPECT_EQ(fake.JournalOf(L"TrimWorkingSet").size(), 3u) << "at start and at each disconnect";
}

}  // namespace
}  // namespace ravitor::testing
