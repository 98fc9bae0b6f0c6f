// Each platform call runs in a PlatformScope; each call back into the core in
// a CoreScope.
#include "CountingPlatform.h"

#include "AllocationCounter.h"

namespace ravitor::testing {
namespace {

std::intptr_t HookTrampoline(void* context, int code, std::uintptr_t wParam, std::intptr_t lParam) {
  const auto& target = *static_cast<CountingPlatform::HookTarget*>(context);
  const CoreScope core;
  return target.procedure(target.context, code, wParam, lParam);
}

struct Visit {
  WindowVisitor visitor;
  void* context;
};

bool VisitTrampoline(WindowHandle window, void* context) {
  const auto& visit = *static_cast<Visit*>(context);
  const CoreScope core;
  return visit.visitor(window, visit.context);
}

struct ThreadStart {
  ThreadEntry entry;
  void* argument;
};

std::uint32_t ThreadTrampoline(void* argument) {
  const ThreadStart start = *static_cast<ThreadStart*>(argument);
  delete static_cast<ThreadStart*>(argument);
  const CoreScope core;
  return start.entry(start.argument);
}

}  // namespace

RegistryKey CountingPlatform::OpenKeyForRead(Hive hive, const wchar_t* path) {
  const PlatformScope platform;
  return FakePlatform::OpenKeyForRead(hive, path);
}

bool CountingPlatform::QueryValue(RegistryKey key, const wchar_t* name, void* data,
                                  std::uint32_t* size) {
  const PlatformScope platform;
  return FakePlatform::QueryValue(key, name, data, size);
}

void CountingPlatform::CloseKey(RegistryKey key) {
  const PlatformScope platform;
  FakePlatform::CloseKey(key);
}

RegistryKey CountingPlatform::CreateKey(Hive hive, const wchar_t* path) {
  const PlatformScope platform;
  return FakePlatform::CreateKey(hive, path);
}

void CountingPlatform::SetValue(RegistryKey key, const wchar_t* name, std::uint32_t type,
                                const void* data, std::uint32_t size) {
  const PlatformScope platform;
  FakePlatform::SetValue(key, name, type, data, size);
}

void CountingPlatform::OutputDebugText(const wchar_t* text) {
  const PlatformScope platform;
  FakePlatform::OutputDebugText(text);
}

std::uintptr_t CountingPlatform::StartWindowTimer(WindowHandle window, std::uintptr_t id,
                                                  std::uint32_t periodMs) {
  const PlatformScope platform;
  return FakePlatform::StartWindowTimer(window, id, periodMs);
}

void CountingPlatform::StopWindowTimer(WindowHandle window, std::uintptr_t id) {
  const PlatformScope platform;
  FakePlatform::StopWindowTimer(window, id);
}

void CountingPlatform::RegisterSessionNotification(WindowHandle window) {
  const PlatformScope platform;
  FakePlatform::RegisterSessionNotification(window);
}

void CountingPlatform::UnregisterSessionNotification(WindowHandle window) {
  const PlatformScope platform;
  FakePlatform::UnregisterSessionNotification(window);
}

void CountingPlatform::DisconnectSession() {
  const PlatformScope platform;
  FakePlatform::DisconnectSession();
}

void CountingPlatform::LogoffSession() {
  const PlatformScope platform;
  FakePlatform::LogoffSession();
}

HookHandle CountingPlatform::InstallHook(HookKind kind, HookProcedure procedure, void* context) {
  const PlatformScope platform;
  HookTarget& target = kind == HookKind::Keyboard ? keyboardTarget_ : mouseTarget_;
  target = HookTarget{procedure, context};
  return FakePlatform::InstallHook(kind, &HookTrampoline, &target);
}

void CountingPlatform::RemoveHook(HookHandle hook) {
  const PlatformScope platform;
  FakePlatform::RemoveHook(hook);
}

std::intptr_t CountingPlatform::CallNextHook(int code, std::uintptr_t wParam,
                                             std::intptr_t lParam) {
  const PlatformScope platform;
  return FakePlatform::CallNextHook(code, wParam, lParam);
}

ThreadHandle CountingPlatform::StartThread(ThreadEntry entry, void* argument) {
  const PlatformScope platform;
  auto* start = new ThreadStart{entry, argument};
  const ThreadHandle thread = FakePlatform::StartThread(&ThreadTrampoline, start);
  // A thread that could not be started never runs the trampoline.
  if (thread == ThreadHandle{}) delete start;
  return thread;
}

void CountingPlatform::ShowMessageBox(const wchar_t* text, const wchar_t* caption,
                                      std::uint32_t style) {
  const PlatformScope platform;
  FakePlatform::ShowMessageBox(text, caption, style);
}

void CountingPlatform::Sleep(std::uint32_t milliseconds) {
  const PlatformScope platform;
  FakePlatform::Sleep(milliseconds);
}

void CountingPlatform::CloseThreadHandle(ThreadHandle thread) {
  const PlatformScope platform;
  FakePlatform::CloseThreadHandle(thread);
}

std::uint32_t CountingPlatform::GetThreadLocale() {
  const PlatformScope platform;
  return FakePlatform::GetThreadLocale();
}

void CountingPlatform::SetThreadLocale(std::uint32_t locale) {
  const PlatformScope platform;
  FakePlatform::SetThreadLocale(locale);
}

std::uint32_t CountingPlatform::FormatCatalogMessage(std::uint32_t messageId, wchar_t* buffer,
                                                     std::uint32_t capacity) {
  const PlatformScope platform;
  return FakePlatform::FormatCatalogMessage(messageId, buffer, capacity);
}

std::uint32_t CountingPlatform::GetModulePath(wchar_t* buffer, std::uint32_t capacity) {
  const PlatformScope platform;
  return FakePlatform::GetModulePath(buffer, capacity);
}

bool CountingPlatform::EnumerateWindows(WindowVisitor visitor, void* context) {
  const PlatformScope platform;
  Visit visit{visitor, context};
  return FakePlatform::EnumerateWindows(&VisitTrampoline, &visit);
}

int CountingPlatform::GetWindowTitle(WindowHandle window, wchar_t* buffer, int capacity) {
  const PlatformScope platform;
  return FakePlatform::GetWindowTitle(window, buffer, capacity);
}

void CountingPlatform::SendMessageWithTimeout(WindowHandle window, std::uint32_t message,
                                              std::uintptr_t wParam, std::intptr_t lParam,
                                              std::uint32_t flags, std::uint32_t timeoutMs) {
  const PlatformScope platform;
  FakePlatform::SendMessageWithTimeout(window, message, wParam, lParam, flags, timeoutMs);
}

EventSourceHandle CountingPlatform::OpenEventSource(const wchar_t* sourceName) {
  const PlatformScope platform;
  return FakePlatform::OpenEventSource(sourceName);
}

void CountingPlatform::ReportEvent(EventSourceHandle source, std::uint16_t type,
                                   std::uint16_t category, std::uint32_t eventId) {
  const PlatformScope platform;
  FakePlatform::ReportEvent(source, type, category, eventId);
}

void CountingPlatform::CloseEventSource(EventSourceHandle source) {
  const PlatformScope platform;
  FakePlatform::CloseEventSource(source);
}

void CountingPlatform::TrimWorkingSet() {
  const PlatformScope platform;
  FakePlatform::TrimWorkingSet();
}

MutexHandle CountingPlatform::CreateNamedMutex(const wchar_t* name, bool* alreadyExisted) {
  const PlatformScope platform;
  return FakePlatform::CreateNamedMutex(name, alreadyExisted);
}

void CountingPlatform::CloseMutex(MutexHandle mutex) {
  const PlatformScope platform;
  FakePlatform::CloseMutex(mutex);
}

std::uint32_t CountingPlatform::ActiveConsoleSessionId() {
  const PlatformScope platform;
  return FakePlatform::ActiveConsoleSessionId();
}

WindowHandle CountingPlatform::CreateApplicationWindow(const wchar_t* className,
                                                       const wchar_t* title) {
  const PlatformScope platform;
  return FakePlatform::CreateApplicationWindow(className, title);
}

void CountingPlatform::DestroyApplicationWindow(WindowHandle window) {
  const PlatformScope platform;
  FakePlatform::DestroyApplicationWindow(window);
}

void CountingPlatform::PostQuit(int exitCode) {
  const PlatformScope platform;
  FakePlatform::PostQuit(exitCode);
}

void CountingPlatform::PaintNothing(WindowHandle window) {
  const PlatformScope platform;
  FakePlatform::PaintNothing(window);
}

std::intptr_t CountingPlatform::DefaultWindowProcedure(WindowHandle window, std::uint32_t message,
                                                       std::uintptr_t wParam,
                                                       std::intptr_t lParam) {
  const PlatformScope platform;
  return FakePlatform::DefaultWindowProcedure(window, message, wParam, lParam);
}

bool CountingPlatform::EqualsIgnoringCase(const wchar_t* first, const wchar_t* second) {
  const PlatformScope platform;
  return FakePlatform::EqualsIgnoringCase(first, second);
}

}  // namespace ravitor::testing
