// The platform seam implemented with the Win32, Terminal Services, registry
// and event-log functions of Windows.
#pragma once

#include <windows.h>

#include "platform/Platform.h"

namespace ravitor::win32 {

class Win32Platform final : public Platform {
 public:
  explicit Win32Platform(HINSTANCE moduleInstance) : moduleInstance_(moduleInstance) {}

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
  HINSTANCE moduleInstance_;
};

}  // namespace ravitor::win32
