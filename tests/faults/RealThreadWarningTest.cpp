// Warning boxes on real threads that block until their box is closed, as on
// the real system, so that ThreadSanitizer watches the box threads and the
// main thread share the platform.
#include <gtest/gtest.h>

#include <algorithm>

#include "CoreFixture.h"
#include "notify/CatalogIds.h"

namespace ravitor::testing {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::wstring>;

constexpr auto kPatience = 10s;  // far beyond any scheduling delay
const std::wstring kIdleCaptionText = L"RAVITOR: Idle timer expired";
const std::wstring kActiveCaptionText = L"RAVITOR: Logon timer expired";

std::wstring EnglishText(const FakePlatform& fake, std::uint32_t id) {
  return *fake.Catalog().Find(id, 0x0409);
}

// The boxes in caption order: the threads show them in whatever order they run.
std::vector<FakeWindow> BoxesByCaption(const FakePlatform& fake) {
  std::vector<FakeWindow> boxes = fake.OpenBoxes();
  std::sort(boxes.begin(), boxes.end(),
            [](const FakeWindow& a, const FakeWindow& b) { return a.title < b.title; });
  return boxes;
}

class RealThreadWarningTest : public CoreFixture {
 protected:
  RealThreadWarningTest() { fake.threadMode = ThreadMode::RealThreads; }

  // Copies taken under the platform's lock, since box threads write too.
  Lines ActionsNow() const {
    Lines actions;
    for (const auto& entry : fake.JournalOf(L"")) {
      for (const wchar_t* prefix : {L"MessageBox", L"SendMessageTimeout", L"ReportEvent",
                                    L"DisconnectSession", L"LogoffSession"}) {
        if (entry.rfind(prefix, 0) == 0) actions.push_back(entry);
      }
    }
    return actions;
  }
};

class TwoWarningsTest : public RealThreadWarningTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TwoWarningsTest, RaisedBackToBackEachBoxKeepsItsOwnStrings) {
  const bool threadsHeldAtStart = GetParam();
  if (threadsHeldAtStart) fake.CloseThreadGate();
  notifier.ShowWarning(kActiveLogoffWarning, kActiveCaption);
  notifier.ShowWarning(kIdleDisconnectWarning, kIdleCaption);
  if (threadsHeldAtStart) {
    EXPECT_TRUE(fake.OpenBoxes().empty()) << "no box before both warnings are raised";
    fake.OpenThreadGate();
  }
  ASSERT_TRUE(fake.WaitForOpenBoxes(2, kPatience));

  EXPECT_EQ(fake.RunningThreadCount(), 2) << "each box blocks its own thread";
  const auto boxes = BoxesByCaption(fake);
  EXPECT_EQ(boxes[0].title, kIdleCaptionText);
  EXPECT_EQ(boxes[0].text, EnglishText(fake, kIdleDisconnectWarning));
  EXPECT_EQ(boxes[1].title, kActiveCaptionText);
  EXPECT_EQ(boxes[1].text, EnglishText(fake, kActiveLogoffWarning));
  EXPECT_EQ(fake.OpenHandleCount(), 0) << "thread handles are closed while the boxes are up";

  for (const FakeWindow& box : boxes) fake.CloseWindowByUser(box.handle);
  EXPECT_TRUE(fake.WaitForThreadsToEnd(kPatience));
}

INSTANTIATE_TEST_SUITE_P(Scheduling, TwoWarningsTest, ::testing::Values(false, true),
                         [](const auto& testInfo) {
                           return std::string(testInfo.param ? "ThreadsHeldAtStart"
                                                             : "ThreadsRunAtOnce");
                         });

TEST_F(RealThreadWarningTest, SweepClosesBothBoxesOfOneTickWhileTheirThreadsWait) {
  TsPolicy(kMaxConnectionTime, 600000);
  TsPolicy(kMaxIdleTime, 600000);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  Ticks(20);
  ASSERT_TRUE(fake.WaitForOpenBoxes(2, kPatience));
  ASSERT_EQ(fake.RunningThreadCount(), 2);

  Ticks(4);

  EXPECT_TRUE(fake.OpenBoxes().empty());
  EXPECT_TRUE(fake.WaitForThreadsToEnd(kPatience)) << "WM_CLOSE ends each box and its thread";
  const Lines actions = ActionsNow();
  ASSERT_EQ(actions.size(), 8u) << ::testing::PrintToString(actions);
  // The sweep goes through the windows in the order the threads put them up.
  Lines closes(actions.begin() + 2, actions.begin() + 4);
  std::sort(closes.begin(), closes.end());
  EXPECT_EQ(closes, (Lines{L"SendMessageTimeout " + kIdleCaptionText + L" 0x10 0 0 0 100",
                           L"SendMessageTimeout " + kActiveCaptionText + L" 0x10 0 0 0 100"}));
  EXPECT_EQ(Lines(actions.begin() + 4, actions.end()),
            (Lines{L"ReportEvent 4 1 119", L"DisconnectSession", L"ReportEvent 4 1 119",
                   L"DisconnectSession"}));
}

