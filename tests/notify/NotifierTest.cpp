// Warning boxes, the sweep of expired boxes and event records.
#include "notify/Notifier.h"

#include <gtest/gtest.h>

#include <set>

#include "fake/FakePlatform.h"
#include "notify/CatalogIds.h"

namespace ravitor::testing {
namespace {

constexpr const wchar_t* kSource = L"Tolvex Pellan Session Timers";
const std::wstring kIdleCaptionText = L"RAVITOR: Idle timer expired";
const std::wstring kActiveCaptionText = L"RAVITOR: Logon timer expired";

// Timers whose limits are reached, as the sweep sees them.
// The warnings of these captions' timers are due.
ExpiredWarnings Due(const std::set<std::uint32_t>& captions) {
  return ExpiredWarnings{captions.count(kIdleCaption) != 0, captions.count(kActiveCaption) != 0};
}

struct LocaleCase {
  std::uint32_t threadLocale;
  const wchar_t* expectedSet;  // null: the locale is left alone
  std::uint16_t expectedLanguage;
};

void PrintTo(const LocaleCase& c, std::ostream* os) { *os << std::hex << c.threadLocale; }

// A caption as stored for `language`, without its "%0" and line break.
std::wstring StoredCaption(const FakePlatform& fake, std::uint32_t captionId,
                           std::uint16_t language) {
  const std::wstring& stored = *fake.Catalog().Find(captionId, language);
  return stored.substr(0, stored.find(L"%0"));
}

class ShowWarningLocaleTest : public ::testing::TestWithParam<LocaleCase> {};

TEST_P(ShowWarningLocaleTest, ReducesTheLocaleToItsLanguageExceptChinesePrc) {
  const LocaleCase& c = GetParam();
  FakePlatform fake;
  fake.threadLocale = c.threadLocale;
  Notifier notifier(fake, kSource);
  notifier.ShowWarning(kIdleDisconnectWarning, kIdleCaption);

  const auto sets = fake.JournalOf(L"SetThreadLocale");
  if (c.expectedSet == nullptr) {
    EXPECT_TRUE(sets.empty());
  } else {
    EXPECT_EQ(sets, std::vector<std::wstring>{c.expectedSet});
  }
  ASSERT_EQ(fake.OpenBoxes().size(), 1u);
  EXPECT_EQ(fake.OpenBoxes()[0].title, StoredCaption(fake, kIdleCaption, c.expectedLanguage));
}

INSTANTIATE_TEST_SUITE_P(Cases, ShowWarningLocaleTest,
                         ::testing::Values(LocaleCase{0x0C07, L"SetThreadLocale 0x7", 0x0407},
                                           LocaleCase{0x0407, L"SetThreadLocale 0x7", 0x0407},
                                           LocaleCase{0x0804, nullptr, 0x0804},
                                           LocaleCase{0x0404, L"SetThreadLocale 0x4", 0x0804},
                                           LocaleCase{0x0409, L"SetThreadLocale 0x9", 0x0409}));

TEST(ShowWarning, ShowsTheBoxOnItsOwnThreadAndClosesTheHandleAfterOneMillisecond) {
  FakePlatform fake;
  Notifier notifier(fake, kSource);
  notifier.ShowWarning(kIdleDisconnectWarning, kIdleCaption);

  EXPECT_EQ(fake.Journal(),
            (std::vector<std::wstring>{L"SetThreadLocale 0x9", L"StartThread",
                                       L"MessageBox RAVITOR: Idle timer expired | 0x50010",
                                       L"Sleep 1", L"CloseThreadHandle"}));
  ASSERT_EQ(fake.OpenBoxes().size(), 1u);
  EXPECT_EQ(
      fake.OpenBoxes()[0].text,
      L"Session has been idle over its time limit.\r\nIt will be disconnected in 2 minutes.\r\n"
      L"Press any key now to continue session. \r\n");
  EXPECT_EQ(fake.OpenHandleCount(), 0);
}

TEST(ShowWarning, TwoWarningsRaisedBackToBackKeepTheirOwnStrings) {
  FakePlatform fake;
  fake.threadLocale = 0x0409;
  fake.threadMode = ThreadMode::Hold;  // neither box is up before both are raised
  Notifier notifier(fake, kSource);
  notifier.ShowWarning(kActiveLogoffWarning, kActiveCaption);
  notifier.ShowWarning(kIdleDisconnectWarning, kIdleCaption);
  ASSERT_EQ(fake.HeldThreadCount(), 2u);
  fake.RunHeldThreads();

  const auto boxes = fake.OpenBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].title, kActiveCaptionText);
  EXPECT_EQ(boxes[0].text.substr(0, 41), L"Session has now exceeded its time limit.\r");
  EXPECT_NE(boxes[0].text.find(L"Logoff will start"), std::wstring::npos);
  EXPECT_EQ(boxes[1].title, kIdleCaptionText);
  EXPECT_NE(boxes[1].text.find(L"It will be disconnected"), std::wstring::npos);
}

TEST(ShowWarning, ThreadThatCannotStartShowsNothingAndLeaksNothing) {
  FakePlatform fake;
  fake.Fail("StartThread");
  Notifier notifier(fake, kSource);
  notifier.ShowWarning(kIdleDisconnectWarning, kIdleCaption);

  EXPECT_TRUE(fake.OpenBoxes().empty());
  EXPECT_EQ(fake.OpenHandleCount(), 0);
}

