// The trace switch: on while the key exists, checked for every line.
#include "settings/DebugTrace.h"

#include <gtest/gtest.h>

#include "fake/FakePlatform.h"
#include "settings/PolicyNames.h"

namespace ravitor::testing {
namespace {

TEST(DebugTrace, IsSilentBeforeItIsConfigured) {
  FakePlatform fake;
  fake.CreateRegistryKey(Hive::LocalMachine, kTraceSwitchKey);
  DebugTrace trace(fake);

  EXPECT_FALSE(trace.Enabled());
  trace.Trace(L"Tick");
  EXPECT_TRUE(fake.TraceLines().empty());
}

TEST(DebugTrace, FollowsTheSwitchKeyFromOneLineToTheNext) {
  FakePlatform fake;
  DebugTrace trace(fake);
  trace.Configure(Hive::LocalMachine, kTraceSwitchKey);

  trace.Trace(L"before");
  EXPECT_FALSE(trace.Enabled());
  fake.CreateRegistryKey(Hive::LocalMachine, kTraceSwitchKey);
  trace.Trace(L"Tick");
  EXPECT_TRUE(trace.Enabled());
  fake.DeleteRegistryKey(Hive::LocalMachine, kTraceSwitchKey);
  trace.Trace(L"after");

  EXPECT_EQ(fake.TraceLines(), std::vector<std::wstring>{L"Tick"}) << "text sent unchanged";
  EXPECT_EQ(fake.OpenHandleCount(), 0);
}

TEST(DebugTrace, ReadsOnlyTheMachineHive) {
  FakePlatform fake;
  fake.CreateRegistryKey(Hive::CurrentUser, kTraceSwitchKey);
  DebugTrace trace(fake);
  trace.Configure(Hive::LocalMachine, kTraceSwitchKey);

  EXPECT_FALSE(trace.Enabled());
}

TEST(DebugTrace, KeyThatCannotBeOpenedForReadingKeepsItOff) {
  FakePlatform fake;
  fake.DenyRead(Hive::LocalMachine, kTraceSwitchKey);
  DebugTrace trace(fake);
  trace.Configure(Hive::LocalMachine, kTraceSwitchKey);

  trace.Trace(L"Tick");
  EXPECT_FALSE(trace.Enabled());
  EXPECT_TRUE(fake.TraceLines().empty());
}

}  // namespace
}  // namespace ravitor::testing
