// Recording platform for tests: an in-memory registry for both hives, a
// journal of what the program asked the system to do, switchable failures,
// top-level windows, installed hooks and warning threads under test control,
// and an observer of each crossing between the program and the platform.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fake/McCatalog.h"
#include "platform/Platform.h"

namespace ravitor::testing {

struct FakeValue {
  std::uint32_t type;
  std::vector<unsigned char> data;
};

struct FakeWindow {
  WindowHandle handle;
  std::wstring title;
  std::wstring text;         // a message box's text
  bool answersClose = true;  // false: WM_CLOSE times out and the window stays
  // How long its thread is busy before it reads a message sent to it: under
  // Xvfb, a box thread hiding its box takes about 2 s.
  std::uint32_t busyMs = 0;
  // Runs while the window handles WM_CLOSE, before it answers: what another
  // program's window procedure does then reaches the program inside its wait.
  std::function<void()> onClose;
};

// Named kernel objects of one machine. Fakes that share one instance are
// processes of the same machine; a name counts as held while a handle to it
// is open.
struct FakeNamedObjects {
  std::map<std::wstring, int> openHandles;  // by name within its namespace
};

// Told, on the calling thread, each time control crosses the platform seam,
// so that a test can tell the program's work from the system's: Platform when
// the program calls an operation or the system delivers input, Program when
// the platform calls the program back (a hook procedure, a window visitor, a
// thread's body), each Enter followed by its Leave when that returns.
// Crossings nest: a hook procedure calls the platform again. A re-entry
// handler is the test's own code and runs inside the operation that waits.
class SeamObserver {
 public:
  enum class Side { Platform, Program };
  virtual void Enter(Side side) = 0;
  virtual void Leave(Side side) = 0;

 protected:
  ~SeamObserver() = default;
};

// RunAtOnce: the thread's body runs inside StartThread and a message box
// returns at once. Hold: bodies wait for RunHeldThreads. RealThreads: each
// thread is a real one, and a message box blocks it until the box is closed
// (by WM_CLOSE or by the user), as on the real system.
enum class ThreadMode { RunAtOnce, Hold, RealThreads };

class FakePlatform : public Platform {
 public:
  FakePlatform();
  ~FakePlatform() override;

  // --- Registry contents, as Group Policy or an administrator leaves them.
  void CreateRegistryKey(Hive hive, const std::wstring& path);
  void DeleteRegistryKey(Hive hive, const std::wstring& path);
  void SetDword(Hive hive, const std::wstring& path, const std::wstring& name, std::uint32_t value);
  void SetRaw(Hive hive, const std::wstring& path, const std::wstring& name, std::uint32_t type,
              std::vector<unsigned char> data);
  void DeleteValue(Hive hive, const std::wstring& path, const std::wstring& name);
  void DenyRead(Hive hive, const std::wstring& path);  // access refused
  const FakeValue* FindValue(Hive hive, const std::wstring& path, const std::wstring& name) const;
  bool KeyExists(Hive hive, const std::wstring& path) const;

  // --- Failures: the named operation fails from now on. A failing operation
  // returns its failure value, records nothing and changes nothing: a key,
  // hook, thread handle or event source it should have given back stays open.
  // Every call here that takes an operation's name (Fail, Heal, ReenterDuring,
  // FailedCallCount, CallCount) throws std::invalid_argument, naming it, for a
  // name that is not one of OperationNames().
  void Fail(const std::string& operation);
  void Heal(const std::string& operation);
  // Every operation of the platform seam, by the name Fail takes.
  static const std::vector<std::string>& OperationNames();

  // --- Re-entry. The real system delivers messages sent to the program's
  // window while its thread waits inside one of these calls (a sent message
  // of its own, a thread started, a session request that waits).
  static const std::vector<std::string>& WaitingOperationNames();
  // `handler` runs inside the next call of `operation`, as a sent message
  // would; false (and nothing armed) for an operation that never waits.
  bool ReenterDuring(const std::string& operation, std::function<void()> handler);
  // Handlers armed but not run yet.
  std::size_t PendingReentryCount() const;
  // Calls that were made to fail, for one operation or for all.
  int FailedCallCount(const std::string& operation) const;
  int FailedCallCount() const;

  // --- What happened. The journal holds every call that changes something
  // outside the process, and trace lines as "Trace <text>", in order.
  // Journal() and Windows() hand out the fake's own containers: while real
  // threads run, read copies through JournalOf and OpenBoxes instead.
  const std::vector<std::wstring>& Journal() const { return journal_; }
  // The journal's entries that start with `prefix`.
  std::vector<std::wstring> JournalOf(const std::wstring& prefix) const;
  std::vector<std::wstring> TraceLines() const;
  void ClearJournal();
  // Off: every call still counts and takes effect, but nothing is written to
  // the journal, and the entries of the hook and trace paths are not even
  // built, so that benchmarks of those paths time the program, not the record.
  bool journalling = true;
  int CallCount(const std::string& operation) const;
  // Registry keys, event sources, thread handles and hooks not yet given back.
  int OpenHandleCount() const;

