// Whether a user has anything to enforce: the program's own rule, which the
// session service applies to a session's user.
#include "settings/LimitPolicies.h"

#include <gtest/gtest.h>

#include <string>

#include "fake/FakePlatform.h"

namespace ravitor::testing {
namespace {

constexpr const wchar_t* kSid = L"S-1-5-21-1-2-3-1001";

struct EnforceCase {
  const char* name;
  void (*arrange)(FakePlatform& fake, const std::wstring& userProductKey,
                  const std::wstring& userTsKey);
  bool expected;
};

void PrintTo(const EnforceCase& c, std::ostream* os) { *os << c.name; }

class HasSomethingToEnforceTest : public ::testing::TestWithParam<EnforceCase> {};

TEST_P(HasSomethingToEnforceTest, FollowsTheProgramsRule) {
  FakePlatform fake;
  const std::wstring user = std::wstring(kSid) + L"\\";
  GetParam().arrange(fake, user + kProductPolicyKey, user + kTerminalServicesPolicyKey);
  EXPECT_EQ(HasSomethingToEnforce(fake, kSid), GetParam().expected);
  EXPECT_EQ(fake.OpenHandleCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HasSomethingToEnforceTest,
    ::testing::Values(
        EnforceCase{"NoLimitAtAll", [](FakePlatform&, const std::wstring&, const std::wstring&) {},
                    false},
        EnforceCase{"AMachineIdleLimit",
                    [](FakePlatform& f, const std::wstring&, const std::wstring&) {
                      f.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxIdleTime,
                                 600000);
                    },
                    true},
        EnforceCase{"ALimitBelowOneTickStillCounts",
                    [](FakePlatform& f, const std::wstring&, const std::wstring&) {
                      f.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey,
                                 kMaxDisconnectionTime, 1);
                    },
                    true},
        EnforceCase{"TheUsersOwnConnectionLimit",
                    [](FakePlatform& f, const std::wstring&, const std::wstring& userTs) {
                      f.SetDword(Hive::Users, userTs, kMaxConnectionTime, 60000);
                    },
                    true},
        EnforceCase{"RunRAVITOROffForTheUser",
                    [](FakePlatform& f, const std::wstring& userProduct, const std::wstring&) {
                      f.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxIdleTime,
                                 600000);
                      f.SetDword(Hive::Users, userProduct, kRunRAVITOR, 0);
                    },
                    false},
        EnforceCase{"TheOnlyLimitSwitchedOff",
                    [](FakePlatform& f, const std::wstring&, const std::wstring&) {
                      f.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxIdleTime,
                                 600000);
                      f.SetDword(Hive::LocalMachine, kProductPolicyKey, kIdleTimerEnable, 0);
                    },
                    false},
        EnforceCase{"OneOfTwoSwitchedOff",
                    [](FakePlatform& f, const std::wstring&, const std::wstring&) {
                      f.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxIdleTime,
                                 600000);
                      f.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey,
                                 kMaxDisconnectionTime, 60000);
                      f.SetDword(Hive::LocalMachine, kProductPolicyKey, kIdleTimerEnable, 0);
                    },
                    true},
        EnforceCase{"TheCallersOwnHiveIsNotTheUsers",
                    [](FakePlatform& f, const std::wstring&, const std::wstring&) {
                      f.SetDword(Hive::CurrentUser, kTerminalServicesPolicyKey, kMaxIdleTime,
                                 600000);
                    },
                    false}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace ravitor::testing
