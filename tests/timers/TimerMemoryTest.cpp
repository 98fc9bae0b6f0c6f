// A timer whose memory cannot be obtained leaves its slot empty, and the set
// carries on with the others.
#include <new>

#include "CoreFixture.h"

namespace {

// Fails the nothrow allocations of this test binary while armed.
int nothrowAllocationsToFail = 0;

}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (nothrowAllocationsToFail > 0) {
    --nothrowAllocationsToFail;
    return nullptr;
  }
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}

namespace ravitor::testing {
namespace {

class TimerMemoryTest : public CoreFixture {
 protected:
  ~TimerMemoryTest() override { nothrowAllocationsToFail = 0; }
};

TEST_F(TimerMemoryTest, SlotStaysEmptyAndTheOtherTimersWork) {
  TsPolicy(kMaxConnectionTime, 600000);
  TsPolicy(kMaxIdleTime, 600000);
  nothrowAllocationsToFail = 1;  // the Active timer, created first

  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  EXPECT_EQ(timers.Timer(TimerSlot::Active), nullptr);
  Ticks(24);
  timers.OnSessionChange(3);
  timers.OnPolicyChange();

  EXPECT_EQ(Actions(), (std::vector<std::wstring>{
                           L"MessageBox RAVITOR: Idle timer expired | 0x50010",
                           L"SendMessageTimeout RAVITOR: Idle timer expired 0x10 0 0 0 100",
                           L"ReportEvent 4 1 119", L"DisconnectSession"}));
}

TEST_F(TimerMemoryTest, NoTimerAtAllMeansNothingToDo) {
  TsPolicy(kMaxIdleTime, 600000);
  nothrowAllocationsToFail = 3;
  EXPECT_FALSE(timers.InitializeAllTimers(kAppWindow));
}

TEST_F(TimerMemoryTest, WarningWithoutMemoryShowsNoBox) {
  TsPolicy(kMaxIdleTime, 600000);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  Ticks(19);
  nothrowAllocationsToFail = 1;
  Ticks(1);
  EXPECT_TRUE(fake.OpenBoxes().empty());
  EXPECT_EQ(fake.OpenHandleCount(), 2) << "only the two hooks";
}

}  // namespace
}  // namespace ravitor::testing
