// Sessions the session service hears of late or in an unusual order: a
// connect of a session it has or has not seen, a policy change that finds a
// session it never heard of, and a new user's logon in a session whose old
// copy is still ending.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "service/ServiceNames.h"
#include "service/SessionServiceFixture.h"

namespace ravitor::service::testing {
namespace {

constexpr std::uint32_t kWtsRemoteDisconnect = 0x4;  // WTS_REMOTE_DISCONNECT

// Session 1 is seen at start; its copy ended with nothing to enforce for its
// user. Session 4 has a user but was listed neither as a session nor as the
// console, so the service has not seen it.
class LateSessionTest : public SessionServiceTest {
 protected:
  void SetUp() override {
    SessionServiceTest::SetUp();
    UserSession(1, kAlice);
    UserPolicy(kAlice, kProductPolicyKey, kRunRAVITOR, 0);
    UserSession(4, kBob);
    fake.sessions[4].enumerated = false;
    ASSERT_TRUE(service.Start());
    EndCopy(1, 0);
    ASSERT_EQ(StartedIn(1), 1u);
    ASSERT_EQ(StartedIn(4), 0u);
  }
};

struct ConnectCase {
  const char* name;
  std::uint32_t code;
  std::uint32_t sessionId;
  bool started;
};

void PrintTo(const ConnectCase& c, std::ostream* os) { *os << c.name; }

class ConnectTest : public LateSessionTest, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(ConnectTest, StartsACopyOnlyInASessionTheServiceHasNotSeen) {
  const std::size_t before = fake.Started().size();

  service.OnSessionChange(GetParam().code, GetParam().sessionId);

  ASSERT_EQ(fake.Started().size(), before + (GetParam().started ? 1 : 0));
  if (GetParam().started) {
    EXPECT_EQ(fake.Started().back()->sessionId, GetParam().sessionId);
    EXPECT_EQ(fake.Started().back()->startedAs, kBob);
    EXPECT_NE(fake.WaitedCopy(GetParam().sessionId), 0u);
  }
  EXPECT_TRUE(fake.records.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectTest,
    ::testing::Values(ConnectCase{"ConsoleConnectOfAnUnseenSession", kWtsConsoleConnect, 4, true},
                      ConnectCase{"RemoteConnectOfAnUnseenSession", kWtsRemoteConnect, 4, true},
                      ConnectCase{"ConsoleConnectOfASeenSession", kWtsConsoleConnect, 1, false},
                      ConnectCase{"RemoteConnectOfASeenSession", kWtsRemoteConnect, 1, false},
                      ConnectCase{"DisconnectOfAnUnseenSession", kWtsRemoteDisconnect, 4, false}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(LateSessionTest, APolicyChangeStartsACopyInASessionTheServiceNeverHeardOf) {
  fake.sessions[4].enumerated = true;  // the session manager lists it now

  service.OnPolicyKeyChanged();

  ASSERT_EQ(StartedIn(4), 1u);
  for (const FakeProcess* process : fake.Started()) {
    if (process->sessionId == 4) {
      EXPECT_EQ(process->startedAs, kBob);
    }
  }
  EXPECT_NE(fake.WaitedCopy(4), 0u);
  // Every session without a copy gets one, and the copy itself decides.
  EXPECT_EQ(StartedIn(1), 2u);
  EXPECT_TRUE(fake.records.empty());
}

TEST_F(LateSessionTest, APolicyChangeTriesANewSessionOnceAndRecordsOneFailure) {
  fake.sessions[4].enumerated = true;
  fake.sessions[4].startError = kErrorFileNotFound;

  service.OnPolicyKeyChanged();

  EXPECT_EQ(StartedIn(4), 0u);
  ASSERT_EQ(fake.records.size(), 1u);
  EXPECT_EQ(fake.records[0].eventId, kCouldNotStartEvent);
  EXPECT_EQ(fake.records[0].strings, (std::vector<std::wstring>{L"4", L"2"}));
}

struct NewUserCase {
  const char* name;
  bool logoffTold;      // the old user's logoff reaches the service
  bool endBeforeLogon;  // the old copy's end is told before the new logon
};

void PrintTo(const NewUserCase& c, std::ostream* os) { *os << c.name; }

class NewUserTest : public SessionServiceTest, public ::testing::WithParamInterface<NewUserCase> {};

TEST_P(NewUserTest, TheNewUserGetsOneCopyOfTheirOwnWhateverTheOrder) {
  UserSession(3, kAlice);
  ASSERT_TRUE(service.Start());
  ASSERT_EQ(StartedIn(3), 1u);
  const std::uint32_t old = fake.WaitedCopy(3);

  if (GetParam().logoffTold) service.OnSessionChange(kWtsSessionLogoff, 3);
  UserSession(3, kBob);  // the old user's copy is still running
  if (GetParam().endBeforeLogon) EndCopy(3, 0);
  service.OnSessionChange(kWtsSessionLogon, 3);
  if (!GetParam().endBeforeLogon) EndCopy(3, 0);

  const auto started = fake.Started();
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(started[0]->startedAs, kAlice);
  EXPECT_FALSE(started[0]->running);
  EXPECT_EQ(started[1]->startedAs, kBob);
  EXPECT_EQ(started[1]->sessionId, 3u);
  EXPECT_EQ(fake.WaitedCopy(3), started[1]->processId);
  EXPECT_NE(fake.WaitedCopy(3), old);
  EXPECT_TRUE(fake.records.empty());
  EXPECT_EQ(fake.OpenHandleCount(), 1 + 2) << "the new copy and the key watches";
}

INSTANTIATE_TEST_SUITE_P(
    Orders, NewUserTest,
    ::testing::Values(NewUserCase{"LogoffToldOldCopyEndsAfterTheLogon", true, false},
                      NewUserCase{"LogoffMissedOldCopyEndsBeforeTheLogon", false, true},
                      NewUserCase{"LogoffMissedOldCopyEndsAfterTheLogon", false, false}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace ravitor::service::testing
