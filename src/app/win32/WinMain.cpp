// The Windows entry: loads the application name, registers the window class,
// runs the start-up sequence and the message loop. Decisions live in the core.
#include <windows.h>

#include "app/Application.h"
#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Platform.h"
#include "resource.h"

namespace {

ravitor::Application* application = nullptr;

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (application == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
  return application->WindowProcedure(ravitor::win32::FromNative<ravitor::WindowHandle>(window),
                                      message, wParam, lParam);
}

void RegisterWindowClass(HINSTANCE instance, const wchar_t* className) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = &WindowProcedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_RAVITOR));
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  windowClass.lpszMenuName = MAKEINTRESOURCEW(IDC_RAVITOR);
  windowClass.lpszClassName = className;
  windowClass.hIconSm = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
  // A failure shows up as a window that cannot be created.
  ::RegisterClassExW(&windowClass);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // The names first: the application is built with them.
  ravitor::AppString title{};
  ravitor::AppString className{};
  ::LoadStringW(instance, IDS_APP_TITLE, title.data(), ravitor::kAppStringCapacity);
  ::LoadStringW(instance, IDC_RAVITOR, className.data(), ravitor::kAppStringCapacity);

  static ravitor::win32::Win32Platform platform(instance);
  static ravitor::Application app(platform, title.data(), className.data());
  application = &app;
  RegisterWindowClass(instance, app.WindowClassName());
  if (!app.RunStartupSequence()) return 0;

  MSG message{};
  BOOL result = FALSE;
  // -1 is an error, not a message: leave the loop rather than spin on it.
  while ((result = ::GetMessageW(&message, nullptr, 0, 0)) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return result == 0 ? static_cast<int>(message.wParam) : 0;
}
