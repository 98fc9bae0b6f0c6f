// The session service's recording platform.
#include "service/FakeServicePlatform.h"

#include <cwctype>
#include <stdexcept>

namespace ravitor::service::testing {
namespace {

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
  return text;
}

std::uint32_t Copy(const std::wstring& text, wchar_t* buffer, std::uint32_t capacity) {
  if (text.size() >= capacity) return 0;
  text.copy(buffer, text.size());
  buffer[text.size()] = L'\0';
  return static_cast<std::uint32_t>(text.size());
}

}  // namespace

std::uint32_t FakeServicePlatform::RunProcess(std::uint32_t sessionId,
                                              const std::wstring& imagePath) {
  processes.push_back({nextProcessId_++, sessionId, imagePath, L"", true, 259});
  return processes.back().processId;
}

ProcessHandle FakeServicePlatform::EndProcess(std::uint32_t processId, std::uint32_t exitCode) {
  FakeProcess* process = FindProcess(processId);
  if (process == nullptr || !process->running) throw std::logic_error("no such running process");
  process->running = false;
  process->exitCode = exitCode;
  for (const auto& [handle, open] : processHandles_) {
    if (open.processId == processId && open.watched) return ProcessHandle{handle};
  }
  return {};
}

std::vector<const FakeProcess*> FakeServicePlatform::Started() const {
  std::vector<const FakeProcess*> started;
  for (const FakeProcess& process : processes) {
    if (!process.startedAs.empty()) started.push_back(&process);
  }
  return started;
}

std::uint32_t FakeServicePlatform::WaitedCopy(std::uint32_t sessionId) const {
  for (const auto& [handle, open] : processHandles_) {
    for (const FakeProcess& process : processes) {
      if (process.processId == open.processId && process.sessionId == sessionId &&
          process.running && open.watched) {
        return process.processId;
      }
    }
  }
  return 0;
}

int FakeServicePlatform::OpenHandleCount() const {
  return static_cast<int>(tokens_.size() + processHandles_.size() + watchedKeys.size()) +
         registry.OpenHandleCount();
}

RegistryKey FakeServicePlatform::OpenKeyForRead(Hive hive, const wchar_t* path) {
  return registry.OpenKeyForRead(hive, path);
}

bool FakeServicePlatform::QueryValue(RegistryKey key, const wchar_t* name, void* data,
                                     std::uint32_t* size) {
  return registry.QueryValue(key, name, data, size);
}

void FakeServicePlatform::CloseKey(RegistryKey key) { registry.CloseKey(key); }

void FakeServicePlatform::OutputDebugText(const wchar_t* text) { trace.emplace_back(text); }

std::uint32_t FakeServicePlatform::GetModulePath(wchar_t* buffer, std::uint32_t capacity) {
  return Copy(modulePath, buffer, capacity);
}

bool FakeServicePlatform::SamePath(const wchar_t* first, const wchar_t* second) {
  return Lower(first) == Lower(second);
}

bool FakeServicePlatform::EnumerateSessions(SessionVisitor visitor, void* context) {
  if (enumerationFails) return false;
  for (const auto& [id, session] : sessions) {
    if (session.enumerated && !visitor(id, context)) break;
  }
  return true;
}

TokenHandle FakeServicePlatform::QueryUserToken(std::uint32_t sessionId, std::uint32_t* error) {
  const auto session = sessions.find(sessionId);
  if (session == sessions.end()) {
    *error = 7022;  // ERROR_CTX_WINSTATION_NOT_FOUND
    return {};
  }
  if (session->second.tokenError != 0 || session->second.userSid.empty()) {
    *error = session->second.tokenError != 0 ? session->second.tokenError : 1008;
    return {};
  }
  const std::uintptr_t handle = nextHandle_++;
  tokens_[handle] = sessionId;
  return TokenHandle{handle};
}

