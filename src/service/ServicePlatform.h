// The session service's seam: every operating-system operation the service
// performs. Implemented for Win32 (win32/Win32ServicePlatform) and by the
// recording fake of its tests. Registry reads and debugger output are the
// parts it shares with the program, so policies are read by the same rules.
#pragma once

#include <cstdint>

#include "platform/DebugOutput.h"
#include "platform/RegistryReader.h"

namespace ravitor::service {

// Opaque; 0 means "none" or "failed".
enum class TokenHandle : std::uintptr_t {};
// A process the service holds; never the same value twice, so that an end
// reported after the handle was closed cannot be taken for another's.
enum class ProcessHandle : std::uintptr_t {};

inline constexpr std::uint32_t kPathCapacity = 1024;
inline constexpr std::uint32_t kSidCapacity = 192;

// Return true to go on with the enumeration.
using SessionVisitor = bool (*)(std::uint32_t sessionId, void* context);
using ProcessVisitor = bool (*)(std::uint32_t processId, std::uint32_t sessionId,
                                const wchar_t* fileName, void* context);

class ServicePlatform : public RegistryReader, public DebugOutput {
 public:
  virtual ~ServicePlatform() = default;

  // Full path of the service's own executable; its length, 0 on failure.
  virtual std::uint32_t GetModulePath(wchar_t* buffer, std::uint32_t capacity) = 0;
  // Whole-path comparison ignoring case, as the file system compares names.
  virtual bool SamePath(const wchar_t* first, const wchar_t* second) = 0;

  // The sessions the system enumerates that are active or disconnected
  // (WTSEnumerateSessionsW); false when the enumeration fails.
  virtual bool EnumerateSessions(SessionVisitor visitor, void* context) = 0;
  virtual std::uint32_t ActiveConsoleSessionId() = 0;

  // The primary token of the user logged on to a session; 0 and the system
  // error code when there is none.
  virtual TokenHandle QueryUserToken(std::uint32_t sessionId, std::uint32_t* error) = 0;
  // The string form (S-1-5-...) of the token user's SID; false on failure.
  virtual bool GetTokenUserSid(TokenHandle token, wchar_t* buffer, std::uint32_t capacity) = 0;
  virtual void CloseToken(TokenHandle token) = 0;

  // Starts `path` as the token's user, in the user's environment, on
  // winsta0\default, inheriting no handles; 0 and the system error code on
  // failure.
  virtual ProcessHandle StartProcessAsUser(TokenHandle token, const wchar_t* path,
                                           std::uint32_t* error) = 0;
  // Every running process with its session and its executable's file name.
  virtual bool EnumerateProcesses(ProcessVisitor visitor, void* context) = 0;
  // The full path of a process's executable; its length, 0 when it cannot
  // be read.
  virtual std::uint32_t GetProcessImagePath(std::uint32_t processId, wchar_t* buffer,
                                            std::uint32_t capacity) = 0;
  // A running process, opened to wait for it; 0 when it cannot be opened.
  virtual ProcessHandle OpenProcessForWait(std::uint32_t processId) = 0;
  // Reports the process's end later, on the service's own thread, as
  // SessionService::OnProcessEnded; false when it cannot be watched.
  virtual bool WatchProcess(ProcessHandle process) = 0;
  virtual std::uint32_t ProcessExitCode(ProcessHandle process) = 0;
  // Stops any watch and closes the handle; the process runs on.
  virtual void CloseProcess(ProcessHandle process) = 0;

  // Reports a change anywhere below HKEY_LOCAL_MACHINE\path, once, as
  // SessionService::OnPolicyKeyChanged; watches 0 and 1 are the two policy
  // keys. Returns false when the key cannot be watched.
  virtual bool WatchKey(std::uint32_t watch, const wchar_t* path) = 0;
  virtual void StopWatchingKeys() = 0;

  // A record of the service's own event source, with insertion strings.
  virtual void ReportEvent(std::uint16_t type, std::uint32_t eventId, const wchar_t* const* strings,
                           std::uint16_t stringCount) = 0;

  // Milliseconds since some fixed point (GetTickCount64).
  virtual std::uint64_t NowMilliseconds() = 0;
};

}  // namespace ravitor::service
