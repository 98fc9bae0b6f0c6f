// Threads, locale, message catalogue, debugger output, Terminal Services and
// process operations of the Win32 platform.
#include <windows.h>
// Needs the types of <windows.h>.
#include <wtsapi32.h>

#include <memory>
#include <new>

#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Platform.h"

namespace ravitor::win32 {
namespace {

static_assert(sizeof(wchar_t) == 2, "registry sizes assume UTF-16 text");

struct ThreadStart {
  ThreadEntry entry;
  void* argument;
};

DWORD WINAPI RunThread(LPVOID parameter) {
  const std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
  return start->entry(start->argument);
}

}  // namespace

void Win32Platform::OutputDebugText(const wchar_t* text) { ::OutputDebugStringW(text); }

void Win32Platform::RegisterSessionNotification(WindowHandle window) {
  ::WTSRegisterSessionNotification(ToNative<HWND>(window), NOTIFY_FOR_THIS_SESSION);
}

void Win32Platform::UnregisterSessionNotification(WindowHandle window) {
  ::WTSUnRegisterSessionNotification(ToNative<HWND>(window));
}

void Win32Platform::DisconnectSession() {
  ::WTSDisconnectSession(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, TRUE);
}

void Win32Platform::LogoffSession() {
  ::WTSLogoffSession(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, TRUE);
}

std::uint32_t Win32Platform::ActiveConsoleSessionId() { return ::WTSGetActiveConsoleSessionId(); }

ThreadHandle Win32Platform::StartThread(ThreadEntry entry, void* argument) {
  std::unique_ptr<ThreadStart> start(new (std::nothrow) ThreadStart{entry, argument});
  if (!start) return {};
  const HANDLE thread = ::CreateThread(nullptr, 0, &RunThread, start.get(), 0, nullptr);
  if (thread == nullptr) return {};
  start.release();  // the thread frees it
  return FromNative<ThreadHandle>(thread);
}

void Win32Platform::ShowMessageBox(const wchar_t* text, const wchar_t* caption,
                                   std::uint32_t style) {
  ::MessageBoxW(nullptr, text, caption, style);
}

void Win32Platform::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

void Win32Platform::CloseThreadHandle(ThreadHandle thread) {
  ::CloseHandle(ToNative<HANDLE>(thread));
}

std::uint32_t Win32Platform::GetThreadLocale() { return ::GetThreadLocale(); }

void Win32Platform::SetThreadLocale(std::uint32_t locale) { ::SetThreadLocale(locale); }

std::uint32_t Win32Platform::FormatCatalogMessage(std::uint32_t messageId, wchar_t* buffer,
                                                  std::uint32_t capacity) {
  // No module handle: the program's own message table. Language 0 lets the
  // system pick neutral, thread, user, system language, then US English.
  return ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE, nullptr, messageId, 0, buffer, capacity,
                          nullptr);
}

std::uint32_t Win32Platform::GetModulePath(wchar_t* buffer, std::uint32_t capacity) {
  return ::GetModuleFileNameW(nullptr, buffer, capacity);
}

void Win32Platform::TrimWorkingSet() {
  ::SetProcessWorkingSetSize(::GetCurrentProcess(), static_cast<SIZE_T>(-1),
                             static_cast<SIZE_T>(-1));
}

MutexHandle Win32Platform::CreateNamedMutex(const wchar_t* name, bool* alreadyExisted) {
  const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name);
  // The last error tells an opened mutex from a new one even on success.
  *alreadyExisted = mutex != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS;
  return FromNative<MutexHandle>(mutex);
}

void Win32Platform::CloseMutex(MutexHandle mutex) { ::CloseHandle(ToNative<HANDLE>(mutex)); }

}  // namespace ravitor::win32