  // --- Crossings of the seam. Unset, each costs one null check; set, the
  // observer must outlive the fake, whose held threads run as it goes.
  SeamObserver* seamObserver = nullptr;

  // --- Input through the installed hooks, as the system would deliver it.
  std::intptr_t DeliverInput(HookKind kind, int code = 0, std::uintptr_t wParam = 0x100,
                             std::intptr_t lParam = 0);
  int InstalledHookCount(HookKind kind) const;
  std::intptr_t nextHookResult = 0;
  // The session's last input time, as ReadLastInputTime gives it. The fake
  // has no clock: each DeliverInput moves it on by one, hooks installed or
  // not, as any input moves the system's. A test moves it by itself for
  // input that no hook sees.
  std::uint32_t lastInputTime = 0;

  // --- Warning threads.
  ThreadMode threadMode = ThreadMode::RunAtOnce;
  void RunHeldThreads();
  std::size_t HeldThreadCount() const;
  // Real threads whose body has not returned yet.
  int RunningThreadCount() const;
  // Wait at most `timeout` for exactly `count` open boxes, or for every real
  // thread to have ended; true when that happened in time.
  bool WaitForOpenBoxes(std::size_t count, std::chrono::milliseconds timeout) const;
  bool WaitForThreadsToEnd(std::chrono::milliseconds timeout) const;
  // While the gate is closed, real threads start but wait before their body
  // runs: the worst a scheduler can do to the thread that raised them.
  void CloseThreadGate();
  void OpenThreadGate();

  // --- Top-level windows; message boxes join this list while open.
  WindowHandle AddWindow(const std::wstring& title, bool answersClose = true,
                         std::function<void()> onClose = {});
  // A window whose thread reads a message sent to it only after `busyMs`.
  WindowHandle AddBusyWindow(const std::wstring& title, std::uint32_t busyMs);
  // How long the program's calls have waited for other threads to answer,
  // in total: each sent message waits for its window's thread, at most for
  // its time-out.
  std::uint64_t WaitedMs() const;
  std::vector<FakeWindow> OpenBoxes() const;
  const std::vector<FakeWindow>& Windows() const { return windows_; }
  // Closes a box as the user would, with its button.
  void CloseWindowByUser(WindowHandle window);

  // --- Language settings and the catalogue.
  std::uint32_t threadLocale = 0x0409;
  std::uint16_t userDefaultLanguage = 0x0409;
  std::uint16_t systemDefaultLanguage = 0x0409;
  const McCatalog& Catalog() const { return catalog_; }
  std::wstring modulePath = L"C:\\Program Files\\Tolvex Pellan Session Timers\\RAVITOR.exe";

  // --- The process's session and the machine's named objects; share
  // `namedObjects` between fakes to run several copies of the program.
  std::uint32_t sessionId = 1;
  std::shared_ptr<FakeNamedObjects> namedObjects = std::make_shared<FakeNamedObjects>();
  // Names of mutexes this process holds open, as the machine knows them.
  std::vector<std::wstring> OpenMutexNames() const;

  // --- The application window.
  std::uint32_t consoleSessionId = 1;
  WindowHandle applicationWindow{0x42};
  std::intptr_t defaultProcedureResult = 0x5A;

  // --- What the system would do next, so a test can deliver only the
  // messages the real system would send.
  bool WindowTimerRunning(std::uintptr_t id) const;
  bool SessionNotificationsRegistered() const;
  bool ApplicationWindowExists() const;
  std::optional<int> QuitCode() const;

