// What the session service does: keeps one RAVITOR.exe, from the service's
// own folder, in every user session, starts it again when it ends while its
// session goes on and there is something to enforce, and leaves a session
// alone once its copy has ended too often. It decides; the platform acts.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "service/RestartBound.h"
#include "service/ServicePlatform.h"
#include "settings/DebugTrace.h"

namespace ravitor::service {

class SessionService {
 public:
  explicit SessionService(ServicePlatform& platform) : platform_(platform), trace_(platform) {}
  SessionService(const SessionService&) = delete;
  SessionService& operator=(const SessionService&) = delete;

  // Finds the program beside the service, watches the policy keys and puts a
  // copy into every user session there is. False, with nothing started, when
  // the service cannot tell its own folder.
  bool Start();
  // A SERVICE_CONTROL_SESSIONCHANGE code for a session.
  void OnSessionChange(std::uint32_t code, std::uint32_t sessionId);
  // A watched copy has ended.
  void OnProcessEnded(ProcessHandle process);
  // One of the watched policy keys has changed.
  void OnPolicyKeyChanged();
  // Stops watching; every copy runs on and ends with its session.
  void Stop();

 private:
  struct Session {
    std::wstring userSid;  // empty when it could not be read
    ProcessHandle copy{};  // the copy waited on, if any
    RestartBound restarts;
    bool givenUp = false;  // until the next logon
  };
  // The session of each copy running from the service's folder.
  using RunningCopies = std::map<std::uint32_t, std::uint32_t>;

  bool FindProgram();
  void WatchPolicyKeys();
  void AddEnumeratedSessions();
  RunningCopies FindRunningCopies();
  void EnsureCopy(std::uint32_t sessionId, const RunningCopies& running);
  bool Adopt(std::uint32_t sessionId, Session& session, std::uint32_t processId);
  void StartCopy(std::uint32_t sessionId, Session& session);
  void RestartOrLeave(std::uint32_t sessionId, Session& session);
  void Forget(std::uint32_t sessionId);
  void ReportCouldNotStart(std::uint32_t sessionId, std::uint32_t error);
  void Trace(const wchar_t* format, std::uint32_t first, std::uint32_t second = 0);

  ServicePlatform& platform_;
  DebugTrace trace_;
  wchar_t programPath_[kPathCapacity] = {};
  std::map<std::uint32_t, Session> sessions_;
};

}  // namespace ravitor::service
