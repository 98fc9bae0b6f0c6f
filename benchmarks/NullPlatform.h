// A platform that answers every call at once and records nothing, so that a
// benchmark over it times the core's own work between the platform calls.
#pragma once

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <utility>
#include <vector>

#include "platform/Platform.h"

namespace ravitor::benchmarks {

class NullPlatform final : public Platform {
 public:
  // The trace switch key is recognised by its address: the core passes on the
  // very pointer it was configured with, and a string comparison here would
  // cost more than the work being timed.
  const wchar_t* traceSwitchPath = nullptr;
  bool traceSwitchExists = false;
  // Values every policy key answers with, by name; anything else is absent.
  std::vector<std::pair<const wchar_t*, std::uint32_t>> values;
  // The session's last input time; what nothing moves, no tick sees as input.
  std::uint32_t lastInputTime = 0;

  // Calls the installed hook of `kind` the way the Win32 trampoline does.
  std::intptr_t Deliver(HookKind kind, int code, std::uintptr_t wParam, std::intptr_t lParam) {
    const Hook& hook = hooks_[kind == HookKind::Keyboard ? 0 : 1];
    if (hook.procedure == nullptr) return 0;
    return hook.procedure(hook.context, code, wParam, lParam);
  }

  RegistryKey OpenKeyForRead(Hive, const wchar_t* path) override {
    if (path == traceSwitchPath) return traceSwitchExists ? RegistryKey{1} : RegistryKey{};
    return RegistryKey{2};
  }
  bool QueryValue(RegistryKey, const wchar_t* name, void* data, std::uint32_t* size) override {
    for (const auto& [valueName, value] : values) {
      if (std::wcscmp(valueName, name) != 0) continue;
      if (*size < sizeof value) return false;
      std::memcpy(data, &value, sizeof value);
      *size = sizeof value;
      return true;
    }
    return false;
  }
  void CloseKey(RegistryKey) override {}
  RegistryKey CreateKey(Hive, const wchar_t*) override { return RegistryKey{3}; }
  void SetValue(RegistryKey, const wchar_t*, std::uint32_t, const void*, std::uint32_t) override {}
  void OutputDebugText(const wchar_t*) override {}
  std::uintptr_t StartWindowTimer(WindowHandle, std::uintptr_t id, std::uint32_t) override {
    return id;
  }
  void StopWindowTimer(WindowHandle, std::uintptr_t) override {}
  void RegisterSessionNotification(WindowHandle) override {}
  void UnregisterSessionNotification(WindowHandle) override {}
  void DisconnectSession() override {}
  void LogoffSession() override {}
  HookHandle InstallHook(HookKind kind, HookProcedure procedure, void* context) override {
    const int index = kind == HookKind::Keyboard ? 0 : 1;
    hooks_[index] = Hook{procedure, context};
    return HookHandle{static_cast<std::uintptr_t>(index + 1)};
  }
  void RemoveHook(HookHandle hook) override {
    hooks_[static_cast<std::uintptr_t>(hook) == 1 ? 0 : 1] = Hook{};
  }
  std::intptr_t CallNextHook(int, std::uintptr_t, std::intptr_t) override { return 0; }
  bool ReadLastInputTime(std::uint32_t* tickCount) override {
    *tickCount = lastInputTime;
    return true;
  }
  ThreadHandle StartThread(ThreadEntry, void*) override { return ThreadHandle{}; }
  void ShowMessageBox(const wchar_t*, const wchar_t*, std::uint32_t) override {}
  void Sleep(std::uint32_t) override {}
  void CloseThreadHandle(ThreadHandle) override {}
  std::uint32_t GetThreadLocale() override { return 0x0409; }
  void SetThreadLocale(std::uint32_t) override {}
  std::uint32_t FormatCatalogMessage(std::uint32_t, wchar_t*, std::uint32_t) override { return 0; }
  std::uint32_t GetModulePath(wchar_t*, std::uint32_t) override { return 0; }
  bool EnumerateWindows(WindowVisitor, void*) override { return true; }
  int GetStoredWindowTitle(WindowHandle, wchar_t*, int) override { return 0; }
  void SendMessageWithTimeout(WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t,
                              std::uint32_t, std::uint32_t) override {}
  EventSourceHandle OpenEventSource(const wchar_t*) override { return EventSourceHandle{}; }
  void ReportEvent(EventSourceHandle, std::uint16_t, std::uint16_t, std::uint32_t) override {}
  void CloseEventSource(EventSourceHandle) override {}
  void TrimWorkingSet() override {}
  MutexHandle CreateNamedMutex(const wchar_t*, bool* alreadyExisted) override {
    *alreadyExisted = false;
    return MutexHandle{1};
  }
  void CloseMutex(MutexHandle) override {}
  std::uint32_t ActiveConsoleSessionId() override { return 1; }
  WindowHandle CreateApplicationWindow(const wchar_t*, const wchar_t*) override {
    return WindowHandle{0x42};
  }
  void DestroyApplicationWindow(WindowHandle) override {}
  void PostQuit(int) override {}
  void PaintNothing(WindowHandle) override {}
  std::intptr_t DefaultWindowProcedure(WindowHandle, std::uint32_t, std::uintptr_t,
                                       std::intptr_t) override {
    return 0;
  }
  bool EqualsIgnoringCase(const wchar_t*, const wchar_t*) override { return false; }

 private:
  struct Hook {
    HookProcedure procedure = nullptr;
    void* context = nullptr;
  };
  Hook hooks_[2];
};

}  // namespace ravitor::benchmarks
