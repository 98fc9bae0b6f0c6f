// Event-log source registration: the values, their types and byte sizes.
#include "notify/EventLogSource.h"

#include <gtest/gtest.h>

#include "fake/FakePlatform.h"

namespace ravitor::testing {
namespace {

const std::wstring kSourceKey =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tolvex Pellan Session Timers";

// The text with its terminator, as it lies in memory (UTF-16 on Windows).
std::vector<unsigned char> WideBytes(const std::wstring& text) {
  const auto* first = reinterpret_cast<const unsigned char*>(text.c_str());
  return {first, first + (text.size() + 1) * sizeof(wchar_t)};
}

TEST(RegisterEventLogSource, PointsBothMessageFilesAtTheExecutable) {
  FakePlatform fake;
  fake.modulePath = L"C:\\Tools\\RAVITOR.exe";
  RegisterEventLogSource(fake, L"Tolvex Pellan Session Timers", 4);

  for (const wchar_t* name : {L"EventMessageFile", L"CategoryMessageFile"}) {
    const FakeValue* value = fake.FindValue(Hive::LocalMachine, kSourceKey, name);
    ASSERT_NE(value, nullptr) << name;
    EXPECT_EQ(value->type, kRegExpandSz);
    EXPECT_EQ(value->data.size(), (20u + 1) * sizeof(wchar_t)) << "the length plus the terminator";
    EXPECT_EQ(value->data, WideBytes(fake.modulePath));
  }
  const FakeValue* types = fake.FindValue(Hive::LocalMachine, kSourceKey, L"TypesSupported");
  const FakeValue* categories = fake.FindValue(Hive::LocalMachine, kSourceKey, L"CategoryCount");
  ASSERT_TRUE(types && categories);
  EXPECT_EQ(types->type, kRegDword);
  EXPECT_EQ(types->data, (std::vector<unsigned char>{7, 0, 0, 0}));
  EXPECT_EQ(categories->type, kRegDword);
  EXPECT_EQ(categories->data, (std::vector<unsigned char>{4, 0, 0, 0}));
  EXPECT_EQ(fake.OpenHandleCount(), 0);
}

TEST(RegisterEventLogSource, WithoutCategoriesWritesOnlyTheEventValues) {
  FakePlatform fake;
  RegisterEventLogSource(fake, L"Tolvex Pellan Session Timers", 0);

  EXPECT_EQ(fake.JournalOf(L"SetValue"),
            (std::vector<std::wstring>{L"SetValue EventMessageFile", L"SetValue TypesSupported"}));
}

TEST(RegisterEventLogSource, WritesNothingWithoutAccessToTheMachineHive) {
  FakePlatform fake;
  fake.DenyRead(Hive::LocalMachine, kSourceKey);
  RegisterEventLogSource(fake, L"Tolvex Pellan Session Timers", 4);

  EXPECT_EQ(fake.CallCount("SetValue"), 0);
  EXPECT_EQ(fake.OpenHandleCount(), 0);
}

// A path of `units` UTF-16 units (without the terminator).
std::wstring ModulePathOf(std::size_t units) {
  const std::wstring folder = L"C:\\", file = L"\\RAVITOR.exe";
  return folder + std::wstring(units - folder.size() - file.size(), L'x') + file;
}

struct PathCase {
  const char* name;
  bool pathFails;
  std::size_t units;  // the executable's path, when it can be read
  bool registered;
};

void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }

class ModulePathTest : public ::testing::TestWithParam<PathCase> {};

// Without the executable's whole path the source would point at no message
// file, so nothing at all is left in the machine hive, not even the key.
TEST_P(ModulePathTest, RegistersOnlyAPathThatFitsWholeAndLeavesNoKeyOtherwise) {
  const PathCase& c = GetParam();
  FakePlatform fake;
  if (c.pathFails) {
    fake.Fail("GetModulePath");
  } else {
    fake.modulePath = ModulePathOf(c.units);
  }
  RegisterEventLogSource(fake, L"Tolvex Pellan Session Timers", 4);

  EXPECT_EQ(fake.KeyExists(Hive::LocalMachine, kSourceKey), c.registered);
  EXPECT_EQ(fake.CallCount("CreateKey"), c.registered ? 1 : 0);
  EXPECT_EQ(fake.CallCount("SetValue"), c.registered ? 4 : 0);
  if (c.registered) {
    const FakeValue* value = fake.FindValue(Hive::LocalMachine, kSourceKey, L"EventMessageFile");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->data, WideBytes(fake.modulePath)) << "the whole path";
  }
  EXPECT_EQ(fake.OpenHandleCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Paths, ModulePathTest,
                         ::testing::Values(PathCase{"Unreadable", true, 0, false},
                                           PathCase{"Units259Fit", false, 259, true},
                                           PathCase{"Units260AreCut", false, 260, false},
                                           PathCase{"Units261AreCut", false, 261, false},
                                           PathCase{"Units300AreCut", false, 300, false}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(RegisterEventLogSource, NameTooLongForTheKeyPathIsNotRegistered) {
  FakePlatform fake;
  RegisterEventLogSource(fake, std::wstring(250, L'n').c_str(), 4);
  EXPECT_EQ(fake.CallCount("CreateKey"), 0);
}

struct NameCase {
  const char* name;
  std::size_t pathUnits;  // the key's whole path, without its terminator
  bool registered;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }

class SourceNameTest : public ::testing::TestWithParam<NameCase> {};

// The key's path lies in a buffer of 260 units with its terminator.
TEST_P(SourceNameTest, CreatesTheKeyUnderItsWholeNameOrNoKeyAtAll) {
  const NameCase& c = GetParam();
  const std::wstring folder = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
  const std::wstring name(c.pathUnits - folder.size(), L'n');
  FakePlatform fake;
  RegisterEventLogSource(fake, name.c_str(), 4);

  if (c.registered) {
    EXPECT_EQ(fake.JournalOf(L"CreateKey"),
              (std::vector<std::wstring>{L"CreateKey HKLM\\" + folder + name}));
    EXPECT_TRUE(fake.KeyExists(Hive::LocalMachine, folder + name));
    EXPECT_EQ(fake.CallCount("SetValue"), 4);
  } else {
    EXPECT_TRUE(fake.Journal().empty()) << "no key, no value, not even under a shortened name";
    EXPECT_FALSE(fake.KeyExists(Hive::LocalMachine, folder + name.substr(0, name.size() - 1)));
  }
  EXPECT_EQ(fake.OpenHandleCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Names, SourceNameTest,
                         ::testing::Values(NameCase{"Units259Fit", 259, true},
                                           NameCase{"Units260DoNotFit", 260, false}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace ravitor::testing
