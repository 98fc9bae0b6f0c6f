// The shell's start-up checks and its table of window messages.
#include "app/Application.h"

#include <gtest/gtest.h>

#include <memory>

#include "fake/FakePlatform.h"
#include "settings/PolicyNames.h"

namespace ravitor::testing {
namespace {

using Lines = std::vector<std::wstring>;

class ApplicationTest : public ::testing::Test {
 protected:
  ApplicationTest() {
    fake.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxIdleTime, 600000);
  }
  void TraceOn() { fake.CreateRegistryKey(Hive::LocalMachine, kTraceSwitchKey); }

  FakePlatform fake;
  Application app{fake, L"Tolvex Pellan Session Timers", L"Tolvex Pellan Session Timers"};
};

TEST_F(ApplicationTest, StartsUpCreatesTheHiddenWindowAndBindsTheTimersToIt) {
  TraceOn();
  ASSERT_TRUE(app.RunStartupSequence());

  const Lines expectedStart = {
      L"CreateNamedMutex Local\\Tolvex Pellan Session Timers",
      L"Trace Debugger activated",
      L"CreateApplicationWindow Tolvex Pellan Session Timers | Tolvex Pellan Session Timers",
      L"Trace Initializing all timers",
      L"RegisterSessionNotification 0x42",
      L"StartWindowTimer 0x42 151 30000"};
  ASSERT_GE(fake.Journal().size(), expectedStart.size());
  EXPECT_EQ(Lines(fake.Journal().begin(), fake.Journal().begin() + 6), expectedStart);
  EXPECT_EQ(fake.JournalOf(L"OpenEventSource"), Lines{});
  EXPECT_EQ(fake.JournalOf(L"CreateKey"),
            Lines{L"CreateKey HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"
                  L"Tolvex Pellan Session Timers"})
      << "the class name is the event-log source name";
}

struct StartupCase {
  const char* name;
  std::uint32_t consoleSession;
  bool traceSwitch;
  std::uint32_t runRavitor;
  bool windowFails;
  bool expectedResult;
  bool expectWindow;
  Lines expectedTrace;
};

void PrintTo(const StartupCase& c, std::ostream* os) { *os << c.name; }

class StartupCaseTest : public ApplicationTest,
                        public ::testing::WithParamInterface<StartupCase> {};

TEST_P(StartupCaseTest, DecidesWhetherThereIsWorkToDo) {
  const StartupCase& c = GetParam();
  fake.consoleSessionId = c.consoleSession;
  if (c.traceSwitch) TraceOn();
  fake.SetDword(Hive::LocalMachine, kProductPolicyKey, kRunRAVITOR, c.runRavitor);
  if (c.windowFails) fake.Fail("CreateApplicationWindow");

  EXPECT_EQ(app.RunStartupSequence(), c.expectedResult);
  EXPECT_EQ(fake.CallCount("CreateApplicationWindow"), c.expectWindow ? 1 : 0);
  const Lines trace = fake.TraceLines();
  const auto shown = static_cast<std::ptrdiff_t>(std::min(trace.size(), c.expectedTrace.size()));
  EXPECT_EQ(Lines(trace.begin(), trace.begin() + shown), c.expectedTrace);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartupCaseTest,
    ::testing::Values(
        StartupCase{"ConsoleSessionZeroEndsSilently", 0, false, 1, false, false, false, {}},
        StartupCase{"ConsoleSessionZeroWithTraceSwitchCarriesOn",
                    0,
                    true,
                    1,
                    false,
                    true,
                    true,
                    {L"Debugger activated", L"Local session detected", L"Initializing all timers"}},
        StartupCase{"RemoteConsoleSession",
                    1,
                    true,
                    1,
                    false,
                    true,
                    true,
                    {L"Debugger activated", L"Initializing all timers"}},
        StartupCase{"MasterSwitchOff",
                    1,
                    true,
                    0,
                    false,
                    false,
                    true,
                    {L"Debugger activated", L"Initializing all timers"}},
        StartupCase{"WindowCreationFails", 1, true, 1, true, false, true, {L"Debugger activated"}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// --- One copy per session -------------------------------------------------

// One process of the program: its own platform view of a machine whose named
// objects it shares with the other processes.
struct Copy {
  Copy(const std::shared_ptr<FakeNamedObjects>& machine, std::uint32_t session) {
    fake.namedObjects = machine;
    fake.sessionId = session;
    fake.CreateRegistryKey(Hive::LocalMachine, kTraceSwitchKey);
    fake.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxIdleTime, 600000);
  }
  FakePlatform fake;
  Application app{fake, L"Tolvex Pellan Session Timers", L"Tolvex Pellan Session Timers"};
};

TEST(OneCopyPerSession, ASecondCopyInTheSameSessionEndsBeforeItDoesAnything) {
  const auto machine = std::make_shared<FakeNamedObjects>();
  Copy first(machine, 1);
  ASSERT_TRUE(first.app.RunStartupSequence());

  Copy second(machine, 1);
  EXPECT_FALSE(second.app.RunStartupSequence()) << "exit code 0, as for nothing to do";
  // No window, no policy read, no timer: only the one line.
  EXPECT_EQ(second.fake.TraceLines(),
            Lines{L"Another instance is already running in this session, exiting"});
  EXPECT_EQ(second.fake.CallCount("CreateApplicationWindow"), 0);
  EXPECT_EQ(second.fake.CallCount("StartWindowTimer"), 0);
  EXPECT_EQ(second.fake.CallCount("InstallHook"), 0);
  EXPECT_EQ(second.fake.CallCount("QueryValue"), 0) << "no policy value read";
  EXPECT_EQ(second.fake.CallCount("ActiveConsoleSessionId"), 0);

  Copy otherSession(machine, 2);
  EXPECT_TRUE(otherSession.app.RunStartupSequence()) << "each session has its own copy";
}

TEST(OneCopyPerSession, TheMutexIsHeldForTheLifeOfTheProcess) {
  const auto machine = std::make_shared<FakeNamedObjects>();
  {
    Copy first(machine, 1);
    ASSERT_TRUE(first.app.RunStartupSequence());
    EXPECT_EQ(first.fake.OpenMutexNames(), Lines{L"Sessions\\1\\Tolvex Pellan Session Timers"});
    // A whole session's worth of messages leaves it held.
    first.app.WindowProcedure(first.fake.applicationWindow, 0x0016, 0, 0);
    first.app.WindowProcedure(first.fake.applicationWindow, 0x0113, 151, 0);
    EXPECT_EQ(first.fake.OpenMutexNames().size(), 1u);
  }
  EXPECT_TRUE(machine->openHandles.empty()) << "given back when the process ends";
  Copy next(machine, 1);
  EXPECT_TRUE(next.app.RunStartupSequence()) << "a copy started after the first has ended runs";
}

TEST(OneCopyPerSession, AMutexThatCannotBeHadDoesNotStopEnforcement) {
  const auto machine = std::make_shared<FakeNamedObjects>();
  Copy copy(machine, 1);
  copy.fake.Fail("CreateNamedMutex");
  EXPECT_TRUE(copy.app.RunStartupSequence());
  EXPECT_EQ(copy.fake.TraceLines().front(), L"Debugger activated");
}

struct MessageCase {
  const char* name;
  std::uint32_t message;
  std::uintptr_t wParam;
  const wchar_t* setting;  // lParam of WM_SETTINGCHANGE
  Lines expectedJournal;
  std::intptr_t expectedResult;
};

void PrintTo(const MessageCase& c, std::ostream* os) { *os << c.name; }

class WindowProcedureTest : public ApplicationTest,
                            public ::testing::WithParamInterface<MessageCase> {};

TEST_P(WindowProcedureTest, RoutesEachMessage) {
  const MessageCase& c = GetParam();
  ASSERT_TRUE(app.RunStartupSequence());
  TraceOn();
  fake.ClearJournal();

  const auto lParam = reinterpret_cast<std::intptr_t>(c.setting);
  EXPECT_EQ(app.WindowProcedure(fake.applicationWindow, c.message, c.wParam, lParam),
            c.expectedResult);
  EXPECT_EQ(fake.Journal(), c.expectedJournal);
}

const std::wstring kPolicyTrace = L"Trace Policy change has been detected.";

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowProcedureTest,
    ::testing::Values(
        MessageCase{"DestroyPostsQuit", 0x0002, 0, nullptr, {L"PostQuit 0"}, 0},
        MessageCase{"PaintDrawsNothing", 0x000F, 0, nullptr, {L"PaintNothing 0x42"}, 0},
        MessageCase{
            "EndSessionEndsTheProgram", 0x0016, 1, nullptr, {L"DestroyApplicationWindow 0x42"}, 0},
        // The end was cancelled: the session goes on, and so do its limits.
        MessageCase{"CancelledEndSessionKeepsItRunning", 0x0016, 0, nullptr, {}, 0},
        MessageCase{"PolicySettingChange", 0x001A, 0, L"Policy", {kPolicyTrace}, 0},
        MessageCase{"PolicyInCapitals", 0x001A, 0, L"POLICY", {kPolicyTrace}, 0},
        MessageCase{"LongerSectionIgnored", 0x001A, 0, L"Policy2", {}, 0},
        MessageCase{"OtherSectionIgnored", 0x001A, 0, L"intl", {}, 0},
        MessageCase{"NoSectionIgnored", 0x001A, 0, nullptr, {}, 0},
        MessageCase{"FileExit", 0x0111, 105, nullptr, {L"DestroyApplicationWindow 0x42"}, 0},
        MessageCase{"FileExitFromAnAccelerator",
                    0x0111,
                    0x10069,
                    nullptr,
                    {L"DestroyApplicationWindow 0x42"},
                    0},
        MessageCase{"OtherCommand",
                    0x0111,
                    106,
                    nullptr,
                    {L"DefaultWindowProcedure 0x42 0x111 106 0"},
                    0x5A},
        MessageCase{"TickTimer", 0x0113, 151, nullptr, {L"Trace Tick"}, 0},
        MessageCase{"OtherTimer", 0x0113, 150, nullptr, {}, 0},
        MessageCase{"SessionDisconnect",
                    0x02B1,
                    4,
                    nullptr,
                    {L"Trace WTS Disconnect message detected, reseting disconnect timer",
                     L"TrimWorkingSet"},
                    0},
        MessageCase{"SessionLock", 0x02B1, 7, nullptr, {}, 0},
        MessageCase{"QueryEndSessionAllowsTheEnd",
                    0x0011,
                    0,
                    nullptr,
                    {L"DefaultWindowProcedure 0x42 0x11 0 0"},
                    0x5A},
        MessageCase{
            "AnyOtherMessage", 0x0001, 0, nullptr, {L"DefaultWindowProcedure 0x42 0x1 0 0"}, 0x5A}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace ravitor::testing
