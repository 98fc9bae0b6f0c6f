// Each platform operation, and all of them at once, failing along the road of
// one idle session and along a policy rebuild: the program says nothing about
// the failure, goes on enforcing what the failure leaves possible, and keeps
// nothing it could give back.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <set>

#include "faults/SessionRoad.h"
#include "timers/TimerSet.h"

namespace ravitor::testing {
namespace {

using Timeline = std::vector<std::wstring>;

// Faults injected by this test program, reported when it ends.
int faultsInjected = 0;

class FaultCount : public ::testing::Environment {
 public:
  void TearDown() override {
    std::cout << "[ faults   ] " << faultsInjected << " faults injected\n";
  }
};
const auto* const kFaultCount = ::testing::AddGlobalTestEnvironment(new FaultCount);

const std::wstring kBox = L"MessageBox RAVITOR: Idle timer expired | 0x50010";
const std::wstring kBoxWithoutTexts = L"MessageBox  | 0x50010";
const std::wstring kClose = L"SendMessageTimeout RAVITOR: Idle timer expired 0x10 0 0 0 100";
const std::wstring kEvent119 = L"ReportEvent 4 1 119";
const std::wstring kEvent118 = L"ReportEvent 4 1 118";
const std::wstring kDisconnect = L"DisconnectSession";
const std::wstring kLogoff = L"LogoffSession";

std::wstring At(int tick, const std::wstring& action) {
  return std::to_wstring(tick) + L" " + action;
}

// The idle session as it should go: box at tick 20, at tick 24 the sweep,
// event 119 and the disconnect; four ticks of the Disconnected timer later,
// event 118 and the log-off.
const Timeline kWholeIdleRoad = {At(20, kBox),        At(24, kClose),    At(24, kEvent119),
                                 At(24, kDisconnect), At(28, kEvent118), At(28, kLogoff)};
// After the rebuild at tick 6 the limit is 21 ticks from there; no
// disconnection limit is set.
const Timeline kRebuiltRoad = {At(26, kBox), At(30, kClose), At(30, kEvent119),
                               At(30, kDisconnect)};
// Without the rebuild the old limit of 20 ticks goes on.
const Timeline kOldLimitRoad = {At(20, kBox), At(24, kClose), At(24, kEvent119),
                                At(24, kDisconnect)};

const std::set<std::wstring> kProgramTraceLines = {
    L"Debugger activated",
    L"Local session detected",
    L"Initializing all timers",
    L"Active timer Set",
    L"ActiveButIdle timer set",
    L"Disconnected timer set",
    L"Terminate session when time limit is reached is set",
    L"Is Active but idle timer, Setting keyboard and mouse hooks...",
    L"Destroying all timers",
    L"Tick",
    L"Logoff Timer is Near Expiring",
    L"Disconnect timer is Near Expiring",
    L"Time has expired, setting bLogoffNow to true, session will be terminated.",
    L"Time has expired, disconnecting Session now",
    L"Logging off now...",
    L"WTS Connect Message detected, resetting Idle and Connection timers",
    L"WTS Disconnect message detected, reseting disconnect timer",
    L"Policy change has been detected.",
    L"Session Timer policy change has been detected, stopping timers and re-initializing app",
    L"Keyboard timer reset",
    L"Mouse timer reset",
    kLastInputResetTrace};

// What is shown and logged is only ever the program's own: warning boxes,
// the two event records and its trace lines. A failure adds nothing.
void ExpectNothingSaidAboutTheFailure(const std::vector<std::wstring>& journal,
                                      const std::string& context) {
  for (const auto& entry : journal) {
    if (entry.rfind(L"MessageBox", 0) == 0) {
      EXPECT_TRUE(entry == kBox || entry == kBoxWithoutTexts)
          << context << ": " << ::testing::PrintToString(entry);
    }
    if (entry.rfind(L"ReportEvent", 0) == 0) {
      EXPECT_TRUE(entry == kEvent118 || entry == kEvent119)
          << context << ": " << ::testing::PrintToString(entry);
    }
    if (entry.rfind(L"Trace ", 0) == 0) {
      EXPECT_EQ(kProgramTraceLines.count(entry.substr(6)), 1u)
          << context << ": " << ::testing::PrintToString(entry);
    }
  }
}

std::vector<std::string> Everything() { return FakePlatform::OperationNames(); }

std::vector<std::string> EverythingBut(const std::set<std::string>& spared) {
  std::vector<std::string> operations;
  for (const auto& operation : FakePlatform::OperationNames()) {
    if (spared.count(operation) == 0) operations.push_back(operation);
  }
  return operations;
}

struct RoadCase {
  std::string name;
  std::vector<std::string> failing;
  bool reached;  // whether the road calls a failing operation at all
  bool started;
  Timeline timeline;
  std::size_t boxesLeftOpen;
  int liveHooks;  // hooks of a timer still alive at the end, besides any that failed to go
  std::optional<int> quitCode;
};

void PrintTo(const RoadCase& c, std::ostream* os) { *os << c.name; }

RoadCase Row(const char* operation, bool reached, bool started, Timeline timeline,
             std::size_t boxesLeftOpen, int liveHooks, std::optional<int> quitCode) {
  return RoadCase{operation,           {operation},   reached,   started,
                  std::move(timeline), boxesLeftOpen, liveHooks, quitCode};
}

void CheckRoad(Road road, const FaultPlan& plan, const RoadCase& c) {
  FakePlatform fake;
  const RoadOutcome outcome = PlayRoad(fake, road, plan);
  const int faults = fake.FailedCallCount();

  EXPECT_EQ(outcome.started, c.started);
  EXPECT_EQ(outcome.timeline, c.timeline);
  EXPECT_EQ(outcome.boxesLeftOpen, c.boxesLeftOpen);
  EXPECT_EQ(outcome.quitCode, c.quitCode);
  EXPECT_EQ(faults > 0, c.reached) << faults << " faults injected";
  const bool mutexNeverTaken = plan.from == 0 && std::find(c.failing.begin(), c.failing.end(),
                                                           "CreateNamedMutex") != c.failing.end();
  EXPECT_EQ(outcome.instanceMutexHeld, !mutexNeverTaken);
  EXPECT_EQ(outcome.openHandlesAtEnd, c.liveHooks + outcome.releasesFailedAtEnd)
      << "open at the end: the live timer's hooks and what failed to be given back";
  EXPECT_EQ(fake.OpenHandleCount(), FailedReleases(fake)) << "once the program's objects are gone";
  ExpectNothingSaidAboutTheFailure(outcome.journal, c.name);
  faultsInjected += faults;
}

// --- The road of one idle session, failing from before start-up -------------

std::vector<RoadCase> IdleRoadCases() {
  const Timeline none;
  const Timeline noBox = {At(24, kEvent119), At(24, kDisconnect), At(28, kEvent118),
                          At(28, kLogoff)};
  const Timeline boxNeverSwept = {At(20, kBox), At(24, kEvent119), At(24, kDisconnect),
                                  At(28, kEvent118), At(28, kLogoff)};
  const Timeline noEvents = {At(20, kBox), At(24, kClose), At(24, kDisconnect), At(28, kLogoff)};
  const Timeline disconnectNeverNoticed = {At(20, kBox), At(24, kClose), At(24, kEvent119),
                                           At(24, kDisconnect)};
  std::vector<RoadCase> cases = {
      // Every policy reads as its default: no limit, nothing to do.
      Row("OpenKeyForRead", true, false, none, 0, 0, {}),
      Row("QueryValue", true, false, none, 0, 0, {}),
      // Each key it could not close stays open, and nothing else does.
      Row("CloseKey", true, true, kWholeIdleRoad, 0, 0, 0),
      // The event-log source is not registered; the records are still written.
      Row("CreateKey", true, true, kWholeIdleRoad, 0, 0, 0),
      Row("SetValue", true, true, kWholeIdleRoad, 0, 0, 0),
      Row("OutputDebugText", true, true, kWholeIdleRoad, 0, 0, 0),
      // No tick ever comes; the idle timer waits with its hooks in place.
      Row("StartWindowTimer", true, true, none, 0, 2, {}),
      Row("StopWindowTimer", true, true, kWholeIdleRoad, 0, 0, 0),
      // The set never hears of the disconnect, so the Disconnected timer
      // never counts; the connected timers have acted and rest.
      Row("RegisterSessionNotification", true, true, disconnectNeverNoticed, 0, 2, {}),
      Row("UnregisterSessionNotification", true, true, kWholeIdleRoad, 0, 0, 0),
      // The session stays connected; the idle timer does not act again.
      Row("DisconnectSession", true, true, {At(20, kBox), At(24, kClose), At(24, kEvent119)}, 0, 2,
          {}),
      // Timers are gone and the record written; the session goes on.
      Row("LogoffSession", true, true,
          {At(20, kBox), At(24, kClose), At(24, kEvent119), At(24, kDisconnect), At(28, kEvent118)},
          0, 0, {}),
      // Without hooks the input reaches the idle count through the session's
      // last input time at the next tick; the user had typed before leaving.
      Row("InstallHook", true, true, kWholeIdleRoad, 0, 0, 0),
      // Both hooks stay in the chain after the log-off.
      Row("RemoveHook", true, true, kWholeIdleRoad, 0, 0, 0),
      Row("CallNextHook", true, true, kWholeIdleRoad, 0, 0, 0),
      // The hooks alone count the input, as they did before the reading.
      Row("ReadLastInputTime", true, true, kWholeIdleRoad, 0, 0, 0),
      Row("StartThread", true, true, noBox, 0, 0, 0),
      Row("ShowMessageBox", true, true, noBox, 0, 0, 0),
      Row("Sleep", true, true, kWholeIdleRoad, 0, 0, 0),
      Row("CloseThreadHandle", true, true, kWholeIdleRoad, 0, 0, 0),
      // Locale 0 finds the user's default language, US English here.
      Row("GetThreadLocale", true, true, kWholeIdleRoad, 0, 0, 0),
      Row("SetThreadLocale", true, true, kWholeIdleRoad, 0, 0, 0),
      // A box without caption or text, which no sweep can recognise.
      Row("FormatCatalogMessage", true, true,
          {At(20, kBoxWithoutTexts), At(24, kEvent119), At(24, kDisconnect), At(28, kEvent118),
           At(28, kLogoff)},
          1, 0, 0),
      Row("GetModulePath", true, true, kWholeIdleRoad, 0, 0, 0),
      Row("EnumerateWindows", true, true, boxNeverSwept, 1, 0, 0),
      Row("GetStoredWindowTitle", true, true, boxNeverSwept, 1, 0, 0),
      Row("SendMessageWithTimeout", true, true, boxNeverSwept, 1, 0, 0),
      Row("OpenEventSource", true, true, noEvents, 0, 0, 0),
      Row("ReportEvent", true, true, noEvents, 0, 0, 0),
      Row("CloseEventSource", true, true, kWholeIdleRoad, 0, 0, 0),
      Row("TrimWorkingSet", true, true, kWholeIdleRoad, 0, 0, 0),
      // Without the mutex it cannot tell whether another copy runs: better
      // two copies than a session without its limits.
      Row("CreateNamedMutex", true, true, kWholeIdleRoad, 0, 0, 0),
      // Given back only when the process ends; then it is lost with it.
      Row("CloseMutex", true, true, kWholeIdleRoad, 0, 0, 0),
      // No session attached to the console is not session 0.
      Row("ActiveConsoleSessionId", true, true, kWholeIdleRoad, 0, 0, 0),
      Row("CreateApplicationWindow", true, false, none, 0, 0, {}),
      // The window outlives the session; no WM_DESTROY, no WM_QUIT.
      Row("DestroyApplicationWindow", true, true, kWholeIdleRoad, 0, 0, {}),
      Row("PostQuit", true, true, kWholeIdleRoad, 0, 0, {}),
      // A hidden window is never painted.
      Row("PaintNothing", false, true, kWholeIdleRoad, 0, 0, 0),
      // WM_QUERYENDSESSION answered 0 does not stop a log-off.
      Row("DefaultWindowProcedure", true, true, kWholeIdleRoad, 0, 0, 0),
      Row("EqualsIgnoringCase", false, true, kWholeIdleRoad, 0, 0, 0),
  };
  // Window creation fails, so the program ends silently.
  cases.push_back(RoadCase{"Everything", Everything(), true, false, none, 0, 0, {}});
  // Everything but what keeps the program from starting or ticking: no box,
  // no sweep, no record and no disconnect, and still nothing said.
  cases.push_back(RoadCase{"EverythingButPolicyWindowAndTickTimer",
                           EverythingBut({"OpenKeyForRead", "QueryValue", "CreateApplicationWindow",
                                          "StartWindowTimer"}),
                           true,
                           true,
                           none,
                           0,
                           0,
                           {}});
  return cases;
}

class IdleRoadFaultTest : public ::testing::TestWithParam<RoadCase> {};

TEST_P(IdleRoadFaultTest, CarriesOnAsFarAsTheFailureAllowsSilentlyAndLeaksNothing) {
  CheckRoad(Road::IdleSession, FaultPlan{GetParam().failing, 0}, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Failing, IdleRoadFaultTest, ::testing::ValuesIn(IdleRoadCases()),
                         [](const auto& testInfo) { return testInfo.param.name; });

// --- A policy rebuild, failing from the "Policy" notification on ------------

std::vector<RoadCase> RebuildCases() {
  const Timeline none;
  std::vector<RoadCase> cases = {
      // The limit reads as 0 ticks, which differs; the rebuilt set has no
      // enabled timer and the process idles on.
      Row("OpenKeyForRead", true, true, none, 0, 0, {}),
      Row("QueryValue", true, true, none, 0, 0, {}),
      Row("CloseKey", true, true, kRebuiltRoad, 0, 2, {}),
      Row("CreateKey", true, true, kRebuiltRoad, 0, 2, {}),
      Row("SetValue", true, true, kRebuiltRoad, 0, 2, {}),
      Row("OutputDebugText", true, true, kRebuiltRoad, 0, 2, {}),
      // The rebuild stopped the old tick timer and cannot start a new one.
      Row("StartWindowTimer", true, true, none, 0, 2, {}),
      Row("StopWindowTimer", true, true, kRebuiltRoad, 0, 2, {}),
      Row("RegisterSessionNotification", true, true, kRebuiltRoad, 0, 2, {}),
      Row("UnregisterSessionNotification", true, true, kRebuiltRoad, 0, 2, {}),
      Row("DisconnectSession", true, true, {At(26, kBox), At(30, kClose), At(30, kEvent119)}, 0, 2,
          {}),
      Row("LogoffSession", false, true, kRebuiltRoad, 0, 2, {}),
      // The new idle timer has no hooks.
      Row("InstallHook", true, true, kRebuiltRoad, 0, 0, {}),
      // The old hooks stay beside the new ones.
      Row("RemoveHook", true, true, kRebuiltRoad, 0, 2, {}),
      Row("CallNextHook", false, true, kRebuiltRoad, 0, 2, {}),
      Row("ReadLastInputTime", true, true, kRebuiltRoad, 0, 2, {}),
      Row("StartThread", true, true, {At(30, kEvent119), At(30, kDisconnect)}, 0, 2, {}),
      Row("ShowMessageBox", true, true, {At(30, kEvent119), At(30, kDisconnect)}, 0, 2, {}),
      Row("Sleep", true, true, kRebuiltRoad, 0, 2, {}),
      Row("CloseThreadHandle", true, true, kRebuiltRoad, 0, 2, {}),
      Row("GetThreadLocale", true, true, kRebuiltRoad, 0, 2, {}),
      Row("SetThreadLocale", true, true, kRebuiltRoad, 0, 2, {}),
      Row("FormatCatalogMessage", true, true,
          {At(26, kBoxWithoutTexts), At(30, kEvent119), At(30, kDisconnect)}, 1, 2, {}),
      Row("GetModulePath", true, true, kRebuiltRoad, 0, 2, {}),
      Row("EnumerateWindows", true, true, {At(26, kBox), At(30, kEvent119), At(30, kDisconnect)}, 1,
          2, {}),
      Row("GetStoredWindowTitle", true, true,
          {At(26, kBox), At(30, kEvent119), At(30, kDisconnect)}, 1, 2, {}),
      Row("SendMessageWithTimeout", true, true,
          {At(26, kBox), At(30, kEvent119), At(30, kDisconnect)}, 1, 2, {}),
      Row("OpenEventSource", true, true, {At(26, kBox), At(30, kClose), At(30, kDisconnect)}, 0, 2,
          {}),
      Row("ReportEvent", true, true, {At(26, kBox), At(30, kClose), At(30, kDisconnect)}, 0, 2, {}),
      Row("CloseEventSource", true, true, kRebuiltRoad, 0, 2, {}),
      Row("TrimWorkingSet", true, true, kRebuiltRoad, 0, 2, {}),
      // Taken at start-up, before the failures begin.
      Row("CreateNamedMutex", false, true, kRebuiltRoad, 0, 2, {}),
      Row("CloseMutex", true, true, kRebuiltRoad, 0, 2, {}),
      Row("ActiveConsoleSessionId", false, true, kRebuiltRoad, 0, 2, {}),
      Row("CreateApplicationWindow", false, true, kRebuiltRoad, 0, 2, {}),
      Row("DestroyApplicationWindow", false, true, kRebuiltRoad, 0, 2, {}),
      Row("PostQuit", false, true, kRebuiltRoad, 0, 2, {}),
      Row("PaintNothing", false, true, kRebuiltRoad, 0, 2, {}),
      Row("DefaultWindowProcedure", false, true, kRebuiltRoad, 0, 2, {}),
      // "Policy" is not recognised: the old limit of 20 ticks goes on.
      Row("EqualsIgnoringCase", true, true, kOldLimitRoad, 0, 2, {}),
  };
  // No rebuild, no box, no record, no disconnect: the old timers tick on
  // without a word.
  cases.push_back(RoadCase{"Everything", Everything(), true, true, none, 0, 2, {}});
  // The rebuild happens, but nothing the new timers try reaches the user.
  cases.push_back(RoadCase{
      "EverythingButPolicyNotificationAndTickTimer",
      EverythingBut({"OpenKeyForRead", "QueryValue", "EqualsIgnoringCase", "StartWindowTimer"}),
      true,
      true,
      none,
      0,
      0,
      {}});
  return cases;
}

class PolicyRebuildFaultTest : public ::testing::TestWithParam<RoadCase> {};

TEST_P(PolicyRebuildFaultTest, CarriesOnAsFarAsTheFailureAllowsSilentlyAndLeaksNothing) {
  CheckRoad(Road::PolicyRebuild, FaultPlan{GetParam().failing, kPolicyNotificationMoment},
            GetParam());
}

INSTANTIATE_TEST_SUITE_P(Failing, PolicyRebuildFaultTest, ::testing::ValuesIn(RebuildCases()),
                         [](const auto& testInfo) { return testInfo.param.name; });

TEST(RoadFaultTables, EveryOperationHasARowOnBothRoads) {
  for (const auto& cases : {IdleRoadCases(), RebuildCases()}) {
    std::set<std::string> named;
    for (const RoadCase& c : cases) {
      if (c.failing.size() == 1) named.insert(c.failing.front());
    }
    EXPECT_EQ(named, std::set<std::string>(FakePlatform::OperationNames().begin(),
                                           FakePlatform::OperationNames().end()));
  }
}

TEST(RoadFaultTables, HealthyRoadsGoAsDescribed) {
  for (const auto& [road, timeline, hooks] : {std::tuple{Road::IdleSession, kWholeIdleRoad, 0},
                                              std::tuple{Road::PolicyRebuild, kRebuiltRoad, 2}}) {
    FakePlatform fake;
    const RoadOutcome outcome = PlayRoad(fake, road, FaultPlan{});
    EXPECT_TRUE(outcome.started);
    EXPECT_EQ(outcome.timeline, timeline);
    EXPECT_EQ(outcome.openHandlesAtEnd, hooks);
    EXPECT_EQ(fake.FailedCallCount(), 0);
  }
}

// --- Every operation failing from every moment, for good or just once ------

TEST(FaultsAtEveryMoment, NothingIsSaidAboutThemAndNothingIsKeptThatCouldBeGivenBack) {
  int faults = 0;
  int runs = 0;
  for (const Road road : {Road::IdleSession, Road::PolicyRebuild}) {
    FakePlatform healthy;
    const int moments = PlayRoad(healthy, road, FaultPlan{}).moments;
    ASSERT_GT(moments, 25);
    std::vector<std::vector<std::string>> plans;
    for (const auto& operation : FakePlatform::OperationNames()) plans.push_back({operation});
    plans.push_back(Everything());
    for (const auto& operations : plans) {
      for (int from = 0; from < moments; ++from) {
        for (const int until : {from + 1, INT_MAX}) {
          const std::string context =
              (road == Road::IdleSession ? "idle session, " : "policy rebuild, ") +
              (operations.size() == 1 ? operations.front() : std::string("everything")) +
              " failing from moment " + std::to_string(from) + (until == INT_MAX ? " on" : " only");
          int releasesFailed = 0;
          {
            FakePlatform fake;
            const RoadOutcome outcome = PlayRoad(fake, road, FaultPlan{operations, from, until});
            ExpectNothingSaidAboutTheFailure(outcome.journal, context);
            // The process is over now: whatever is still open, it lost.
            releasesFailed = FailedReleases(fake);
            faults += fake.FailedCallCount();
            EXPECT_EQ(fake.OpenHandleCount(), releasesFailed) << context;
          }
          ++runs;
          if (::testing::Test::HasFailure()) return;
        }
      }
    }
  }
  faultsInjected += faults;
  std::cout << "[ faults   ] " << runs << " sessions, " << faults
            << " faults injected at every moment\n";
  EXPECT_GT(faults, runs);
}

}  // namespace
}  // namespace ravitor::testing
