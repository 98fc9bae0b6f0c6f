// Every token, process handle, registry key and key watch the session
// service holds is given back by the time it stops, whatever it went through.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "service/ServiceNames.h"
#include "service/SessionServiceFixture.h"

namespace ravitor::service::testing {
namespace {

class ServiceHandlesTest;

struct HandleCase {
  const char* name;
  void (*scenario)(ServiceHandlesTest& test);
  int heldBeforeStop;  // copies waited on and the two key watches
};

void PrintTo(const HandleCase& c, std::ostream* os) { *os << c.name; }

class ServiceHandlesTest : public SessionServiceTest,
                           public ::testing::WithParamInterface<HandleCase> {
 public:
  using SessionServiceTest::EndCopy;
  using SessionServiceTest::fake;
  using SessionServiceTest::service;
  using SessionServiceTest::UserPolicy;
  using SessionServiceTest::UserSession;
};

TEST_P(ServiceHandlesTest, AllAreClosedWhenTheServiceStops) {
  GetParam().scenario(*this);
  ASSERT_EQ(fake.OpenHandleCount(), GetParam().heldBeforeStop);

  service.Stop();

  EXPECT_EQ(fake.OpenHandleCount(), 0);
  EXPECT_TRUE(fake.watchedKeys.empty());
}

void SeveralSessions(ServiceHandlesTest& t) {
  t.UserSession(1, kAlice);
  t.UserSession(2, kBob);
  t.UserSession(3, kAlice);
  t.fake.sessions[4].tokenError = 5;  // refused: recorded, nothing held
  ASSERT_TRUE(t.service.Start());
}

void Restarts(ServiceHandlesTest& t) {
  t.UserSession(1, kAlice);
  t.UserSession(2, kBob);
  ASSERT_TRUE(t.service.Start());
  for (int end = 0; end < 3; ++end) t.EndCopy(1, kTaskManagerExit);
}

void RestartBoundReached(ServiceHandlesTest& t) {
  t.UserSession(1, kAlice);
  ASSERT_TRUE(t.service.Start());
  for (std::uint32_t end = 0; end <= kRestartLimit; ++end) t.EndCopy(1, kTaskManagerExit);
  ASSERT_EQ(t.fake.records.size(), 1u);
}

void Adoption(ServiceHandlesTest& t) {
  t.UserSession(1, kAlice);
  t.UserSession(2, kBob);
  t.UserSession(3, kBob);
  t.fake.RunProcess(2, FakeServicePlatform::kProgramPath);
  t.fake.RunProcess(3, FakeServicePlatform::kProgramPath);
  t.fake.processes.back().watchable = false;  // opened, then let go of
  ASSERT_TRUE(t.service.Start());
  // A copy by hand takes over from the service's own in session 1.
  t.fake.RunProcess(1, FakeServicePlatform::kProgramPath);
  t.EndCopy(1, 0);
}

void PolicyChange(ServiceHandlesTest& t) {
  t.UserSession(1, kAlice);
  t.UserSession(2, kBob);
  t.UserPolicy(kAlice, kProductPolicyKey, kRunRAVITOR, 0);
  ASSERT_TRUE(t.service.Start());
  t.EndCopy(1, 0);  // nothing to enforce for this user
  t.UserPolicy(kAlice, kProductPolicyKey, kRunRAVITOR, 1);
  t.service.OnPolicyKeyChanged();
  t.service.OnPolicyKeyChanged();
}

void LogoffAndLogon(ServiceHandlesTest& t) {
  t.UserSession(1, kAlice);
  t.UserSession(2, kBob);
  ASSERT_TRUE(t.service.Start());
  t.service.OnSessionChange(kWtsSessionLogoff, 2);  // its copy runs on a while
  t.UserSession(5, kBob);
  t.service.OnSessionChange(kWtsSessionLogon, 5);
  t.service.OnSessionChange(kWtsSessionLogon, 1);  // a new logon of a session with a copy
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, ServiceHandlesTest,
    ::testing::Values(HandleCase{"AfterStartingInSeveralSessions", &SeveralSessions, 3 + 2},
                      HandleCase{"AfterRestarts", &Restarts, 2 + 2},
                      HandleCase{"AfterTheRestartBoundIsReached", &RestartBoundReached, 0 + 2},
                      HandleCase{"AfterAdoptions", &Adoption, 3 + 2},
                      HandleCase{"AfterPolicyChanges", &PolicyChange, 2 + 2},
                      HandleCase{"AfterLogoffsAndLogons", &LogoffAndLogon, 2 + 2}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace ravitor::service::testing
