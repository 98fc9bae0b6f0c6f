// Test helper, not shipped: starts the command line of a value of
// HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run (64-bit view) the way the
// shell starts it at logon, as CreateProcess's command line with no
// application name, waits for the process and returns its exit code.
//
//   RunKeyStarter.exe VALUE-NAME
//
// Its own failures end it with the codes 200 to 204 below, which RAVITOR.exe
// never returns.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include "platform/win32/UniqueWin32Handle.h"

namespace {

using ravitor::win32::unique_handle;
using ravitor::win32::unique_hkey;

constexpr int kBadUsage = 200;
constexpr int kNoSuchValue = 201;
constexpr int kNotAString = 202;
constexpr int kStartFailed = 203;
constexpr int kStillRunning = 204;
constexpr DWORD kWaitMilliseconds = 20000;

// The key is closed again before the command line starts.
bool ReadRunValue(const wchar_t* name, DWORD& type, std::vector<wchar_t>& value) {
  unique_hkey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) {
    return false;
  }
  DWORD size = 0;
  LSTATUS status = ::RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size);
  value.assign(size / sizeof(wchar_t) + 1, L'\0');
  if (status == ERROR_SUCCESS) {
    status = ::RegQueryValueExW(key.get(), name, nullptr, &type,
                                reinterpret_cast<BYTE*>(value.data()), &size);
  }
  return status == ERROR_SUCCESS;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fwprintf(stderr, L"usage: RunKeyStarter VALUE-NAME\n");
    return kBadUsage;
  }
  DWORD type = 0;
  std::vector<wchar_t> value;
  if (!ReadRunValue(argv[1], type, value)) return kNoSuchValue;
  // The shell accepts both string types for a Run value.
  if (type != REG_SZ && type != REG_EXPAND_SZ) return kNotAString;

  std::vector<wchar_t> commandLine(value);
  if (type == REG_EXPAND_SZ) {
    const DWORD length = ::ExpandEnvironmentStringsW(value.data(), nullptr, 0);
    commandLine.assign(length + 1, L'\0');
    ::ExpandEnvironmentStringsW(value.data(), commandLine.data(), length);
  }
  std::wprintf(L"command line: %ls\n", commandLine.data());
  std::fflush(stdout);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    std::fwprintf(stderr, L"CreateProcess failed: %lu\n", ::GetLastError());
    return kStartFailed;
  }
  const unique_handle child(process.hProcess);
  const unique_handle firstThread(process.hThread);
  if (::WaitForSingleObject(child.get(), kWaitMilliseconds) != WAIT_OBJECT_0) {
    ::TerminateProcess(child.get(), 1);
    return kStillRunning;
  }
  DWORD exitCode = 0;
  ::GetExitCodeProcess(child.get(), &exitCode);
  return static_cast<int>(exitCode);
}
