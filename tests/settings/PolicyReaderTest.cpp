// Policy values: hive fallback, default, range and the four-byte rule.
#include "settings/PolicyReader.h"

#include <gtest/gtest.h>

#include <optional>

#include "fake/FakePlatform.h"
#include "settings/PolicyNames.h"

namespace ravitor::testing {
namespace {

using Bytes = std::vector<unsigned char>;

struct Stored {
  std::uint32_t type;
  Bytes data;
};

Stored Dword(std::uint32_t value) {
  return {kRegDword,
          {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
           static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)}};
}

struct PolicyCase {
  const char* name;
  std::optional<Stored> machine;
  std::optional<Stored> user;
  std::uint32_t defaultValue;
  std::uint32_t maximum;
  std::uint32_t expected;
};

void PrintTo(const PolicyCase& c, std::ostream* os) { *os << c.name; }

class ReadPolicyDwordTest : public ::testing::TestWithParam<PolicyCase> {};

TEST_P(ReadPolicyDwordTest, YieldsTheValueAnAdministratorExpects) {
  const PolicyCase& c = GetParam();
  FakePlatform fake;
  if (c.machine)
    fake.SetRaw(Hive::LocalMachine, kProductPolicyKey, L"Value", c.machine->type, c.machine->data);
  if (c.user)
    fake.SetRaw(Hive::CurrentUser, kProductPolicyKey, L"Value", c.user->type, c.user->data);

  EXPECT_EQ(ReadPolicyDword(fake, kProductPolicyKey, L"Value", c.defaultValue, 0, c.maximum),
            c.expected);
  EXPECT_EQ(fake.OpenHandleCount(), 0) << "every key opened for a read is closed again";
}

constexpr std::uint32_t kAny = 0xFFFFFFFF;

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadPolicyDwordTest,
    ::testing::Values(
        PolicyCase{"AbsentEverywhereGivesDefault", {}, {}, 1, 1, 1},
        PolicyCase{"OnlyUserHiveIsUsed", {}, Dword(0), 1, 1, 0},
        PolicyCase{"MachineHiveWins", Dword(600000), Dword(30000), 0, kAny, 600000},
        PolicyCase{"OutOfRangeMachineValueGivesDefaultNotUserValue", Dword(5), Dword(0), 1, 1, 1},
        PolicyCase{"OutOfRangeUserValueGivesDefault", {}, Dword(2), 0, 1, 0},
        PolicyCase{"LargestLimitIsAccepted", Dword(kAny), {}, 0, kAny, kAny},
        PolicyCase{"FourByteStringIsReadAsCharacterCode",
                   Stored{kRegSz, {'A', 0, 0, 0}},
                   {},
                   0,
                   kAny,
                   0x41},
        PolicyCase{"FourByteStringIsOutOfRangeForASwitch", Stored{kRegSz, {'0', 0, 0, 0}}, Dword(0),
                   1, 1, 1},
        PolicyCase{"BytesAreLittleEndianWhateverTheType",
                   Stored{3, {1, 2, 3, 4}},
                   {},
                   0,
                   kAny,
                   0x04030201},
        PolicyCase{"LongerDataCountsAsAbsent", Stored{11, {1, 0, 0, 0, 0, 0, 0, 0}}, Dword(7), 0,
                   kAny, 7},
        PolicyCase{"ShorterDataCountsAsAbsent", Stored{3, {1, 0}}, Dword(7), 0, kAny, 7},
        PolicyCase{"EmptyDataCountsAsAbsent", Stored{kRegDword, {}}, {}, 9, kAny, 9}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(ReadPolicyDword, RefusedMachineKeyFallsBackToUserHive) {
  FakePlatform fake;
  fake.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxIdleTime, 600000);
  fake.DenyRead(Hive::LocalMachine, kTerminalServicesPolicyKey);
  fake.SetDword(Hive::CurrentUser, kTerminalServicesPolicyKey, kMaxIdleTime, 900000);

  EXPECT_EQ(ReadPolicyDword(fake, kTerminalServicesPolicyKey, kMaxIdleTime, 0, 0, kAny), 900000u);
}

TEST(ReadRegistryDword, FailsWithoutTouchingTheValueWhenTheQueryFails) {
  FakePlatform fake;
  fake.SetDword(Hive::LocalMachine, kProductPolicyKey, kRunRAVITOR, 1);
  fake.Fail("QueryValue");
  std::uint32_t value = 77;

  EXPECT_FALSE(ReadRegistryDword(fake, Hive::LocalMachine, kProductPolicyKey, kRunRAVITOR, value));
  EXPECT_EQ(value, 77u);
  EXPECT_EQ(fake.OpenHandleCount(), 0);
}

TEST(ReadRegistryDword, KeyPathsAndNamesAreCaseInsensitive) {
  FakePlatform fake;
  fake.SetDword(Hive::LocalMachine, L"software\\policies\\brevane\\tolvex pellan session timers",
                L"runravitor", 0);
  std::uint32_t value = 1;

  EXPECT_TRUE(ReadRegistryDword(fake, Hive::LocalMachine, kProductPolicyKey, kRunRAVITOR, value));
  EXPECT_EQ(value, 0u);
}

// A service reads a session user's hive under HKEY_USERS instead of its own.
TEST(ReadPolicyDword, WithAUserSidReadsThatUsersHiveUnderUsers) {
  const wchar_t* sid = L"S-1-5-21-1004336348-1177238915-682003330-1001";
  FakePlatform fake;
  fake.SetDword(Hive::Users, std::wstring(sid) + L"\\" + kProductPolicyKey, kIdleTimerEnable, 0);
  fake.SetDword(Hive::CurrentUser, kProductPolicyKey, kIdleTimerEnable, 1);
  fake.SetDword(Hive::Users, std::wstring(L"S-1-5-21-9-9-9-1002\\") + kProductPolicyKey,
                kRunRAVITOR, 0);

  EXPECT_EQ(ReadPolicyDword(fake, kIdleTimerEnablePolicy, sid), 0u);
  EXPECT_EQ(ReadPolicyDword(fake, kIdleTimerEnablePolicy), 1u) << "without a SID: the own hive";
  EXPECT_EQ(ReadPolicyDword(fake, kRunRAVITORPolicy, sid), 1u) << "another user's value";

  fake.SetDword(Hive::LocalMachine, kProductPolicyKey, kIdleTimerEnable, 1);
  EXPECT_EQ(ReadPolicyDword(fake, kIdleTimerEnablePolicy, sid), 1u) << "the machine still wins";
  EXPECT_EQ(fake.OpenHandleCount(), 0);
}

TEST(ReadPolicyDword, AUserKeyPathTooLongToBuildCountsAsAbsent) {
  const std::wstring sid(600, L'1');
  FakePlatform fake;
  fake.SetDword(Hive::Users, sid + L"\\" + kProductPolicyKey, kRunRAVITOR, 0);

  EXPECT_EQ(ReadPolicyDword(fake, kRunRAVITORPolicy, sid.c_str()), 1u);
}

}  // namespace
}  // namespace ravitor::testing
