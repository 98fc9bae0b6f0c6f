// How the session service finds a copy already running in a session: among
// other processes in any order, and what it does when it cannot hold one.
#include <gtest/gtest.h>

#include <cstdint>
#include <cwctype>
#include <string>
#include <vector>

#include "service/ServiceNames.h"
#include "service/SessionServiceFixture.h"

namespace ravitor::service::testing {
namespace {

struct Listed {
  std::uint32_t sessionId;
  const wchar_t* imagePath;
};

struct ListCase {
  const char* name;
  std::vector<Listed> before;  // listed ahead of the copy in session 2
};

void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }

bool IsNamedLikeTheProgram(const std::wstring& imagePath) {
  const std::wstring suffix = L"\\ravitor.exe";
  std::wstring lower;
  for (const wchar_t c : imagePath)
    lower += static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
  return lower.size() > suffix.size() &&
         lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class ProcessListTest : public SessionServiceTest,
                        public ::testing::WithParamInterface<ListCase> {};

TEST_P(ProcessListTest, AdoptsTheCopyFromTheServicesFolderWhereverItIsListed) {
  UserSession(1, kAlice);
  UserSession(2, kBob);
  for (const Listed& process : GetParam().before) {
    fake.RunProcess(process.sessionId, process.imagePath);
  }
  const std::uint32_t copy = fake.RunProcess(2, FakeServicePlatform::kProgramPath);

  ASSERT_TRUE(service.Start());

  EXPECT_EQ(fake.WaitedCopy(2), copy);
  EXPECT_EQ(StartedIn(2), 0u);
  EXPECT_EQ(StartedIn(1), 1u);
  // Only a process with the program's file name in a user session is asked
  // for its full path.
  for (const std::uint32_t queried : fake.imagePathQueries) {
    for (const FakeProcess& process : fake.processes) {
      if (process.processId != queried) continue;
      EXPECT_TRUE(IsNamedLikeTheProgram(process.imagePath)) << queried;
      EXPECT_NE(process.sessionId, 0u) << queried;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ProcessListTest,
    ::testing::Values(
        ListCase{"OtherProgramsFirst",
                 {{0, L"C:\\Windows\\System32\\svchost.exe"},
                  {2, L"C:\\Windows\\explorer.exe"},
                  {1, L"C:\\Windows\\System32\\notepad.exe"}}},
        ListCase{"TheSameNameFromAnotherFolderFirst",
                 {{2, L"C:\\Copies\\RAVITOR.exe"},
                  {2, L"C:\\Program Files\\Tolvex Pellan Session Timers\\Old\\ravitor.EXE"}}},
        ListCase{"ANameThatOnlyEndsLikeTheProgramFirst",
                 {{2, L"C:\\Program Files\\Tolvex Pellan Session Timers\\NOT-RAVITOR.exe"}}},
        ListCase{"TheServicesOwnSessionFirst", {{0, FakeServicePlatform::kProgramPath}}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct HoldCase {
  const char* name;
  bool opens;     // OpenProcessForWait gives a handle
  bool afterEnd;  // the copy runs when the service's own copy ends, not at start
};

void PrintTo(const HoldCase& c, std::ostream* os) { *os << c.name; }

class UnheldCopyTest : public SessionServiceTest, public ::testing::WithParamInterface<HoldCase> {
 protected:
  std::uint32_t RunCopyThatCannotBeHeld() {
    const std::uint32_t copy = fake.RunProcess(2, FakeServicePlatform::kProgramPath);
    fake.processes.back().opensForWait = GetParam().opens;
    fake.processes.back().watchable = false;
    return copy;
  }
};

// Such a copy may be ending; a copy the service cannot wait on is no copy to
// rely on, so the session gets one of the service's own.
TEST_P(UnheldCopyTest, ACopyThatCannotBeWaitedOnIsNotAdoptedAndANewOneIsStarted) {
  UserSession(2, kBob);
  std::uint32_t byHand = 0;
  if (!GetParam().afterEnd) byHand = RunCopyThatCannotBeHeld();
  ASSERT_TRUE(service.Start());
  if (GetParam().afterEnd) {
    byHand = RunCopyThatCannotBeHeld();
    EndCopy(2, 0);
  }

  const std::size_t expected = GetParam().afterEnd ? 2 : 1;
  ASSERT_EQ(StartedIn(2), expected);
  EXPECT_EQ(fake.Started().back()->startedAs, kBob);
  const std::uint32_t waited = fake.WaitedCopy(2);
  EXPECT_NE(waited, 0u);
  EXPECT_NE(waited, byHand);
  EXPECT_EQ(fake.OpenHandleCount(), 1 + 2) << "the new copy and the key watches, nothing of "
                                              "the copy that could not be held";
}

INSTANTIATE_TEST_SUITE_P(Cases, UnheldCopyTest,
                         ::testing::Values(HoldCase{"AtStartItCannotBeOpened", false, false},
                                           HoldCase{"AtStartItCannotBeWatched", true, false},
                                           HoldCase{"AfterAnEndItCannotBeOpened", false, true},
                                           HoldCase{"AfterAnEndItCannotBeWatched", true, true}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace ravitor::service::testing
