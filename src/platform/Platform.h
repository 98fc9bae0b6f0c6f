// The one seam between the portable core and the operating system: every
// platform operation the program performs, with the arguments it passes and
// the results it reads. Implemented for Win32 and by the recording test fake.
#pragma once

#include <cstdint>

#include "platform/DebugOutput.h"
#include "platform/RegistryReader.h"
#include "platform/SystemValues.h"

namespace ravitor {

// Opaque handles; 0 means "none" or "failed" for every kind.
enum class WindowHandle : std::uintptr_t {};
enum class HookHandle : std::uintptr_t {};
enum class ThreadHandle : std::uintptr_t {};
enum class EventSourceHandle : std::uintptr_t {};
enum class MutexHandle : std::uintptr_t {};

enum class HookKind { Keyboard, Mouse };  // WH_KEYBOARD_LL, WH_MOUSE_LL

// Called by the platform for every low-level input event; returns the result
// the hook must give back to the system.
using HookProcedure = std::intptr_t (*)(void* context, int code, std::uintptr_t wParam,
                                        std::intptr_t lParam);
// Body of a thread started through the seam.
using ThreadEntry = std::uint32_t (*)(void* argument);
// Return true to go on with the enumeration.
using WindowVisitor = bool (*)(WindowHandle window, void* context);

class Platform : public RegistryReader, public DebugOutput {
 public:
  virtual ~Platform() = default;

  // Registry: reading as in RegistryReader; keys are created for writing.
  virtual RegistryKey CreateKey(Hive hive, const wchar_t* path) = 0;
  virtual void SetValue(RegistryKey key, const wchar_t* name, std::uint32_t type, const void* data,
                        std::uint32_t size) = 0;

  // Debugger output: as in DebugOutput.

  // Tick timer bound to a window (no timer procedure: ticks arrive as WM_TIMER).
  virtual std::uintptr_t StartWindowTimer(WindowHandle window, std::uintptr_t id,
                                          std::uint32_t periodMs) = 0;
  virtual void StopWindowTimer(WindowHandle window, std::uintptr_t id) = 0;

  // Terminal Services, always for the current session on the current server.
  virtual void RegisterSessionNotification(WindowHandle window) = 0;
  virtual void UnregisterSessionNotification(WindowHandle window) = 0;
  virtual void DisconnectSession() = 0;
  virtual void LogoffSession() = 0;

  // System-wide low-level input hooks with the program's own module instance.
  virtual HookHandle InstallHook(HookKind kind, HookProcedure procedure, void* context) = 0;
  virtual void RemoveHook(HookHandle hook) = 0;
  virtual std::intptr_t CallNextHook(int code, std::uintptr_t wParam, std::intptr_t lParam) = 0;

  // When the caller's session last had keyboard or mouse input, as the
  // system's millisecond tick count at that moment (32 bits: it wraps after
  // 49.7 days). Kept by the system for the session as a whole, not through
  // the hooks above. True on success; on failure `tickCount` is left as it
  // was.
  virtual bool ReadLastInputTime(std::uint32_t* tickCount) = 0;

  // Threads and message boxes.
  virtual ThreadHandle StartThread(ThreadEntry entry, void* argument) = 0;
  virtual void ShowMessageBox(const wchar_t* text, const wchar_t* caption, std::uint32_t style) = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  virtual void CloseThreadHandle(ThreadHandle thread) = 0;

  // Locale of the calling thread.
  virtual std::uint32_t GetThreadLocale() = 0;
  virtual void SetThreadLocale(std::uint32_t locale) = 0;

  // Formats a text of the executable's message table (language 0, no
  // arguments); returns the number of units written, 0 on failure.
  virtual std::uint32_t FormatCatalogMessage(std::uint32_t messageId, wchar_t* buffer,
                                             std::uint32_t capacity) = 0;
  // Full path of the program's executable; returns its length, 0 on failure.
  virtual std::uint32_t GetModulePath(wchar_t* buffer, std::uint32_t capacity) = 0;

  // Top-level windows.
  virtual bool EnumerateWindows(WindowVisitor visitor, void* context) = 0;
  // The title the system keeps for a window of any process, read without
  // sending the window a message: it never waits for the window's thread.
  // Returns its length, 0 for no title or on failure.
  virtual int GetStoredWindowTitle(WindowHandle window, wchar_t* buffer, int capacity) = 0;
  virtual void SendMessageWithTimeout(WindowHandle window, std::uint32_t message,
                                      std::uintptr_t wParam, std::intptr_t lParam,
                                      std::uint32_t flags, std::uint32_t timeoutMs) = 0;

  // Application event log on the local computer.
  virtual EventSourceHandle OpenEventSource(const wchar_t* sourceName) = 0;
  virtual void ReportEvent(EventSourceHandle source, std::uint16_t type, std::uint16_t category,
                           std::uint32_t eventId) = 0;
  virtual void CloseEventSource(EventSourceHandle source) = 0;

  // Process.
  virtual void TrimWorkingSet() = 0;
  // Creates or opens a named mutex without taking ownership; `name` may carry
  // a namespace prefix ("Local\\" is the caller's session). Returns 0 on
  // failure; `alreadyExisted` tells whether another handle to it was open.
  virtual MutexHandle CreateNamedMutex(const wchar_t* name, bool* alreadyExisted) = 0;
  virtual void CloseMutex(MutexHandle mutex) = 0;

  // Application window and its messages.
  virtual std::uint32_t ActiveConsoleSessionId() = 0;
  // Creates the hidden application window of the registered class; the
  // window is never shown. Returns 0 on failure.
  virtual WindowHandle CreateApplicationWindow(const wchar_t* className, const wchar_t* title) = 0;
  virtual void DestroyApplicationWindow(WindowHandle window) = 0;
  virtual void PostQuit(int exitCode) = 0;
  // Begins and ends painting without drawing anything.
  virtual void PaintNothing(WindowHandle window) = 0;
  virtual std::intptr_t DefaultWindowProcedure(WindowHandle window, std::uint32_t message,
                                               std::uintptr_t wParam, std::intptr_t lParam) = 0;
  // Whole-string comparison ignoring case, as the system's user locale sees it.
  virtual bool EqualsIgnoringCase(const wchar_t* first, const wchar_t* second) = 0;
};

}  // namespace ravitor
