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

TEST(RegisterEventLogSource, WritesNoEmptyOrCutPathAsMessageFile) {
  for (const bool failPath : {true, false}) {
    FakePlatform fake;
    if (failPath) {
      fake.Fail("GetModulePath");
    } else {
      fake.modulePath = L"C:\\" + std::wstring(300, L'x') + L".exe";
    }
    RegisterEventLogSource(fake, L"Tolvex Pellan Session Timers", 4);

    EXPECT_EQ(fake.CallCount("SetValue"), 0) << failPath;
    EXPECT_EQ(fake.OpenHandleCount(), 0) << failPath;
  }
}

TEST(RegisterEventLogSource, NameTooLongForTheKeyPathIsNotRegistered) {
  FakePlatform fake;
  RegisterEventLogSource(fake, std::wstring(250, L'n').c_str(), 4);
  EXPECT_EQ(fake.CallCount("CreateKey"), 0);
}

}  // namespace
}  // namespace ravitor::testing
