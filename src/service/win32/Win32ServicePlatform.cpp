// The session service's platform operations on Win32.
#include "service/win32/Win32ServicePlatform.h"

#include <sddl.h>
#include <tlhelp32.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <cwchar>
#include <string>

#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32RegistryRead.h"
#include "service/ServiceNames.h"

namespace ravitor::service::win32 {
namespace {

using ravitor::win32::FromNative;
using ravitor::win32::ToNative;
using ravitor::win32::unique_handle;
using ravitor::win32::unique_hfile;
using ravitor::win32::unique_hkey;

struct WtsMemory {
  ~WtsMemory() {
    if (memory != nullptr) ::WTSFreeMemory(memory);
  }
  void* memory = nullptr;
};

bool CopyText(const wchar_t* text, wchar_t* buffer, std::uint32_t capacity) {
  const std::size_t length = std::wcslen(text);
  if (length >= capacity) return false;
  std::wmemcpy(buffer, text, length + 1);
  return true;
}

}  // namespace

Win32ServicePlatform::Win32ServicePlatform(ServiceEvents& events)
    : events_(events), eventSource_(::RegisterEventSourceW(nullptr, kEventSourceName)) {
  for (KeyWatch& watch : keyWatches_)
    watch.changed.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
}

Win32ServicePlatform::~Win32ServicePlatform() {
  // Each held process ends its wait before its handle and context go.
  processes_.clear();
}

RegistryKey Win32ServicePlatform::OpenKeyForRead(Hive hive, const wchar_t* path) {
  return ravitor::win32::OpenRegistryKeyForRead(hive, path);
}

bool Win32ServicePlatform::QueryValue(RegistryKey key, const wchar_t* name, void* data,
                                      std::uint32_t* size) {
  return ravitor::win32::QueryRegistryValue(key, name, data, size);
}

void Win32ServicePlatform::CloseKey(RegistryKey key) { ravitor::win32::CloseRegistryKey(key); }

void Win32ServicePlatform::OutputDebugText(const wchar_t* text) { ::OutputDebugStringW(text); }

std::uint32_t Win32ServicePlatform::GetModulePath(wchar_t* buffer, std::uint32_t capacity) {
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, capacity);
  // A path cut off at the buffer's end is no path.
  return length >= capacity ? 0 : length;
}

bool Win32ServicePlatform::SamePath(const wchar_t* first, const wchar_t* second) {
  return ::CompareStringOrdinal(first, -1, second, -1, TRUE) == CSTR_EQUAL;
}

bool Win32ServicePlatform::EnumerateSessions(SessionVisitor visitor, void* context) {
  WtsMemory sessions;
  DWORD count = 0;
  if (!::WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1,
                               reinterpret_cast<WTS_SESSION_INFOW**>(&sessions.memory), &count)) {
    return false;
  }
  const auto* info = static_cast<const WTS_SESSION_INFOW*>(sessions.memory);
  for (DWORD i = 0; i < count; ++i) {
    const WTS_CONNECTSTATE_CLASS state = info[i].State;
    if (state != WTSActive && state != WTSDisconnected) continue;
    if (!visitor(info[i].SessionId, context)) break;
  }
  return true;
}

std::uint32_t Win32ServicePlatform::ActiveConsoleSessionId() {
  return ::WTSGetActiveConsoleSessionId();
}

TokenHandle Win32ServicePlatform::QueryUserToken(std::uint32_t sessionId, std::uint32_t* error) {
  HANDLE token = nullptr;
  if (!::WTSQueryUserToken(sessionId, &token)) {
    *error = ::GetLastError();
    return {};
  }
  return FromNative<TokenHandle>(token);
}

bool Win32ServicePlatform::GetTokenUserSid(TokenHandle token, wchar_t* buffer,
                                           std::uint32_t capacity) {
  alignas(TOKEN_USER) unsigned char data[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD length = 0;
  if (!::GetTokenInformation(ToNative<HANDLE>(token), TokenUser, data, sizeof data, &length)) {
    return false;
  }
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(data)->User.Sid, &text)) return false;
  const bool copied = CopyText(text, buffer, capacity);
  ::LocalFree(text);
  return copied;
}

void Win32ServicePlatform::CloseToken(TokenHandle token) { ::CloseHandle(ToNative<HANDLE>(token)); }

