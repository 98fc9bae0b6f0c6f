// Plays a user session against a running RAVITOR.exe from another process:
// finds its hidden window by class name and sends it what Windows would.
//   SessionDriver find        exit 0 when the window exists and is hidden
//   SessionDriver command ID  posts WM_COMMAND ID to the window
//   SessionDriver post MESSAGE WPARAM  posts any message with lParam 0
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

constexpr const wchar_t* kApplicationName = L"Tolvex Pellan Session Timers";

HWND FindApplicationWindow() { return ::FindWindowW(kApplicationName, nullptr); }

int Find() {
  const HWND window = FindApplicationWindow();
  if (window == nullptr) return 1;
  wchar_t title[256] = {};
  ::GetWindowTextW(window, title, 256);
  std::wprintf(L"window %p class \"%ls\" title \"%ls\" visible %d\n", static_cast<void*>(window),
               kApplicationName, title, ::IsWindowVisible(window) ? 1 : 0);
  return std::wcscmp(title, kApplicationName) == 0 && !::IsWindowVisible(window) ? 0 : 2;
}

int Post(UINT message, WPARAM wParam) {
  const HWND window = FindApplicationWindow();
  if (window == nullptr) return 1;
  return ::PostMessageW(window, message, wParam, 0) ? 0 : 3;
}

unsigned long Number(const wchar_t* text) { return std::wcstoul(text, nullptr, 0); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && std::wcscmp(argv[1], L"find") == 0) return Find();
  if (argc >= 3 && std::wcscmp(argv[1], L"command") == 0) return Post(WM_COMMAND, Number(argv[2]));
  if (argc >= 4 && std::wcscmp(argv[1], L"post") == 0) {
    return Post(static_cast<UINT>(Number(argv[2])), Number(argv[3]));
  }
  std::fwprintf(stderr, L"usage: SessionDriver find | command ID | post MESSAGE WPARAM\n");
  return 64;
}
