// Every operation of the platform seam can be made to fail in the recording
// platform, and a failing operation behaves like the failed system call: it
// returns its failure value, records nothing and leaves things as they were.
// Each call is one crossing of the seam for the fake's observer.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "fake/FakePlatform.h"

namespace ravitor::testing {
namespace {

constexpr const wchar_t* kKeyPath = L"Software\\Policies\\Brevane\\Tolvex Pellan Session Timers";
constexpr WindowHandle kWindow{0x42};

std::intptr_t PassOn(void*, int, std::uintptr_t, std::intptr_t) { return 0; }
std::uint32_t Body(void* ran) {
  *static_cast<bool*>(ran) = true;
  return 0;
}
bool Visit(WindowHandle, void* visited) {
  ++*static_cast<int*>(visited);
  return true;
}

// Writes down each crossing of the seam, "+Platform" in and "-Platform" out.
class CrossingRecorder final : public SeamObserver {
 public:
  void Enter(Side side) override { crossings.push_back("+" + Name(side)); }
  void Leave(Side side) override { crossings.push_back("-" + Name(side)); }
  std::vector<std::string> crossings;

 private:
  static std::string Name(Side side) { return side == Side::Platform ? "Platform" : "Program"; }
};

int AllCalls(const FakePlatform& fake) {
  int calls = 0;
  for (const auto& operation : FakePlatform::OperationNames()) calls += fake.CallCount(operation);
  return calls;
}

struct FailureCase {
  const char* operation;
  // Sets up what the call needs, before the failure is switched on.
  std::function<void(FakePlatform&)> arrange;
  // Makes the failing call and checks what it returned and left behind.
  std::function<void(FakePlatform&)> failAndCheck;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.operation; }

RegistryKey OpenedKey(FakePlatform& fake) {
  fake.SetDword(Hive::LocalMachine, kKeyPath, L"RunRAVITOR", 1);
  return fake.OpenKeyForRead(Hive::LocalMachine, kKeyPath);
}

const FailureCase kCases[] = {
    {"OpenKeyForRead", [](FakePlatform& f) { f.CreateRegistryKey(Hive::LocalMachine, kKeyPath); },
     [](FakePlatform& f) {
       EXPECT_EQ(f.OpenKeyForRead(Hive::LocalMachine, kKeyPath), RegistryKey{});
       EXPECT_EQ(f.OpenHandleCount(), 0);
     }},
    {"QueryValue", [](FakePlatform& f) { OpenedKey(f); },
     [](FakePlatform& f) {
       unsigned char data[4] = {0xAA, 0xAA, 0xAA, 0xAA};
       std::uint32_t size = sizeof data;
       EXPECT_FALSE(f.QueryValue(RegistryKey{0x1001}, L"RunRAVITOR", data, &size));
       EXPECT_EQ(data[0], 0xAA) << "nothing read";
     }},
    {"CloseKey", [](FakePlatform& f) { OpenedKey(f); },
     [](FakePlatform& f) {
       f.CloseKey(RegistryKey{0x1001});
       EXPECT_EQ(f.OpenHandleCount(), 1) << "the key stays open";
     }},
    {"CreateKey", nullptr,
     [](FakePlatform& f) {
       EXPECT_EQ(f.CreateKey(Hive::LocalMachine, kKeyPath), RegistryKey{});
       EXPECT_FALSE(f.KeyExists(Hive::LocalMachine, kKeyPath));
     }},
    {"SetValue", [](FakePlatform& f) { f.CreateKey(Hive::LocalMachine, kKeyPath); },
     [](FakePlatform& f) {
       const unsigned char data[4] = {1, 0, 0, 0};
       f.SetValue(RegistryKey{0x1001}, L"Value", kRegDword, data, sizeof data);
       EXPECT_EQ(f.FindValue(Hive::LocalMachine, kKeyPath, L"Value"), nullptr);
     }},
    {"OutputDebugText", nullptr, [](FakePlatform& f) { f.OutputDebugText(L"Tick"); }},
    {"StartWindowTimer", nullptr,
     [](FakePlatform& f) {
       EXPECT_EQ(f.StartWindowTimer(kWindow, 151, 30000), 0u);
       EXPECT_FALSE(f.WindowTimerRunning(151));
     }},
    {"StopWindowTimer", [](FakePlatform& f) { f.StartWindowTimer(kWindow, 151, 30000); },
     [](FakePlatform& f) {
       f.StopWindowTimer(kWindow, 151);
       EXPECT_TRUE(f.WindowTimerRunning(151)) << "the timer keeps ticking";
     }},
    {"RegisterSessionNotification", nullptr,
     [](FakePlatform& f) {
       f.RegisterSessionNotification(kWindow);
       EXPECT_FALSE(f.SessionNotificationsRegistered());
     }},
    {"UnregisterSessionNotification",
     [](FakePlatform& f) { f.RegisterSessionNotification(kWindow); },
     [](FakePlatform& f) {
       f.UnregisterSessionNotification(kWindow);
       EXPECT_TRUE(f.SessionNotificationsRegistered());
     }},
    {"DisconnectSession", nullptr, [](FakePlatform& f) { f.DisconnectSession(); }},
    {"LogoffSession", nullptr, [](FakePlatform& f) { f.LogoffSession(); }},
    {"InstallHook", nullptr,
     [](FakePlatform& f) {
       EXPECT_EQ(f.InstallHook(HookKind::Keyboard, &PassOn, nullptr), HookHandle{});
       EXPECT_EQ(f.InstalledHookCount(HookKind::Keyboard), 0);
     }},
    {"RemoveHook", [](FakePlatform& f) { f.InstallHook(HookKind::Mouse, &PassOn, nullptr); },
     [](FakePlatform& f) {
       f.RemoveHook(HookHandle{0x1001});
       EXPECT_EQ(f.InstalledHookCount(HookKind::Mouse), 1) << "the hook stays in the chain";
       EXPECT_EQ(f.OpenHandleCount(), 1);
     }},
    {"CallNextHook", [](FakePlatform& f) { f.nextHookResult = 7; },
     [](FakePlatform& f) { EXPECT_EQ(f.CallNextHook(0, 0x100, 1), 0); }},
    {"ReadLastInputTime", [](FakePlatform& f) { f.lastInputTime = 0x1234; },
     [](FakePlatform& f) {
       std::uint32_t tickCount = 0xAAAAAAAA;
       EXPECT_FALSE(f.ReadLastInputTime(&tickCount));
       EXPECT_EQ(tickCount, 0xAAAAAAAAu) << "nothing read";
     }},
    {"StartThread", nullptr,
     [](FakePlatform& f) {
       bool ran = false;
       EXPECT_EQ(f.StartThread(&Body, &ran), ThreadHandle{});
       EXPECT_FALSE(ran);
       EXPECT_EQ(f.OpenHandleCount(), 0);
     }},
    {"ShowMessageBox", nullptr,
     [](FakePlatform& f) {
       f.ShowMessageBox(L"text", L"caption", 0x50010);
       EXPECT_TRUE(f.Windows().empty()) << "no box";
     }},
    {"Sleep", nullptr, [](FakePlatform& f) { f.Sleep(1); }},
    {"CloseThreadHandle",
     [](FakePlatform& f) {
       bool ran = false;
       f.StartThread(&Body, &ran);
     },
     [](FakePlatform& f) {
       f.CloseThreadHandle(ThreadHandle{0x1001});
       EXPECT_EQ(f.OpenHandleCount(), 1) << "the handle stays open";
     }},
    {"GetThreadLocale", [](FakePlatform& f) { f.threadLocale = 0x0C07; },
     [](FakePlatform& f) { EXPECT_EQ(f.GetThreadLocale(), 0u); }},
    {"SetThreadLocale", [](FakePlatform& f) { f.threadLocale = 0x0C07; },
     [](FakePlatform& f) {
       f.SetThreadLocale(0x0007);
       EXPECT_EQ(f.threadLocale, 0x0C07u);
     }},
    {"FormatCatalogMessage", nullptr,
     [](FakePlatform& f) {
       wchar_t buffer[512] = {L'x', 0};
       EXPECT_EQ(f.FormatCatalogMessage(114, buffer, 512), 0u);
       EXPECT_EQ(std::wstring(buffer), L"x") << "buffer untouched";
     }},
    {"GetModulePath", nullptr,
     [](FakePlatform& f) {
       wchar_t buffer[260] = {};
       EXPECT_EQ(f.GetModulePath(buffer, 260), 0u);
     }},
    {"EnumerateWindows", [](FakePlatform& f) { f.AddWindow(L"Untitled - Notepad"); },
     [](FakePlatform& f) {
       int visited = 0;
       EXPECT_FALSE(f.EnumerateWindows(&Visit, &visited));
       EXPECT_EQ(visited, 0);
     }},
    {"GetStoredWindowTitle", [](FakePlatform& f) { f.AddWindow(L"Untitled - Notepad"); },
     [](FakePlatform& f) {
       wchar_t buffer[260] = {};
       EXPECT_EQ(f.GetStoredWindowTitle(f.Windows()[0].handle, buffer, 260), 0);
     }},
    {"SendMessageWithTimeout", [](FakePlatform& f) { f.AddWindow(L"RAVITOR: Idle timer expired"); },
     [](FakePlatform& f) {
       f.SendMessageWithTimeout(f.Windows()[0].handle, 0x0010, 0, 0, 0, 100);
       EXPECT_EQ(f.Windows().size(), 1u) << "the window never got WM_CLOSE";
     }},
    {"OpenEventSource", nullptr,
     [](FakePlatform& f) { EXPECT_EQ(f.OpenEventSource(L"source"), EventSourceHandle{}); }},
    {"ReportEvent", [](FakePlatform& f) { f.OpenEventSource(L"source"); },
     [](FakePlatform& f) { f.ReportEvent(EventSourceHandle{0x1001}, 4, 1, 119); }},
    {"CloseEventSource", [](FakePlatform& f) { f.OpenEventSource(L"source"); },
     [](FakePlatform& f) {
       f.CloseEventSource(EventSourceHandle{0x1001});
       EXPECT_EQ(f.OpenHandleCount(), 1) << "the source stays open";
     }},
    {"TrimWorkingSet", nullptr, [](FakePlatform& f) { f.TrimWorkingSet(); }},
    {"CreateNamedMutex", nullptr,
     [](FakePlatform& f) {
       bool alreadyExisted = true;
       EXPECT_EQ(f.CreateNamedMutex(L"Local\\copy", &alreadyExisted), MutexHandle{});
       EXPECT_FALSE(alreadyExisted);
       EXPECT_TRUE(f.OpenMutexNames().empty());
     }},
    {"CloseMutex",
     [](FakePlatform& f) {
       bool alreadyExisted = false;
       f.CreateNamedMutex(L"Local\\copy", &alreadyExisted);
     },
     [](FakePlatform& f) {
       f.CloseMutex(MutexHandle{0x1001});
       EXPECT_EQ(f.OpenMutexNames().size(), 1u) << "the mutex stays held";
     }},
    {"ActiveConsoleSessionId", [](FakePlatform& f) { f.consoleSessionId = 0; },
     [](FakePlatform& f) {
       EXPECT_EQ(f.ActiveConsoleSessionId(), 0xFFFFFFFFu) << "no session attached";
     }},
    {"CreateApplicationWindow", nullptr,
     [](FakePlatform& f) {
       EXPECT_EQ(f.CreateApplicationWindow(L"class", L"title"), WindowHandle{});
       EXPECT_FALSE(f.ApplicationWindowExists());
     }},
    {"DestroyApplicationWindow",
     [](FakePlatform& f) { f.CreateApplicationWindow(L"class", L"title"); },
     [](FakePlatform& f) {
       f.DestroyApplicationWindow(kWindow);
       EXPECT_TRUE(f.ApplicationWindowExists());
     }},
    {"PostQuit", nullptr,
     [](FakePlatform& f) {
       f.PostQuit(0);
       EXPECT_FALSE(f.QuitCode());
     }},
    {"PaintNothing", nullptr, [](FakePlatform& f) { f.PaintNothing(kWindow); }},
    {"DefaultWindowProcedure", nullptr,
     [](FakePlatform& f) { EXPECT_EQ(f.DefaultWindowProcedure(kWindow, 0x0011, 0, 0), 0); }},
    {"EqualsIgnoringCase", nullptr,
     [](FakePlatform& f) { EXPECT_FALSE(f.EqualsIgnoringCase(L"Policy", L"POLICY")); }},
};

class FailingOperationTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailingOperationTest, ReturnsItsFailureValueRecordsNothingAndChangesNothing) {
  const FailureCase& c = GetParam();
  FakePlatform fake;
  if (c.arrange) c.arrange(fake);
  fake.ClearJournal();
  fake.Fail(c.operation);