bool FakeServicePlatform::GetTokenUserSid(TokenHandle token, wchar_t* buffer,
                                          std::uint32_t capacity) {
  const auto found = tokens_.find(static_cast<std::uintptr_t>(token));
  if (found == tokens_.end()) throw std::logic_error("GetTokenUserSid of a closed token");
  return Copy(sessions[found->second].userSid, buffer, capacity) > 0;
}

void FakeServicePlatform::CloseToken(TokenHandle token) {
  if (tokens_.erase(static_cast<std::uintptr_t>(token)) == 0) {
    throw std::logic_error("CloseToken of a token that is not open");
  }
}

ProcessHandle FakeServicePlatform::StartProcessAsUser(TokenHandle token, const wchar_t* path,
                                                      std::uint32_t* error) {
  const auto found = tokens_.find(static_cast<std::uintptr_t>(token));
  if (found == tokens_.end()) throw std::logic_error("StartProcessAsUser with a closed token");
  const FakeSession& session = sessions[found->second];
  if (session.startError != 0) {
    *error = session.startError;
    return {};
  }
  processes.push_back({nextProcessId_++, found->second, path, session.userSid, true, 259});
  const std::uintptr_t handle = nextHandle_++;
  processHandles_[handle] = {processes.back().processId, false};
  return ProcessHandle{handle};
}

bool FakeServicePlatform::EnumerateProcesses(ProcessVisitor visitor, void* context) {
  for (const FakeProcess& process : processes) {
    const std::wstring fileName = process.imagePath.substr(process.imagePath.rfind(L'\\') + 1);
    if (process.running &&
        !visitor(process.processId, process.sessionId, fileName.c_str(), context)) {
      break;
    }
  }
  return true;
}

std::uint32_t FakeServicePlatform::GetProcessImagePath(std::uint32_t processId, wchar_t* buffer,
                                                       std::uint32_t capacity) {
  imagePathQueries.push_back(processId);
  const FakeProcess* process = FindProcess(processId);
  return process == nullptr || !process->running ? 0 : Copy(process->imagePath, buffer, capacity);
}

ProcessHandle FakeServicePlatform::OpenProcessForWait(std::uint32_t processId) {
  const FakeProcess* process = FindProcess(processId);
  if (process == nullptr || !process->running || !process->opensForWait) return {};
  const std::uintptr_t handle = nextHandle_++;
  processHandles_[handle] = {processId, false};
  return ProcessHandle{handle};
}

bool FakeServicePlatform::WatchProcess(ProcessHandle process) {
  const auto found = processHandles_.find(static_cast<std::uintptr_t>(process));
  if (found == processHandles_.end()) throw std::logic_error("WatchProcess of a closed handle");
  if (!FindProcess(found->second.processId)->watchable) return false;
  found->second.watched = true;
  return true;
}

std::uint32_t FakeServicePlatform::ProcessExitCode(ProcessHandle process) {
  const auto found = processHandles_.find(static_cast<std::uintptr_t>(process));
  if (found == processHandles_.end()) throw std::logic_error("ProcessExitCode of a closed handle");
  return FindProcess(found->second.processId)->exitCode;
}

void FakeServicePlatform::CloseProcess(ProcessHandle process) {
  if (processHandles_.erase(static_cast<std::uintptr_t>(process)) == 0) {
    throw std::logic_error("CloseProcess of a handle that is not open");
  }
}

bool FakeServicePlatform::WatchKey(std::uint32_t watch, const wchar_t* path) {
  watchedKeys[watch] = path;
  return true;
}

void FakeServicePlatform::ReportEvent(std::uint16_t type, std::uint32_t eventId,
                                      const wchar_t* const* strings, std::uint16_t stringCount) {
  records.push_back({type, eventId, std::vector<std::wstring>(strings, strings + stringCount)});
}

FakeProcess* FakeServicePlatform::FindProcess(std::uint32_t processId) {
  for (FakeProcess& process : processes) {
    if (process.processId == processId) return &process;
  }
  return nullptr;
}

}  // namespace ravitor::service::testing
