// The restart bound on a server that has been up for weeks: the tick count
// the service reads is far from zero, and may pass where 32 bits would wrap.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "service/ServiceNames.h"
#include "service/SessionServiceFixture.h"

namespace ravitor::service::testing {
namespace {

constexpr std::uint64_t kMinute = 60 * 1000;
constexpr std::uint64_t kDay = 24 * 60 * kMinute;

struct ClockCase {
  const char* name;
  std::uint64_t bootedMs;  // the tick count when the service starts
};

void PrintTo(const ClockCase& c, std::ostream* os) { *os << c.name; }

class RestartClockTest : public SessionServiceTest,
                         public ::testing::WithParamInterface<ClockCase> {
 protected:
  void SetUp() override {
    SessionServiceTest::SetUp();
    fake.nowMs = GetParam().bootedMs;
    UserSession(1, kAlice);
    ASSERT_TRUE(service.Start());
  }
};

TEST_P(RestartClockTest, TheSixthEndWithinTenMinutesLeavesTheSessionAlone) {
  for (std::uint32_t restart = 1; restart <= kRestartLimit; ++restart) {
    fake.nowMs += kMinute;
    EndCopy(1, kTaskManagerExit);
    ASSERT_EQ(StartedIn(1), 1 + restart);
  }
  fake.nowMs += kMinute;
  EndCopy(1, kTaskManagerExit);

  EXPECT_EQ(StartedIn(1), 1 + kRestartLimit);
  EXPECT_EQ(fake.WaitedCopy(1), 0u);
  ASSERT_EQ(fake.records.size(), 1u);
  EXPECT_EQ(fake.records[0].eventId, kGaveUpRestartingEvent);
  EXPECT_EQ(fake.records[0].strings, (std::vector<std::wstring>{L"1", L"6", L"10"}));
}

TEST_P(RestartClockTest, EndsTwoMinutesApartAreStartedAgainForever) {
  for (unsigned end = 1; end <= 20; ++end) {
    fake.nowMs +=
        kRestartWindowMs / kRestartLimit;  // the sixth comes a whole window after the first
    EndCopy(1, kTaskManagerExit);
    ASSERT_EQ(StartedIn(1), 1u + end);
  }

  EXPECT_NE(fake.WaitedCopy(1), 0u);
  EXPECT_TRUE(fake.records.empty());
}

INSTANTIATE_TEST_SUITE_P(Uptimes, RestartClockTest,
                         ::testing::Values(ClockCase{"UpForFortyDays", 40 * kDay},
                                           // Beyond what 32 bits of milliseconds hold.
                                           ClockCase{"UpForSixtyDays", 60 * kDay},
                                           // The ends fall on both sides of 2^32 ms (49.7 days).
                                           ClockCase{"UpWhereThirtyTwoBitsWrap",
                                                     (std::uint64_t{1} << 32) - 3 * kMinute}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace ravitor::service::testing
