// The session service's decisions for each event.
#include "service/SessionService.h"

#include <cwchar>
#include <set>
#include <vector>

#include "platform/UniqueHandleOf.h"
#include "service/ServiceNames.h"
#include "settings/LimitPolicies.h"
#include "settings/PolicyNames.h"

namespace ravitor::service {
namespace {

using UniqueToken = UniqueHandleOf<ServicePlatform, TokenHandle, &ServicePlatform::CloseToken>;

constexpr const wchar_t* kWatchedPolicyKeys[] = {kProductPolicyKey, kTerminalServicesPolicyKey};

// Codes that mean the session has no logged-on user (any more), which is not
// worth a record: a session without a user has nothing to enforce.
bool MeansNoUser(std::uint32_t error) {
  return error == kErrorNoToken || error == kErrorCtxWinstationNotFound;
}

struct ProcessSearch {
  ServicePlatform& platform;
  const wchar_t* programPath;
  std::map<std::uint32_t, std::uint32_t>& found;
};

// Only a process with the program's file name is asked for its full path.
bool VisitProcess(std::uint32_t processId, std::uint32_t sessionId, const wchar_t* fileName,
                  void* context) {
  auto& search = *static_cast<ProcessSearch*>(context);
  if (sessionId == 0 || fileName == nullptr ||
      !search.platform.SamePath(fileName, kProgramFileName)) {
    return true;
  }
  wchar_t imagePath[kPathCapacity] = {};
  if (search.platform.GetProcessImagePath(processId, imagePath, kPathCapacity) > 0 &&
      search.platform.SamePath(imagePath, search.programPath)) {
    search.found.emplace(sessionId, processId);  // the first copy of a session
  }
  return true;
}

bool CollectSession(std::uint32_t sessionId, void* context) {
  static_cast<std::set<std::uint32_t>*>(context)->insert(sessionId);
  return true;
}

}  // namespace

bool SessionService::Start() {
  trace_.Configure(Hive::LocalMachine, kTraceSwitchKey);
  if (!FindProgram()) {
    trace_.Trace(L"Session service cannot tell its own folder");
    return false;
  }
  trace_.Trace(L"Session service started");
  WatchPolicyKeys();
  AddEnumeratedSessions();
  return true;
}

bool SessionService::FindProgram() {
  wchar_t own[kPathCapacity] = {};
  const std::uint32_t length = platform_.GetModulePath(own, kPathCapacity);
  if (length == 0 || length >= kPathCapacity) return false;
  const wchar_t* separator = std::wcsrchr(own, L'\\');
  if (separator == nullptr) return false;
  const int folderLength = static_cast<int>(separator - own);
  const int written = std::swprintf(programPath_, kPathCapacity, L"%.*ls\\%ls", folderLength, own,
                                    kProgramFileName);
  return written > 0 && static_cast<std::uint32_t>(written) < kPathCapacity;
}

// A key that does not exist yet cannot be watched: its nearest existing
// parent is, so that its creation is seen too.
void SessionService::WatchPolicyKeys() {
  platform_.StopWatchingKeys();
  std::uint32_t watch = 0;
  for (const wchar_t* keyPath : kWatchedPolicyKeys) {
    std::wstring path = keyPath;
    while (true) {
      const UniqueRegistryKey key(platform_,
                                  platform_.OpenKeyForRead(Hive::LocalMachine, path.c_str()));
      if (key) break;
      const std::size_t separator = path.rfind(L'\\');
      if (separator == std::wstring::npos) break;
      path.resize(separator);
    }
    platform_.WatchKey(watch++, path.c_str());
  }
}

// The sessions the system lists, and the console session in any case: the
// list comes from the session manager and can fail or be empty early at boot.
void SessionService::AddEnumeratedSessions() {
  std::set<std::uint32_t> ids;
  platform_.EnumerateSessions(&CollectSession, &ids);
  const std::uint32_t console = platform_.ActiveConsoleSessionId();
  if (console != kNoConsoleSession) ids.insert(console);
  const RunningCopies running = FindRunningCopies();
  for (const std::uint32_t id : ids) {
    if (sessions_.count(id) == 0) EnsureCopy(id, running);
  }
}

SessionService::RunningCopies SessionService::FindRunningCopies() {
  RunningCopies found;
  ProcessSearch search{platform_, programPath_, found};
  platform_.EnumerateProcesses(&VisitProcess, &search);
  return found;
}

void SessionService::EnsureCopy(std::uint32_t sessionId, const RunningCopies& running) {
  // Session 0 holds services, never a user.
  if (sessionId == 0) return;
  Session& session = sessions_[sessionId];
  if (session.givenUp || session.copy != ProcessHandle{}) return;
  const auto copy = running.find(sessionId);
  if (copy != running.end() && Adopt(sessionId, session, copy->second)) return;
  StartCopy(sessionId, session);
}

// A copy started by hand or by another start method is waited on as if it
// were the service's own: a second one would end at once.
bool SessionService::Adopt(std::uint32_t sessionId, Session& session, std::uint32_t processId) {
  const ProcessHandle process = platform_.OpenProcessForWait(processId);
  if (process == ProcessHandle{}) return false;
  if (!platform_.WatchProcess(process)) {
    platform_.CloseProcess(process);
    return false;
  }
  session.copy = process;
  Trace(L"Adopted the running RAVITOR.exe (process %u) in session %u", processId, sessionId);
  return true;
}

void SessionService::StartCopy(std::uint32_t sessionId, Session& session) {
  std::uint32_t error = 0;
  const UniqueToken token(platform_, platform_.QueryUserToken(sessionId, &error));
  if (!token) {
    if (MeansNoUser(error)) {
      Forget(sessionId);
      return;
    }
    ReportCouldNotStart(sessionId, error);
    return;
  }
  wchar_t sid[kSidCapacity] = {};
  session.userSid = platform_.GetTokenUserSid(token.get(), sid, kSidCapacity) ? sid : L"";

  const ProcessHandle process = platform_.StartProcessAsUser(token.get(), programPath_, &error);
  if (process == ProcessHandle{}) {
    ReportCouldNotStart(sessionId, error);
    return;
  }
  // A copy that cannot be waited on still enforces; it is not started again.
  if (!platform_.WatchProcess(process)) {
    platform_.CloseProcess(process);
    Trace(L"Started RAVITOR.exe in session %u, but cannot wait for it", sessionId);
    return;
  }
  session.copy = process;
  Trace(L"Started RAVITOR.exe in session %u", sessionId);
}

void SessionService::OnProcessEnded(ProcessHandle process) {
  for (auto& [sessionId, session] : sessions_) {
    if (session.copy != process) continue;
    const std::uint32_t exitCode = platform_.ProcessExitCode(process);
    platform_.CloseProcess(process);
    session.copy = {};
    Trace(L"RAVITOR.exe ended with exit code %u in session %u", exitCode, sessionId);
    RestartOrLeave(sessionId, session);
    return;
  }
  // An end reported for a copy the service has let go of meanwhile (its
  // session logged off): its handle is closed already.
}

// The exit code cannot tell a copy ended by a user from one with nothing to
// enforce; the session's user and the policies can.
void SessionService::RestartOrLeave(std::uint32_t sessionId, Session& session) {
  std::uint32_t error = 0;
  const UniqueToken token(platform_, platform_.QueryUserToken(sessionId, &error));
  wchar_t sid[kSidCapacity] = {};
  if (!token) {
    Forget(sessionId);  // the session is ending or has ended
    return;
  }
  const bool sidKnown = platform_.GetTokenUserSid(token.get(), sid, kSidCapacity);
  if (sidKnown && !session.userSid.empty() && session.userSid != sid) {
    Forget(sessionId);  // another user's logon brings its own notification
    return;
  }
  // Without the user's SID only a start can tell: the program decides itself.
  if (sidKnown && !HasSomethingToEnforce(platform_, sid)) {
    Trace(L"Nothing to enforce in session %u: RAVITOR.exe is not started again", sessionId);
    return;
  }
  const RunningCopies running = FindRunningCopies();
  const auto copy = running.find(sessionId);
  if (copy != running.end() && Adopt(sessionId, session, copy->second)) return;

  if (!session.restarts.TakeOne(platform_.NowMilliseconds())) {
    session.givenUp = true;
    wchar_t sessionText[16], countText[16], minutesText[16];
    std::swprintf(sessionText, 16, L"%u", sessionId);
    std::swprintf(countText, 16, L"%u", kRestartLimit + 1);
    std::swprintf(minutesText, 16, L"%u", static_cast<std::uint32_t>(kRestartWindowMs / 60000));
    const wchar_t* strings[] = {sessionText, countText, minutesText};
    platform_.ReportEvent(kEventTypeWarning, kGaveUpRestartingEvent, strings, 3);
    Trace(L"RAVITOR.exe ended too often in session %u: left alone until the next logon", sessionId);
    return;
  }
  StartCopy(sessionId, session);
}

void SessionService::OnSessionChange(std::uint32_t code, std::uint32_t sessionId) {
  switch (code) {
    case kWtsSessionLogon:
      // A new logon: a new user, a new restart bound.
      Forget(sessionId);
      EnsureCopy(sessionId, FindRunningCopies());
      break;
    case kWtsSessionLogoff:
      Forget(sessionId);
      Trace(L"Session %u logged off", sessionId);
      break;
    case kWtsConsoleConnect:
    case kWtsRemoteConnect:
      // A session the service has not seen (its logon came before the
      // service could hear of it).
      if (sessions_.count(sessionId) == 0) EnsureCopy(sessionId, FindRunningCopies());
      break;
    default:
      break;
  }
}

void SessionService::OnPolicyKeyChanged() {
  trace_.Trace(L"Policy change: starting RAVITOR.exe in every session without it");
  WatchPolicyKeys();
  // The sessions known before the enumeration: one it adds has had its try.
  std::vector<std::uint32_t> ids;
  for (const auto& [sessionId, session] : sessions_) {
    if (!session.givenUp && session.copy == ProcessHandle{}) ids.push_back(sessionId);
  }
  AddEnumeratedSessions();
  const RunningCopies running = FindRunningCopies();
  for (const std::uint32_t id : ids) EnsureCopy(id, running);
}

void SessionService::Stop() {
  for (auto& [sessionId, session] : sessions_) {
    if (session.copy != ProcessHandle{}) platform_.CloseProcess(session.copy);
  }
  sessions_.clear();
  platform_.StopWatchingKeys();
  trace_.Trace(L"Session service stopped");
}

void SessionService::Forget(std::uint32_t sessionId) {
  const auto found = sessions_.find(sessionId);
  if (found == sessions_.end()) return;
  if (found->second.copy != ProcessHandle{}) platform_.CloseProcess(found->second.copy);
  sessions_.erase(found);
}

void SessionService::ReportCouldNotStart(std::uint32_t sessionId, std::uint32_t error) {
  wchar_t sessionText[16], errorText[16];
  std::swprintf(sessionText, 16, L"%u", sessionId);
  std::swprintf(errorText, 16, L"%u", error);
  const wchar_t* strings[] = {sessionText, errorText};
  platform_.ReportEvent(kEventTypeError, kCouldNotStartEvent, strings, 2);
  Trace(L"Could not start RAVITOR.exe in session %u (system error %u)", sessionId, error);
}

void SessionService::Trace(const wchar_t* format, std::uint32_t first, std::uint32_t second) {
  wchar_t line[256];
  if (std::swprintf(line, 256, format, first, second) > 0) trace_.Trace(line);
}

}  // namespace ravitor::service