  c.failAndCheck(fake);

  EXPECT_EQ(fake.CallCount(c.operation), fake.FailedCallCount(c.operation));
  EXPECT_EQ(fake.FailedCallCount(c.operation), 1);
  EXPECT_EQ(fake.FailedCallCount(), 1) << "no other operation failed";
  EXPECT_TRUE(fake.Journal().empty())
      << "first entry: " << ::testing::PrintToString(fake.Journal());
}

TEST_P(FailingOperationTest, WorksAgainOnceHealed) {
  const FailureCase& c = GetParam();
  FakePlatform fake;
  if (c.arrange) c.arrange(fake);
  fake.Fail(c.operation);
  fake.Heal(c.operation);
  fake.ClearJournal();
  const int failedBefore = fake.FailedCallCount();

  // The same call, now succeeding, breaks at least one of the checks the
  // failing call had to meet; run it where failures are not counted.
  ::testing::TestPartResultArray results;
  {
    ::testing::ScopedFakeTestPartResultReporter reporter(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
    c.failAndCheck(fake);
  }
  EXPECT_EQ(fake.FailedCallCount(), failedBefore);
  EXPECT_GE(fake.CallCount(c.operation), 1);
  const bool visible = results.size() > 0 || !fake.Journal().empty();
  EXPECT_TRUE(visible) << "a succeeding " << c.operation
                       << " looks just like a failing one, so its failure proves nothing";
}

TEST_P(FailingOperationTest, CrossesIntoThePlatformOnceForEachCall) {
  const FailureCase& c = GetParam();
  CrossingRecorder recorder;
  FakePlatform fake;
  if (c.arrange) c.arrange(fake);
  fake.Fail(c.operation);
  const int callsBefore = AllCalls(fake);

  fake.seamObserver = &recorder;
  c.failAndCheck(fake);
  fake.seamObserver = nullptr;

  std::vector<std::string> expected;
  for (int call = callsBefore; call < AllCalls(fake); ++call) {
    expected.insert(expected.end(), {"+Platform", "-Platform"});
  }
  EXPECT_GE(expected.size(), 2u);
  EXPECT_EQ(recorder.crossings, expected);
}

INSTANTIATE_TEST_SUITE_P(EveryOperation, FailingOperationTest, ::testing::ValuesIn(kCases),
                         [](const auto& testInfo) {
                           return std::string(testInfo.param.operation);
                         });

// What `call` threw for an operation's name; empty when it threw nothing.
std::string Refusal(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::invalid_argument& refused) {
    return refused.what();
  }
  return {};
}

TEST(FailingOperations, AMisspeltNameIsRefusedAndNamedInsteadOfSwitchingNothing) {
  FakePlatform fake;
  const std::string refusal = "FakePlatform has no operation named \"StartThreads\"";
  EXPECT_EQ(Refusal([&] { fake.Fail("StartThreads"); }), refusal);
  EXPECT_EQ(Refusal([&] { fake.Heal("StartThreads"); }), refusal);
  EXPECT_EQ(Refusal([&] { fake.FailedCallCount("StartThreads"); }), refusal);
  EXPECT_EQ(Refusal([&] { fake.CallCount("StartThreads"); }), refusal);
  EXPECT_EQ(Refusal([&] { fake.ReenterDuring("StartThreads", [] {}); }), refusal);
  // Spelt as the seam spells them, case and all.
  EXPECT_EQ(Refusal([&] { fake.Fail("startThread"); }),
            "FakePlatform has no operation named \"startThread\"");
  EXPECT_EQ(Refusal([&] { fake.Fail(""); }), "FakePlatform has no operation named \"\"");

  EXPECT_EQ(fake.PendingReentryCount(), 0u);
  bool ran = false;
  EXPECT_NE(fake.StartThread(&Body, &ran), ThreadHandle{});
  EXPECT_TRUE(ran);
  EXPECT_EQ(fake.FailedCallCount(), 0) << "nothing was made to fail";
}

TEST(FailingOperations, ReentryIsRefusedQuietlyForAKnownOperationThatNeverWaits) {
  FakePlatform fake;
  const auto& waiting = FakePlatform::WaitingOperationNames();
  for (const std::string& operation : FakePlatform::OperationNames()) {
    const bool waits = std::find(waiting.begin(), waiting.end(), operation) != waiting.end();
    EXPECT_EQ(fake.ReenterDuring(operation, [] {}), waits) << operation;
  }
  EXPECT_EQ(fake.PendingReentryCount(), waiting.size());
}

// The core's hook procedure, which passes the event on through the chain.
std::intptr_t PassOnThroughTheChain(void* fake, int code, std::uintptr_t wParam,
                                    std::intptr_t lParam) {
  return static_cast<FakePlatform*>(fake)->CallNextHook(code, wParam, lParam);
}

TEST(SeamCrossings, WhatThePlatformCallsBackIsTheProgramsAndNestsInsideIt) {
  CrossingRecorder recorder;
  FakePlatform fake;
  fake.InstallHook(HookKind::Keyboard, &PassOnThroughTheChain, &fake);
  fake.AddWindow(L"Untitled - Notepad");
  fake.AddWindow(L"Calculator");
  fake.seamObserver = &recorder;

  fake.DeliverInput(HookKind::Keyboard);
  EXPECT_EQ(recorder.crossings, (std::vector<std::string>{"+Platform", "+Program", "+Platform",
                                                          "-Platform", "-Program", "-Platform"}))
      << "the system's delivery, the hook procedure, its CallNextHook";

  recorder.crossings.clear();
  int visited = 0;
  fake.EnumerateWindows(&Visit, &visited);
  EXPECT_EQ(visited, 2);
  EXPECT_EQ(recorder.crossings, (std::vector<std::string>{"+Platform", "+Program", "-Program",
                                                          "+Program", "-Program", "-Platform"}));

  recorder.crossings.clear();
  bool ran = false;
  fake.StartThread(&Body, &ran);
  EXPECT_TRUE(ran);
  EXPECT_EQ(recorder.crossings,
            (std::vector<std::string>{"+Platform", "+Program", "-Program", "-Platform"}));

  recorder.crossings.clear();
  fake.threadMode = ThreadMode::Hold;
  bool heldRan = false;
  fake.StartThread(&Body, &heldRan);
  fake.RunHeldThreads();
  EXPECT_TRUE(heldRan);
  EXPECT_EQ(recorder.crossings,
            (std::vector<std::string>{"+Platform", "-Platform", "+Program", "-Program"}))
      << "a held thread's body runs when the test lets it";
  fake.seamObserver = nullptr;
}

// The names come from the seam's own headers (the platform, and the registry
// reads and debugger output it shares with the session service), so an
// operation added there
// cannot be forgotten here.
std::set<std::string> OperationsDeclaredInTheSeam() {
  std::set<std::string> names;
  for (const char* path :
       {RAVITOR_PLATFORM_HEADER, RAVITOR_REGISTRY_READER_HEADER, RAVITOR_DEBUG_OUTPUT_HEADER}) {
    std::ifstream header(path);
    std::stringstream text;
    text << header.rdbuf();
    const std::string source = text.str();
    const std::regex declaration(R"(virtual\s+(?:[\w:]+[\s*&]+)+(\w+)\s*\()");
    for (auto match = std::sregex_iterator(source.begin(), source.end(), declaration);
         match != std::sregex_iterator(); ++match) {
      names.insert((*match)[1].str());
    }
  }
  return names;
}

TEST(FailingOperations, EveryOperationOfTheSeamCanBeMadeToFailAndHasACase) {
  const std::set<std::string> declared = OperationsDeclaredInTheSeam();
  ASSERT_GT(declared.size(), 30u) << "the seam's header was read";
  const std::set<std::string> named(FakePlatform::OperationNames().begin(),
                                    FakePlatform::OperationNames().end());
  EXPECT_EQ(named, declared);
  std::set<std::string> withCase;
  for (const FailureCase& c : kCases) withCase.insert(c.operation);
  EXPECT_EQ(withCase, declared);
}

}  // namespace
}  // namespace ravitor::testing