  // --- Platform.
  RegistryKey OpenKeyForRead(Hive hive, const wchar_t* path) override;
  bool QueryValue(RegistryKey key, const wchar_t* name, void* data, std::uint32_t* size) override;
  void CloseKey(RegistryKey key) override;
  RegistryKey CreateKey(Hive hive, const wchar_t* path) override;
  void SetValue(RegistryKey key, const wchar_t* name, std::uint32_t type, const void* data,
                std::uint32_t size) override;
  void OutputDebugText(const wchar_t* text) override;
  std::uintptr_t StartWindowTimer(WindowHandle window, std::uintptr_t id,
                                  std::uint32_t periodMs) override;
  void StopWindowTimer(WindowHandle window, std::uintptr_t id) override;
  void RegisterSessionNotification(WindowHandle window) override;
  void UnregisterSessionNotification(WindowHandle window) override;
  void DisconnectSession() override;
  void LogoffSession() override;
  HookHandle InstallHook(HookKind kind, HookProcedure procedure, void* context) override;
  void RemoveHook(HookHandle hook) override;
  std::intptr_t CallNextHook(int code, std::uintptr_t wParam, std::intptr_t lParam) override;
  bool ReadLastInputTime(std::uint32_t* tickCount) override;
  ThreadHandle StartThread(ThreadEntry entry, void* argument) override;
  void ShowMessageBox(const wchar_t* text, const wchar_t* caption, std::uint32_t style) override;
  void Sleep(std::uint32_t milliseconds) override;
  void CloseThreadHandle(ThreadHandle thread) override;
  std::uint32_t GetThreadLocale() override;
  void SetThreadLocale(std::uint32_t locale) override;
  std::uint32_t FormatCatalogMessage(std::uint32_t messageId, wchar_t* buffer,
                                     std::uint32_t capacity) override;
  std::uint32_t GetModulePath(wchar_t* buffer, std::uint32_t capacity) override;
  bool EnumerateWindows(WindowVisitor visitor, void* context) override;
  int GetStoredWindowTitle(WindowHandle window, wchar_t* buffer, int capacity) override;
  void SendMessageWithTimeout(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                              std::intptr_t lParam, std::uint32_t flags,
                              std::uint32_t timeoutMs) override;
  EventSourceHandle OpenEventSource(const wchar_t* sourceName) override;
  void ReportEvent(EventSourceHandle source, std::uint16_t type, std::uint16_t category,
                   std::uint32_t eventId) override;
  void CloseEventSource(EventSourceHandle source) override;
  void TrimWorkingSet() override;
  MutexHandle CreateNamedMutex(const wchar_t* name, bool* alreadyExisted) override;
  void CloseMutex(MutexHandle mutex) override;
  std::uint32_t ActiveConsoleSessionId() override;
  WindowHandle CreateApplicationWindow(const wchar_t* className, const wchar_t* title) override;
  void DestroyApplicationWindow(WindowHandle window) override;
  void PostQuit(int exitCode) override;
  void PaintNothing(WindowHandle window) override;
  std::intptr_t DefaultWindowProcedure(WindowHandle window, std::uint32_t message,
                                       std::uintptr_t wParam, std::intptr_t lParam) override;
  bool EqualsIgnoringCase(const wchar_t* first, const wchar_t* second) override;

 private:
  struct Key {
    std::map<std::wstring, FakeValue> values;  // by lower-case name
    bool denyRead = false;
  };
  struct OpenKey {
    Hive hive;
    std::wstring path;
  };
  struct Hook {
    HookKind kind;
    HookProcedure procedure;
    void* context;
  };
  struct HeldThread {
    ThreadEntry entry;
    void* argument;
  };

  struct PlatformCall;  // held by each operation for the whole call

  bool Called(const std::string& operation);   // counts the call; true when it must fail
  void Reenter(const std::string& operation);  // runs what ReenterDuring armed for it
  void Record(std::wstring entry) {
    if (journalling) journal_.push_back(std::move(entry));
  }
  void RunThread(ThreadEntry entry, void* argument);
  void RunBody(ThreadEntry entry, void* argument);
  std::uintptr_t NextHandle() { return ++lastHandle_; }
  Key* FindKey(Hive hive, const std::wstring& path);
  const std::wstring* LookUpText(std::uint32_t messageId) const;

  std::map<std::pair<Hive, std::wstring>, Key> registry_;  // by lower-case path
  std::map<std::uintptr_t, OpenKey> openKeys_;
  std::set<std::uintptr_t> openEventSources_;
  std::set<std::uintptr_t> openThreads_;
  std::map<std::uintptr_t, std::wstring> openMutexes_;  // by handle: the machine's name
  std::vector<std::pair<std::string, std::function<void()>>> reentries_;
  std::map<std::uintptr_t, Hook> hooks_;
  std::vector<HeldThread> heldThreads_;
  std::vector<FakeWindow> windows_;
  std::set<std::string> failing_;
  std::map<std::string, int> callCounts_;
  std::map<std::string, int> failedCallCounts_;
  std::vector<std::wstring> journal_;
  std::uintptr_t lastHandle_ = 0x1000;
  std::uint64_t waitedMs_ = 0;
  const McCatalog& catalog_;
  std::set<std::uintptr_t> windowTimers_;
  bool sessionNotifications_ = false;
  bool applicationWindowExists_ = false;
  std::optional<int> quitCode_;

  // Real warning threads share the state above with the test's thread. The
  // mutex is recursive because window enumeration and hook delivery call back
  // into the program, which calls the platform again on the same thread; no
  // lock is held while a thread is joined.
  mutable std::recursive_mutex mutex_;
  mutable std::condition_variable_any changed_;
  std::vector<std::thread> realThreads_;
  int runningThreads_ = 0;
  bool threadGateClosed_ = false;
  bool shuttingDown_ = false;
};

// Hex rendering used in journal entries, e.g. "0x50010".
std::wstring Hex(std::uint64_t value);

}  // namespace ravitor::testing