ProcessHandle Win32ServicePlatform::StartProcessAsUser(TokenHandle token, const wchar_t* path,
                                                       std::uint32_t* error) {
  void* environment = nullptr;
  if (!::CreateEnvironmentBlock(&environment, ToNative<HANDLE>(token), FALSE)) {
    *error = ::GetLastError();
    return {};
  }
  // The quotes keep a path with blanks from being read as a program and
  // arguments; CreateProcess may write into the command line.
  std::wstring commandLine = L"\"" + std::wstring(path) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.lpDesktop = const_cast<wchar_t*>(L"winsta0\\default");
  PROCESS_INFORMATION started{};
  const BOOL created = ::CreateProcessAsUserW(ToNative<HANDLE>(token), path, commandLine.data(),
                                              nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                                              environment, nullptr, &startup, &started);
  const DWORD lastError = ::GetLastError();
  ::DestroyEnvironmentBlock(environment);
  if (!created) {
    *error = lastError;
    return {};
  }
  ::CloseHandle(started.hThread);
  return Hold(started.hProcess);
}

bool Win32ServicePlatform::EnumerateProcesses(ProcessVisitor visitor, void* context) {
  const unique_hfile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    DWORD sessionId = 0;
    if (!::ProcessIdToSessionId(entry.th32ProcessID, &sessionId)) continue;  // gone meanwhile
    if (!visitor(entry.th32ProcessID, sessionId, entry.szExeFile, context)) break;
  }
  return true;
}

std::uint32_t Win32ServicePlatform::GetProcessImagePath(std::uint32_t processId, wchar_t* buffer,
                                                        std::uint32_t capacity) {
  const unique_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return 0;
  DWORD length = capacity;
  if (!::QueryFullProcessImageNameW(process.get(), 0, buffer, &length)) return 0;
  return length;
}

ProcessHandle Win32ServicePlatform::OpenProcessForWait(std::uint32_t processId) {
  HANDLE process = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  return process == nullptr ? ProcessHandle{} : Hold(process);
}

ProcessHandle Win32ServicePlatform::Hold(HANDLE process) {
  const ProcessHandle held{nextProcess_++};
  processes_[held].handle.reset(process);
  return held;
}

void CALLBACK Win32ServicePlatform::ProcessSignalled(void* context, BOOLEAN /*timedOut*/) {
  const auto& wait = *static_cast<WaitContext*>(context);
  wait.events->Put({ServiceEvent::Kind::ProcessEnded, 0, 0, wait.process});
}

bool Win32ServicePlatform::WatchProcess(ProcessHandle process) {
  const auto found = processes_.find(process);
  if (found == processes_.end()) return false;
  HeldProcess& held = found->second;
  held.wait.reset();  // a wait already there ends before its context goes
  held.context.reset(new WaitContext{&events_, process});
  // A thread-pool wait per copy: any number of sessions, one loop.
  return ::RegisterWaitForSingleObject(held.wait.put(), held.handle.get(), &ProcessSignalled,
                                       held.context.get(), INFINITE, WT_EXECUTEONLYONCE) != FALSE;
}

std::uint32_t Win32ServicePlatform::ProcessExitCode(ProcessHandle process) {
  DWORD code = 0;
  const auto found = processes_.find(process);
  if (found != processes_.end()) ::GetExitCodeProcess(found->second.handle.get(), &code);
  return code;
}

void Win32ServicePlatform::CloseProcess(ProcessHandle process) {
  const auto found = processes_.find(process);
  if (found == processes_.end()) return;
  processes_.erase(found);
}

bool Win32ServicePlatform::WatchKey(std::uint32_t watch, const wchar_t* path) {
  if (watch >= kKeyWatches) return false;
  KeyWatch& key = keyWatches_[watch];
  key.key.reset();
  // Closing the key signals its event: a change is only one seen from here on.
  ::ResetEvent(key.changed.get());
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_NOTIFY, key.key.put()) != ERROR_SUCCESS) {
    return false;
  }
  return ::RegNotifyChangeKeyValue(key.key.get(), TRUE,
                                   REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                   key.changed.get(), TRUE) == ERROR_SUCCESS;
}

void Win32ServicePlatform::StopWatchingKeys() {
  for (KeyWatch& key : keyWatches_) {
    key.key.reset();
    ::ResetEvent(key.changed.get());
  }
}

void Win32ServicePlatform::ReportEvent(std::uint16_t type, std::uint32_t eventId,
                                       const wchar_t* const* strings, std::uint16_t stringCount) {
  if (!eventSource_) return;  // without a source there is nowhere to write
  ::ReportEventW(eventSource_.get(), type, 0, eventId, nullptr, stringCount, 0,
                 const_cast<const wchar_t**>(strings), nullptr);
}

std::uint64_t Win32ServicePlatform::NowMilliseconds() { return ::GetTickCount64(); }

}  // namespace ravitor::service::win32