TEST(ShowWarning, UnformattableTextsGiveAnEmptyBoxRatherThanNone) {
  FakePlatform fake;
  fake.Fail("FormatCatalogMessage");
  Notifier notifier(fake, kSource);
  notifier.ShowWarning(kIdleDisconnectWarning, kIdleCaption);

  EXPECT_EQ(fake.JournalOf(L"MessageBox"), std::vector<std::wstring>{L"MessageBox  | 0x50010"});
}

TEST(CloseExpiredWarnings, ClosesOnlyWindowsWhoseTitleIsExactlyAReachedCaption) {
  FakePlatform fake;
  fake.AddWindow(L"Untitled - Notepad");
  fake.AddWindow(kIdleCaptionText + L" ");
  fake.AddWindow(L"");
  fake.AddWindow(kActiveCaptionText);  // its timer has not reached its limit
  fake.AddWindow(L"ravitor: idle timer expired");
  fake.AddWindow(kIdleCaptionText);
  Notifier notifier(fake, kSource);

  EXPECT_TRUE(notifier.CloseExpiredWarnings(Due({kIdleCaption})));

  EXPECT_EQ(
      fake.JournalOf(L"SendMessageTimeout"),
      std::vector<std::wstring>{L"SendMessageTimeout RAVITOR: Idle timer expired 0x10 0 0 0 100"});
  EXPECT_EQ(fake.Windows().size(), 5u);
}

TEST(CloseExpiredWarnings, ClosesBothCaptionsWhenBothTimersReachedTheirLimit) {
  FakePlatform fake;
  fake.AddWindow(kActiveCaptionText);
  fake.AddWindow(kIdleCaptionText);
  fake.AddWindow(kIdleCaptionText, /*answersClose=*/false);
  Notifier notifier(fake, kSource);
  notifier.CloseExpiredWarnings(Due({kIdleCaption, kActiveCaption}));

  EXPECT_EQ(fake.JournalOf(L"SendMessageTimeout").size(), 3u)
      << "a window that does not answer is asked once";
  ASSERT_EQ(fake.Windows().size(), 1u);
}

TEST(CloseExpiredWarnings, SweepsNothingWhenNoTimerReachedItsLimitOrCaptionsCannotBeFormatted) {
  FakePlatform fake;
  fake.AddWindow(kIdleCaptionText);
  Notifier notifier(fake, kSource);
  notifier.CloseExpiredWarnings(Due({}));
  fake.Fail("FormatCatalogMessage");
  notifier.CloseExpiredWarnings(Due({kIdleCaption}));

  EXPECT_TRUE(fake.JournalOf(L"SendMessageTimeout").empty());
}

// Every thread that creates a window also owns a hidden top-level "Default
// IME" window. While a box thread hides a box the sweep has just closed, it
// reads no messages for about 2 s under Xvfb, and a hung thread for ever.
TEST(CloseExpiredWarnings, ReadsNoTitleByAskingTheWindowsThread) {
  constexpr std::uint32_t kBusyMs = 2000;
  constexpr std::uint32_t kBoxCount = 13;
  FakePlatform fake;
  for (std::uint32_t box = 0; box < kBoxCount; ++box) {
    fake.AddBusyWindow(L"Default IME", kBusyMs);
    fake.AddBusyWindow(kIdleCaptionText, kBusyMs);
  }
  fake.AddBusyWindow(L"Untitled - Notepad", kBusyMs);
  Notifier notifier(fake, kSource);
  notifier.CloseExpiredWarnings(Due({kIdleCaption}));

  // Only the WM_CLOSE of each matching box waits, and at most its time-out.
  EXPECT_LE(fake.WaitedMs(), kBoxCount * kSweepTimeoutMs);
  EXPECT_EQ(fake.JournalOf(L"SendMessageTimeout").size(), kBoxCount);
  EXPECT_EQ(fake.Windows().size(), kBoxCount + 1) << "every box goes";
}

TEST(CloseExpiredWarnings, FindsTheBoxInTheLanguageItWasShownIn) {
  FakePlatform fake;
  fake.threadLocale = 0x0C07;
  Notifier notifier(fake, kSource);
  notifier.ShowWarning(kIdleDisconnectWarning, kIdleCaption);
  notifier.CloseExpiredWarnings(Due({kIdleCaption}));

  EXPECT_TRUE(fake.OpenBoxes().empty());
}

TEST(ReportSessionEvent, WritesOneRecordThroughAFreshSource) {
  FakePlatform fake;
  Notifier notifier(fake, kSource);
  notifier.ReportSessionEvent(kEventTypeInformation, kCategoryWtsEvent, kSessionDisconnectedEvent);

  EXPECT_EQ(fake.Journal(),
            (std::vector<std::wstring>{L"OpenEventSource Tolvex Pellan Session Timers",
                                       L"ReportEvent 4 1 119", L"CloseEventSource"}));
}

TEST(ReportSessionEvent, SourceThatCannotBeOpenedWritesNothing) {
  FakePlatform fake;
  fake.Fail("OpenEventSource");
  Notifier notifier(fake, kSource);
  notifier.ReportSessionEvent(kEventTypeInformation, kCategoryWtsEvent, kSessionLoggedOffEvent);

  EXPECT_EQ(fake.CallCount("ReportEvent"), 0);
  EXPECT_EQ(fake.CallCount("CloseEventSource"), 0);
}

}  // namespace
}  // namespace ravitor::testing
