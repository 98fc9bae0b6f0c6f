// The session service's seam on Win32: Terminal Services, tokens, processes,
// registry notifications and the event log, called directly; no decisions.
#pragma once

#include <windows.h>

#include <map>
#include <memory>

#include "platform/win32/UniqueWin32Handle.h"
#include "service/ServicePlatform.h"
#include "service/win32/ServiceEvents.h"

namespace ravitor::service::win32 {

// UnregisterWaitEx waiting for a callback that runs, so that what the
// callback reads outlives it.
inline BOOL UnregisterWaitAndDrain(HANDLE wait) noexcept {
  return ::UnregisterWaitEx(wait, INVALID_HANDLE_VALUE);
}
using unique_wait = ravitor::win32::UniqueWin32Handle<HANDLE, &UnregisterWaitAndDrain>;
using unique_event_source = ravitor::win32::UniqueWin32Handle<HANDLE, &::DeregisterEventSource>;

class Win32ServicePlatform final : public ServicePlatform {
 public:
  static constexpr std::uint32_t kKeyWatches = 2;

  explicit Win32ServicePlatform(ServiceEvents& events);
  ~Win32ServicePlatform() override;
  Win32ServicePlatform(const Win32ServicePlatform&) = delete;
  Win32ServicePlatform& operator=(const Win32ServicePlatform&) = delete;

  // Signalled when watch `watch` sees a change.
  HANDLE KeyChanged(std::uint32_t watch) const { return keyWatches_[watch].changed.get(); }
  // Whether the process is still held: an end reported for one closed since
  // is dropped.
  bool Holds(ProcessHandle process) const { return processes_.count(process) != 0; }

  RegistryKey OpenKeyForRead(Hive hive, const wchar_t* path) override;
  bool QueryValue(RegistryKey key, const wchar_t* name, void* data, std::uint32_t* size) override;
  void CloseKey(RegistryKey key) override;
  void OutputDebugText(const wchar_t* text) override;
  std::uint32_t GetModulePath(wchar_t* buffer, std::uint32_t capacity) override;
  bool SamePath(const wchar_t* first, const wchar_t* second) override;
  bool EnumerateSessions(SessionVisitor visitor, void* context) override;
  std::uint32_t ActiveConsoleSessionId() override;
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
  void StopWatchingKeys() override;
  void ReportEvent(std::uint16_t type, std::uint32_t eventId, const wchar_t* const* strings,
                   std::uint16_t stringCount) override;
  std::uint64_t NowMilliseconds() override;

 private:
  // What a thread-pool wait needs when the process ends.
  struct WaitContext {
    ServiceEvents* events;
    ProcessHandle process;
  };
  // Members end in reverse order: the wait first, then the handle it waits
  // on, then what its callback reads.
  struct HeldProcess {
    std::unique_ptr<WaitContext> context;
    ravitor::win32::unique_handle handle;
    unique_wait wait;  // RegisterWaitForSingleObject's, while watched
  };
  struct KeyWatch {
    ravitor::win32::unique_hkey key;
    ravitor::win32::unique_handle changed;
  };

  static void CALLBACK ProcessSignalled(void* context, BOOLEAN timedOut);
  ProcessHandle Hold(HANDLE process);

  ServiceEvents& events_;
  unique_event_source eventSource_;
  std::map<ProcessHandle, HeldProcess> processes_;
  std::uintptr_t nextProcess_ = 1;
  KeyWatch keyWatches_[kKeyWatches];
};

}  // namespace ravitor::service::win32
