// Windows, window timers, low-level input hooks, the session's last input
// time and the enumeration of top-level windows for the Win32 platform.
#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Platform.h"

namespace ravitor::win32 {
namespace {

// One hook of each kind exists at a time; the system calls these plain
// procedures, which hand the call to the core.
struct HookTarget {
  HookProcedure procedure = nullptr;
  void* context = nullptr;
};
HookTarget keyboardTarget;
HookTarget mouseTarget;

LRESULT Deliver(const HookTarget& target, int code, WPARAM wParam, LPARAM lParam) {
  if (target.procedure == nullptr) return ::CallNextHookEx(nullptr, code, wParam, lParam);
  return target.procedure(target.context, code, wParam, lParam);
}

LRESULT CALLBACK KeyboardHook(int code, WPARAM wParam, LPARAM lParam) {
  return Deliver(keyboardTarget, code, wParam, lParam);
}

LRESULT CALLBACK MouseHook(int code, WPARAM wParam, LPARAM lParam) {
  return Deliver(mouseTarget, code, wParam, lParam);
}

struct Enumeration {
  WindowVisitor visitor;
  void* context;
};

BOOL CALLBACK VisitWindow(HWND window, LPARAM parameter) {
  const auto& enumeration = *reinterpret_cast<const Enumeration*>(parameter);
  return enumeration.visitor(FromNative<WindowHandle>(window), enumeration.context) ? TRUE : FALSE;
}

}  // namespace

std::uintptr_t Win32Platform::StartWindowTimer(WindowHandle window, std::uintptr_t id,
                                               std::uint32_t periodMs) {
  return ::SetTimer(ToNative<HWND>(window), id, periodMs, nullptr);
}

void Win32Platform::StopWindowTimer(WindowHandle window, std::uintptr_t id) {
  ::KillTimer(ToNative<HWND>(window), id);
}

HookHandle Win32Platform::InstallHook(HookKind kind, HookProcedure procedure, void* context) {
  const bool keyboard = kind == HookKind::Keyboard;
  (keyboard ? keyboardTarget : mouseTarget) = HookTarget{procedure, context};
  // System-wide (thread 0) with the program's own module instance.
  return FromNative<HookHandle>(::SetWindowsHookExW(keyboard ? WH_KEYBOARD_LL : WH_MOUSE_LL,
                                                    keyboard ? &KeyboardHook : &MouseHook,
                                                    moduleInstance_, 0));
}

void Win32Platform::RemoveHook(HookHandle hook) { ::UnhookWindowsHookEx(ToNative<HHOOK>(hook)); }

std::intptr_t Win32Platform::CallNextHook(int code, std::uintptr_t wParam, std::intptr_t lParam) {
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

bool Win32Platform::ReadLastInputTime(std::uint32_t* tickCount) {
  // Session-specific, as documented: the input of this session only.
  LASTINPUTINFO info{};
  info.cbSize = sizeof(info);
  if (::GetLastInputInfo(&info) == FALSE) return false;
  *tickCount = info.dwTime;
  return true;
}

bool Win32Platform::EnumerateWindows(WindowVisitor visitor, void* context) {
  Enumeration enumeration{visitor, context};
  return ::EnumWindows(&VisitWindow, reinterpret_cast<LPARAM>(&enumeration)) != FALSE;
}

int Win32Platform::GetStoredWindowTitle(WindowHandle window, wchar_t* buffer, int capacity) {
  // GetWindowTextW sends WM_GETTEXT to a window of this process and waits
  // for its thread without a time-out: every box thread's hidden IME window
  // would hold the sweep while that thread is busy closing its box, or for
  // ever if it hangs. InternalGetWindowText reads the title the system keeps,
  // which is what GetWindowTextW returns for other processes' windows too.
  return ::InternalGetWindowText(ToNative<HWND>(window), buffer, capacity);
}

void Win32Platform::SendMessageWithTimeout(WindowHandle window, std::uint32_t message,
                                           std::uintptr_t wParam, std::intptr_t lParam,
                                           std::uint32_t flags, std::uint32_t timeoutMs) {
  DWORD_PTR result = 0;
  ::SendMessageTimeoutW(ToNative<HWND>(window), message, wParam, lParam, flags, timeoutMs, &result);
}

WindowHandle Win32Platform::CreateApplicationWindow(const wchar_t* className,
                                                    const wchar_t* title) {
  // No menu handle: the window takes its class's menu. It is never shown.
  return FromNative<WindowHandle>(::CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW,
                                                    CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr,
                                                    nullptr, moduleInstance_, nullptr));
}

void Win32Platform::DestroyApplicationWindow(WindowHandle window) {
  ::DestroyWindow(ToNative<HWND>(window));
}

void Win32Platform::PostQuit(int exitCode) { ::PostQuitMessage(exitCode); }

void Win32Platform::PaintNothing(WindowHandle window) {
  PAINTSTRUCT paint{};
  ::BeginPaint(ToNative<HWND>(window), &paint);
  ::EndPaint(ToNative<HWND>(window), &paint);
}

std::intptr_t Win32Platform::DefaultWindowProcedure(WindowHandle window, std::uint32_t message,
                                                    std::uintptr_t wParam, std::intptr_t lParam) {
  return ::DefWindowProcW(ToNative<HWND>(window), message, wParam, lParam);
}

bool Win32Platform::EqualsIgnoringCase(const wchar_t* first, const wchar_t* second) {
  return ::lstrcmpiW(first, second) == 0;
}

}  // namespace ravitor::win32
