// The session service's own path against its buffer of kPathCapacity units
// with the terminator: a path, or the program's path beside it, that does
// not fit is treated as a path that cannot be read.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "service/ServiceNames.h"
#include "service/SessionServiceFixture.h"

namespace ravitor::service::testing {
namespace {

struct OwnPathCase {
  const char* name;
  std::size_t folderUnits;  // "C:\..." up to, not including, the last separator
  const wchar_t* fileName;  // the service's own file name
  bool works;
};

void PrintTo(const OwnPathCase& c, std::ostream* os) { *os << c.name; }

std::wstring FolderOf(std::size_t units) { return L"C:\\" + std::wstring(units - 3, L'x'); }

class OwnPathTest : public SessionServiceTest, public ::testing::WithParamInterface<OwnPathCase> {};

TEST_P(OwnPathTest, StartsFromAWholePathAndOtherwiseStartsAndWatchesNothing) {
  const OwnPathCase& c = GetParam();
  const std::wstring folder = c.folderUnits == 0 ? L"" : FolderOf(c.folderUnits);
  fake.modulePath = c.folderUnits == 0 ? L"" : folder + L"\\" + c.fileName;
  const std::wstring program = folder + L"\\RAVITOR.exe";
  fake.registry.CreateRegistryKey(Hive::LocalMachine, kTraceSwitchKey);
  UserSession(1, kAlice);
  UserSession(2, kBob);
  // A copy already running in session 2 from that folder.
  const std::uint32_t running = fake.RunProcess(2, program);

  EXPECT_EQ(service.Start(), c.works);

  ASSERT_FALSE(fake.trace.empty());
  if (c.works) {
    EXPECT_EQ(fake.trace[0], L"Session service started");
    ASSERT_EQ(fake.Started().size(), 1u);
    EXPECT_EQ(fake.Started()[0]->imagePath, program) << "the whole folder";
    EXPECT_EQ(fake.WaitedCopy(2), running) << "its whole path read back too";
    EXPECT_EQ(fake.watchedKeys.size(), 2u);
  } else {
    EXPECT_EQ(fake.trace,
              (std::vector<std::wstring>{L"Session service cannot tell its own folder"}));
    EXPECT_TRUE(fake.Started().empty());
    EXPECT_EQ(fake.WaitedCopy(2), 0u);
    EXPECT_EQ(fake.OpenHandleCount(), 0) << "no copy held, no key watched";
  }
  EXPECT_TRUE(fake.records.empty());
}

// 1023 units and the terminator fill the buffer; the program's file name is
// 8 units shorter than the service's.
INSTANTIATE_TEST_SUITE_P(
    Paths, OwnPathTest,
    ::testing::Values(OwnPathCase{"Unreadable", 0, L"", false},
                      OwnPathCase{"OwnPathOf1023UnitsFits", 1003, L"RAVITOR-service.exe", true},
                      OwnPathCase{"OwnPathOf1024UnitsDoesNot", 1004, L"RAVITOR-service.exe", false},
                      OwnPathCase{"ProgramPathOf1023UnitsFits", 1011, L"s.exe", true},
                      OwnPathCase{"ProgramPathOf1024UnitsDoesNot", 1012, L"s.exe", false}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace ravitor::service::testing