TEST_F(RealThreadWarningTest, MainThreadTicksOnWhileTheUserReadsTheBox) {
  TsPolicy(kMaxIdleTime, 600000);
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  Ticks(20);
  ASSERT_TRUE(fake.WaitForOpenBoxes(1, kPatience));

  Ticks(2);
  EXPECT_EQ(CountOf(TimerSlot::ActiveButIdle), 22u);
  EXPECT_EQ(fake.RunningThreadCount(), 1);
  fake.CloseWindowByUser(fake.OpenBoxes().front().handle);
  EXPECT_TRUE(fake.WaitForThreadsToEnd(kPatience));
  Ticks(2);

  EXPECT_EQ(ActionsNow(), (Lines{L"MessageBox " + kIdleCaptionText + L" | 0x50010",
                                 L"ReportEvent 4 1 119", L"DisconnectSession"}))
      << "nothing left to sweep";
}

TEST_F(RealThreadWarningTest, ManyBoxesComeAndGoWhileInputAndTicksKeepArriving) {
  TsPolicy(kMaxIdleTime, 30000);  // one tick: warn at once, act four ticks later
  ASSERT_TRUE(timers.InitializeAllTimers(kAppWindow));
  constexpr int kRounds = 40;
  for (int round = 0; round < kRounds; ++round) {
    Ticks(1);
    ASSERT_TRUE(fake.WaitForOpenBoxes(1, kPatience)) << "round " << round;
    if (round % 2 == 1) fake.CloseWindowByUser(fake.OpenBoxes().front().handle);
    Ticks(4);  // the sweep closes what the user left open
    ASSERT_TRUE(fake.WaitForThreadsToEnd(kPatience)) << "round " << round;
    fake.DeliverInput(round % 3 == 0 ? HookKind::Keyboard : HookKind::Mouse);
  }
  EXPECT_EQ(fake.JournalOf(L"MessageBox").size(), static_cast<std::size_t>(kRounds));
  EXPECT_EQ(fake.JournalOf(L"SendMessageTimeout").size(), static_cast<std::size_t>(kRounds / 2));
  EXPECT_EQ(fake.JournalOf(L"DisconnectSession").size(), static_cast<std::size_t>(kRounds));
  EXPECT_EQ(fake.OpenHandleCount(), 2) << "only the hooks";
}

TEST(RealThreadPlatform, BoxesStillOpenWhenTheProcessEndsReleaseTheirThreads) {
  auto fake = std::make_unique<FakePlatform>();
  fake->threadMode = ThreadMode::RealThreads;
  Notifier notifier(*fake, L"Tolvex Pellan Session Timers");
  notifier.ShowWarning(kIdleDisconnectWarning, kIdleCaption);
  notifier.ShowWarning(kActiveDisconnectWarning, kActiveCaption);
  ASSERT_TRUE(fake->WaitForOpenBoxes(2, kPatience));
  ASSERT_EQ(fake->RunningThreadCount(), 2);

  fake.reset();  // joins the box threads; a box that kept blocking would hang here
  EXPECT_EQ(fake, nullptr);
}

TEST(RealThreadPlatform, ThreadsHeldAtTheGateWhenTheProcessEndsStillFreeTheirStrings) {
  auto fake = std::make_unique<FakePlatform>();
  fake->threadMode = ThreadMode::RealThreads;
  fake->CloseThreadGate();
  Notifier notifier(*fake, L"Tolvex Pellan Session Timers");
  notifier.ShowWarning(kIdleDisconnectWarning, kIdleCaption);
  ASSERT_EQ(fake->RunningThreadCount(), 1);

  fake.reset();  // the body runs and frees the box's strings (the leak checker would see)
  EXPECT_EQ(fake, nullptr);
}

}  // namespace
}  // namespace ravitor::testing
