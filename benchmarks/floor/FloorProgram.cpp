// The least a program in RAVITOR.exe's place needs, as the floor its resident
// figures are measured against: a hidden window, a 30-second window timer,
// the two low-level input hooks, which pass every event on, and at each tick
// one reading of the session's last input time, the input the hooks miss. No
// registry, no policies. The window has RAVITOR.exe's class name and title so
// that the session driver finds, ticks and ends it the same way.
//
// With --trace-checks it also makes the trace switch checks RAVITOR.exe makes
// by design, and nothing else: one per input event and two per tick (the
// connected set ticks two timers), each opening the switch key, writing the
// line while the key exists, and closing it.
#include <windows.h>

#include <cwchar>

#include "platform/win32/UniqueWin32Handle.h"

namespace {

using ravitor::win32::unique_hhook;
using ravitor::win32::unique_hkey;

constexpr const wchar_t* kApplicationName = L"Tolvex Pellan Session Timers";
constexpr const wchar_t* kTraceSwitchKey = L"SOFTWARE\\Brevane\\Tolvex Pellan Session Timers\\dbg";
constexpr UINT_PTR kTickTimerId = 151;
constexpr UINT kTickPeriodMs = 30000;
constexpr WORD kExitCommand = 105;

bool traceChecks = false;

void TraceCheck(const wchar_t* line) {
  if (!traceChecks) return;
  unique_hkey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTraceSwitchKey, 0, KEY_READ, key.put()) !=
      ERROR_SUCCESS) {
    return;
  }
  ::OutputDebugStringW(line);
}

LRESULT CALLBACK KeyboardPassOn(int code, WPARAM wParam, LPARAM lParam) {
  TraceCheck(L"Keyboard timer reset");
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK MousePassOn(int code, WPARAM wParam, LPARAM lParam) {
  TraceCheck(L"Mouse timer reset");
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      if (wParam == kTickTimerId) {
        TraceCheck(L"Tick");
        LASTINPUTINFO lastInput{};
        lastInput.cbSize = sizeof(lastInput);
        // Between the two timers' ticks, as RAVITOR.exe reads it; decides nothing.
        ::GetLastInputInfo(&lastInput);
        TraceCheck(L"Tick");
      }
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) != kExitCommand) break;
      ::DestroyWindow(window);
      return 0;
    case WM_ENDSESSION:
      ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  traceChecks = commandLine != nullptr && std::wcsstr(commandLine, L"--trace-checks") != nullptr;
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = &WindowProcedure;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kApplicationName;
  if (::RegisterClassExW(&windowClass) == 0) return 1;
  // Never shown.
  const HWND window =
      ::CreateWindowExW(0, kApplicationName, kApplicationName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                        0, CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  ::SetTimer(window, kTickTimerId, kTickPeriodMs, nullptr);

  MSG message{};
  BOOL result = FALSE;
  const unique_hhook keyboard(::SetWindowsHookExW(WH_KEYBOARD_LL, &KeyboardPassOn, instance, 0));
  const unique_hhook mouse(::SetWindowsHookExW(WH_MOUSE_LL, &MousePassOn, instance, 0));
  while ((result = ::GetMessageW(&message, nullptr, 0, 0)) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return result == 0 ? static_cast<int>(message.wParam) : 0;
}
