// Recording platform for the session service's tests: sessions with their
// users, processes and their ends under test control, policy keys in the
// in-memory registry of a FakePlatform, watched keys, records and a clock.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fake/FakePlatform.h"
#include "service/ServicePlatform.h"

namespace ravitor::service::testing {

struct FakeSession {
  bool enumerated = true;        // listed by EnumerateSessions
  std::wstring userSid;          // the logged-on user
  std::uint32_t tokenError = 0;  // not 0: QueryUserToken fails with it
  std::uint32_t startError = 0;  // not 0: StartProcessAsUser fails with it
};

struct FakeProcess {
  std::uint32_t processId;
  std::uint32_t sessionId;
  std::wstring imagePath;
  std::wstring startedAs;  // the user's SID when the service started it
  bool running = true;
  std::uint32_t exitCode = 259;  // STILL_ACTIVE
  bool opensForWait = true;      // false: OpenProcessForWait refuses it
  bool watchable = true;         // false: WatchProcess fails for it
};

struct FakeRecord {
  std::uint16_t type;
  std::uint32_t eventId;
  std::vector<std::wstring> strings;
};

class FakeServicePlatform : public ServicePlatform {
 public:
  static constexpr const wchar_t* kServicePath =
      L"C:\\Program Files\\Tolvex Pellan Session Timers\\RAVITOR-service.exe";
  static constexpr const wchar_t* kProgramPath =
      L"C:\\Program Files\\Tolvex Pellan Session Timers\\RAVITOR.exe";

  // --- The machine, as a test sets it up.
  ravitor::testing::FakePlatform registry;  // HKLM and HKU; HKCU is the service's own
  std::map<std::uint32_t, FakeSession> sessions;
  std::uint32_t consoleSession = 1;
  bool enumerationFails = false;
  std::wstring modulePath = kServicePath;
  std::uint64_t nowMs = 1000;

  // A process that runs without the service having started it.
  std::uint32_t RunProcess(std::uint32_t sessionId, const std::wstring& imagePath);
  // Ends a process; returns the handle the service waits on, or 0 when the
  // service does not wait for it.
  ProcessHandle EndProcess(std::uint32_t processId, std::uint32_t exitCode);

  // --- What the service did.
  std::vector<FakeProcess> processes;
  std::vector<FakeRecord> records;
  std::vector<std::wstring> trace;
  std::map<std::uint32_t, std::wstring> watchedKeys;
  // The processes asked for their full path, in order.
  std::vector<std::uint32_t> imagePathQueries;
  // The processes the service started, in order.
  std::vector<const FakeProcess*> Started() const;
  // The running copy the service waits on in a session, or 0.
  std::uint32_t WaitedCopy(std::uint32_t sessionId) const;
  // Tokens, process handles, registry keys and key watches not yet given back.
  int OpenHandleCount() const;

  // --- ServicePlatform.
  RegistryKey OpenKeyForRead(Hive hive, const wchar_t* path) override;
  bool QueryValue(RegistryKey key, const wchar_t* name, void* data, std::uint32_t* size) override;
  void CloseKey(RegistryKey key) override;
  void OutputDebugText(const wchar_t* text) override;
  std::uint32_t GetModulePath(wchar_t* buffer, std::uint32_t capacity) override;
  bool SamePath(const wchar_t* first, const wchar_t* second) override;
  bool EnumerateSessions(SessionVisitor visitor, void* context) override;
  std::uint32_t ActiveConsoleSessionId() override { return consoleSession; }
  TokenHandle QueryUserToken(std::uint32_t sessionId, std::uint32_t* error) override;
  bool GetTokenUserSid(TokenHandle token, wchar_t* buffer, std::uint32_t capacity) override;
  void CloseToken(TokenHandle token) override;
  ProcessHandle StartProcessAsUser(TokenHandle token, const wchar_t* path,
                                   std::uint32_t* error) override;
  bool EnumerateProcesses(ProcessVisitor visitor, void* context) override;
  std::uint32_t GetProcessImagePath(std::uint32_t processId, wchar_t* buffer,
                                    std::uint32_t capacity) override;
  ProcessHandle OpenProcessForWait(std::uint32_t processId) override;
  bool WatchProcess(ProcessHandle process) override;
  std::uint32_t ProcessExitCode(ProcessHandle process) override;
  void CloseProcess(ProcessHandle process) override;
  bool WatchKey(std::uint32_t watch, const wchar_t* path) override;
  void StopWatchingKeys() override { watchedKeys.clear(); }
  void ReportEvent(std::uint16_t type, std::uint32_t eventId, const wchar_t* const* strings,
                   std::uint16_t stringCount) override;
  std::uint64_t NowMilliseconds() override { return nowMs; }

 private:
  struct OpenProcess {
    std::uint32_t processId;
    bool watched = false;
  };
  std::map<std::uintptr_t, std::uint32_t> tokens_;  // handle -> session
  std::map<std::uintptr_t, OpenProcess> processHandles_;
  std::uintptr_t nextHandle_ = 0x100;
  std::uint32_t nextProcessId_ = 4000;

  FakeProcess* FindProcess(std::uint32_t processId);
};

}  // namespace ravitor::service::testing
