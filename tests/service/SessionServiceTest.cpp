// The session service over its recording platform: which sessions get a
// copy of RAVITOR.exe, when a copy that ended is started again, the restart
// bound, the records, policy changes and stop.
#include "service/SessionService.h"

#include <gtest/gtest.h>

#include <string>

#include "service/FakeServicePlatform.h"
#include "service/ServiceNames.h"
#include "service/SessionServiceFixture.h"
#include "settings/PolicyNames.h"

namespace ravitor::service::testing {
namespace {

TEST_F(SessionServiceTest, StartPutsTheProgramFromItsOwnFolderIntoEveryUserSession) {
  UserSession(1, kAlice);
  UserSession(2, kBob);
  fake.sessions[0] = {};            // services
  fake.sessions[5] = {};            // no user logged on
  fake.sessions[7].userSid = kBob;  // not listed by the session manager
  fake.sessions[7].enumerated = false;
  fake.consoleSession = 7;

  ASSERT_TRUE(service.Start());

  const auto started = fake.Started();
  ASSERT_EQ(started.size(), 3u);
  for (const FakeProcess* process : started) {
    EXPECT_EQ(process->imagePath, FakeServicePlatform::kProgramPath);
    EXPECT_EQ(process->startedAs, process->sessionId == 1 ? kAlice : kBob);
  }
  EXPECT_EQ(StartedIn(1) + StartedIn(2) + StartedIn(7), 3u);
  EXPECT_TRUE(fake.records.empty()) << "an ordinary start writes no record";
  EXPECT_EQ(fake.OpenHandleCount(), 3 + 2)
      << "only the copies' handles and the key watches stay open";
}

TEST_F(SessionServiceTest, AFailedSessionListStillCoversTheConsoleSession) {
  UserSession(1, kAlice);
  UserSession(2, kBob);
  fake.enumerationFails = true;

  ASSERT_TRUE(service.Start());

  EXPECT_EQ(StartedIn(1), 1u);
  EXPECT_EQ(StartedIn(2), 0u);
}

TEST_F(SessionServiceTest, ACopyAlreadyRunningFromItsFolderIsAdoptedAndWatched) {
  UserSession(1, kAlice);
  UserSession(2, kBob);
  const std::uint32_t byHand = fake.RunProcess(2,
                                               L"c:\\program files\\tolvex pellan session "
                                               L"timers\\ravitor.exe");
  fake.RunProcess(1, L"C:\\Copies\\RAVITOR.exe");  // another folder's copy does not count

  ASSERT_TRUE(service.Start());

  EXPECT_EQ(StartedIn(1), 1u);
  EXPECT_EQ(StartedIn(2), 0u);
  EXPECT_EQ(fake.WaitedCopy(2), byHand);
  EndCopy(2, kTaskManagerExit);
  EXPECT_EQ(StartedIn(2), 1u) << "the adopted copy is started again like an own one";
}

TEST_F(SessionServiceTest, AnUnreadableOwnPathStartsNothing) {
  UserSession(1, kAlice);
  fake.modulePath = L"RAVITOR-service.exe";  // no folder

  EXPECT_FALSE(service.Start());
  EXPECT_TRUE(fake.Started().empty());
}

struct EndCase {
  const char* name;
  std::uint32_t exitCode;
  void (*policies)(SessionServiceTest& test);
  bool startedAgain;
};

void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }

class CopyEndTest : public SessionServiceTest, public ::testing::WithParamInterface<EndCase> {
 public:
  void SetMachine(const wchar_t* key, const wchar_t* name, std::uint32_t value) {
    fake.registry.SetDword(Hive::LocalMachine, key, name, value);
  }
  void SetUser(const wchar_t* key, const wchar_t* name, std::uint32_t value) {
    UserPolicy(kAlice, key, name, value);
  }
};

TEST_P(CopyEndTest, IsStartedAgainOnlyWhileThereIsSomethingToEnforce) {
  UserSession(1, kAlice);
  ASSERT_TRUE(service.Start());
  GetParam().policies(*this);

  EndCopy(1, GetParam().exitCode);

  EXPECT_EQ(StartedIn(1), GetParam().startedAgain ? 2u : 1u);
  EXPECT_TRUE(fake.records.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CopyEndTest,
    ::testing::Values(
        EndCase{"EndedByTaskManager", kTaskManagerExit, [](SessionServiceTest&) {}, true},
        EndCase{"FileExitWithALimitSet", 0, [](SessionServiceTest&) {}, true},
        EndCase{"AnyOtherCode", 0xC0000005, [](SessionServiceTest&) {}, true},
        EndCase{"RunRAVITOROffForTheMachine", 0,
                [](SessionServiceTest& fixture) {
                  static_cast<CopyEndTest&>(fixture).SetMachine(kProductPolicyKey, kRunRAVITOR, 0);
                },
                false},
        EndCase{"RunRAVITOROffForThisUserOnly", kTaskManagerExit,
                [](SessionServiceTest& fixture) {
                  static_cast<CopyEndTest&>(fixture).SetUser(kProductPolicyKey, kRunRAVITOR, 0);
                },
                false},
        EndCase{"NoLimitLeft", 0,
                [](SessionServiceTest& fixture) {
                  static_cast<CopyEndTest&>(fixture).SetMachine(kProductPolicyKey, kIdleTimerEnable,
                                                                0);
                },
                false},
        EndCase{"OnlyTheUsersOwnLimit", 0,
                [](SessionServiceTest& fixture) {
                  auto& copyEnd = static_cast<CopyEndTest&>(fixture);
                  copyEnd.SetMachine(kProductPolicyKey, kIdleTimerEnable, 0);
                  copyEnd.SetUser(kTerminalServicesPolicyKey, kMaxDisconnectionTime, 60000);
                },
                true}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(SessionServiceTest, ACopyEndingWithItsSessionIsNotStartedAgain) {
  UserSession(1, kAlice);
  UserSession(2, kBob);
  ASSERT_TRUE(service.Start());

  // Session 1 logs off: the notification comes first, then the copy ends.
  service.OnSessionChange(kWtsSessionLogoff, 1);
  EXPECT_EQ(fake.WaitedCopy(1), 0u);
  fake.sessions.erase(1);
  // Session 2's copy ends before its logoff is told: its user is gone.
  fake.sessions[2].userSid.clear();
  EndCopy(2, 0);

  EXPECT_EQ(fake.Started().size(), 2u);
  EXPECT_TRUE(fake.records.empty());
  EXPECT_EQ(fake.OpenHandleCount(), 2) << "only the two key watches stay open";
}

TEST_F(SessionServiceTest, ALogonGetsACopyAndAnotherUsersLogonInTheSameSessionToo) {
  ASSERT_TRUE(service.Start());
  EXPECT_TRUE(fake.Started().empty());

  UserSession(3, kAlice);
  service.OnSessionChange(kWtsSessionLogon, 3);
  ASSERT_EQ(StartedIn(3), 1u);

  service.OnSessionChange(kWtsSessionLogoff, 3);
  for (FakeProcess& process : fake.processes) process.running = false;  // gone with the session
  UserSession(3, kBob);
  service.OnSessionChange(kWtsSessionLogon, 3);
  ASSERT_EQ(StartedIn(3), 2u);
  EXPECT_EQ(fake.Started().back()->startedAs, kBob);
}

TEST_F(SessionServiceTest, ACopyEndingTooOftenIsLeftAloneUntilTheNextLogon) {
  UserSession(1, kAlice);
  ASSERT_TRUE(service.Start());

  for (std::uint32_t restart = 1; restart <= kRestartLimit; ++restart) {
    fake.nowMs += 60000;  // one a minute: five within ten minutes
    EndCopy(1, kTaskManagerExit);
    ASSERT_EQ(StartedIn(1), 1 + restart);
  }
  fake.nowMs += 60000;
  EndCopy(1, kTaskManagerExit);

  EXPECT_EQ(StartedIn(1), 1 + kRestartLimit);
  ASSERT_EQ(fake.records.size(), 1u);
  EXPECT_EQ(fake.records[0].type, kEventTypeWarning);
  EXPECT_EQ(fake.records[0].eventId, kGaveUpRestartingEvent);
  EXPECT_EQ(fake.records[0].strings, (std::vector<std::wstring>{L"1", L"6", L"10"}));

  // A policy change does not bring it back; the next logon does.
  fake.nowMs += 3600000;
  service.OnPolicyKeyChanged();
  EXPECT_EQ(StartedIn(1), 1 + kRestartLimit);
  service.OnSessionChange(kWtsSessionLogon, 1);
  EXPECT_EQ(StartedIn(1), 2 + kRestartLimit);
  EXPECT_EQ(fake.records.size(), 1u);
}

TEST_F(SessionServiceTest, EndsSpreadOverMoreThanTheWindowNeverReachTheBound) {
  UserSession(1, kAlice);
  ASSERT_TRUE(service.Start());

  for (int end = 0; end < 20; ++end) {
    fake.nowMs += kRestartWindowMs / kRestartLimit;  // five per window, never six
    EndCopy(1, 0);
  }

  EXPECT_EQ(StartedIn(1), 21u);
  EXPECT_TRUE(fake.records.empty());
}

struct StartFailureCase {
  const char* name;
  std::uint32_t tokenError;
  std::uint32_t startError;
  std::uint32_t reportedError;  // 0: no record
};

void PrintTo(const StartFailureCase& c, std::ostream* os) { *os << c.name; }

class StartFailureTest : public SessionServiceTest,
                         public ::testing::WithParamInterface<StartFailureCase> {};

TEST_P(StartFailureTest, IsRecordedWithTheSystemErrorUnlessTheSessionHasNoUser) {
  UserSession(2, kBob);
  fake.sessions[2].tokenError = GetParam().tokenError;
  fake.sessions[2].startError = GetParam().startError;

  ASSERT_TRUE(service.Start());

  EXPECT_TRUE(fake.Started().empty());
  if (GetParam().reportedError == 0) {
    EXPECT_TRUE(fake.records.empty());
  } else {
    ASSERT_EQ(fake.records.size(), 1u);
    EXPECT_EQ(fake.records[0].type, kEventTypeError);
    EXPECT_EQ(fake.records[0].eventId, kCouldNotStartEvent);
    EXPECT_EQ(fake.records[0].strings,
              (std::vector<std::wstring>{L"2", std::to_wstring(GetParam().reportedError)}));
  }
  EXPECT_EQ(fake.OpenHandleCount(), 2) << "only the two key watches stay open";
}

INSTANTIATE_TEST_SUITE_P(Cases, StartFailureTest,
                         ::testing::Values(StartFailureCase{"TokenRefused", 5, 0, 5},
                                           StartFailureCase{"NoUserLoggedOn", kErrorNoToken, 0, 0},
                                           StartFailureCase{"SessionGone",
                                                            kErrorCtxWinstationNotFound, 0, 0},
                                           StartFailureCase{"ProgramMissing", 0, kErrorFileNotFound,
                                                            kErrorFileNotFound}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(SessionServiceTest, APolicyChangeStartsACopyWhereNoneRuns) {
  UserSession(1, kAlice);
  UserSession(2, kBob);
  fake.registry.SetDword(Hive::LocalMachine, kProductPolicyKey, kRunRAVITOR, 0);
  ASSERT_TRUE(service.Start());
  // Session 1's copy ends: nothing to enforce. Session 2's runs on.
  EndCopy(1, 0);
  ASSERT_EQ(StartedIn(1), 1u);
  const std::uint32_t running = fake.WaitedCopy(2);

  fake.registry.SetDword(Hive::LocalMachine, kProductPolicyKey, kRunRAVITOR, 1);
  service.OnPolicyKeyChanged();

  EXPECT_EQ(StartedIn(1), 2u);
  EXPECT_EQ(StartedIn(2), 1u);
  EXPECT_EQ(fake.WaitedCopy(2), running);
}

TEST_F(SessionServiceTest, WatchesEachPolicyKeyOrItsNearestExistingParent) {
  fake.registry.CreateRegistryKey(Hive::LocalMachine, L"Software\\Policies");
  ASSERT_TRUE(service.Start());
  EXPECT_EQ(fake.watchedKeys[0], L"Software\\Policies");
  EXPECT_EQ(fake.watchedKeys[1], kTerminalServicesPolicyKey);

  fake.registry.SetDword(Hive::LocalMachine, kProductPolicyKey, kRunRAVITOR, 1);
  service.OnPolicyKeyChanged();
  EXPECT_EQ(fake.watchedKeys[0], kProductPolicyKey);
  EXPECT_EQ(fake.watchedKeys[1], kTerminalServicesPolicyKey);
}

TEST_F(SessionServiceTest, StopLeavesTheCopiesRunningAndClosesEverything) {
  UserSession(1, kAlice);
  UserSession(2, kBob);
  ASSERT_TRUE(service.Start());

  service.Stop();

  EXPECT_EQ(fake.OpenHandleCount(), 0);
  EXPECT_TRUE(fake.watchedKeys.empty());
  for (const FakeProcess* process : fake.Started()) EXPECT_TRUE(process->running);
}

TEST_F(SessionServiceTest, ASecondCopyThatEndsAtOnceGivesWayToTheOneRunning) {
  UserSession(1, kAlice);
  ASSERT_TRUE(service.Start());
  // Someone starts a copy by hand; the service's own copy ends.
  const std::uint32_t byHand = fake.RunProcess(1, FakeServicePlatform::kProgramPath);
  EndCopy(1, 0);

  EXPECT_EQ(StartedIn(1), 1u);
  EXPECT_EQ(fake.WaitedCopy(1), byHand);
}

TEST_F(SessionServiceTest, TracesWhatItDoesWhileTheSwitchKeyExists) {
  fake.registry.CreateRegistryKey(Hive::LocalMachine, kTraceSwitchKey);
  UserSession(1, kAlice);
  ASSERT_TRUE(service.Start());
  fake.registry.SetDword(Hive::LocalMachine, kProductPolicyKey, kRunRAVITOR, 0);
  EndCopy(1, 0);

  EXPECT_EQ(fake.trace, (std::vector<std::wstring>{
                            L"Session service started",
                            L"Started RAVITOR.exe in session 1",
                            L"RAVITOR.exe ended with exit code 0 in session 1",
                            L"Nothing to enforce in session 1: RAVITOR.exe is not started again",
                        }));
}

}  // namespace
}  // namespace ravitor::service::testing
