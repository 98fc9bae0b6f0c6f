// Start-up checks and the window procedure's table of messages.
#include "app/Application.h"

#include <cwchar>

#include "resource.h"

#include "settings/PolicyNames.h"

namespace ravitor {

namespace {

AppString CopyOf(const wchar_t* text) {
  AppString copy{};
  if (text != nullptr) std::wcsncpy(copy.data(), text, copy.size() - 1);
  return copy;
}

}  // namespace

Application::Application(Platform& platform, const wchar_t* windowTitle,
                         const wchar_t* windowClassName)
    : platform_(platform),
      windowTitle_(CopyOf(windowTitle)),
      windowClassName_(CopyOf(windowClassName)),
      trace_(platform),
      notifier_(platform, windowClassName_.data()),
      timers_(platform, trace_, notifier_, windowClassName_.data()) {}

bool Application::RunStartupSequence() {
  trace_.Configure(Hive::LocalMachine, kTraceSwitchKey);
  if (!TakeInstanceMutex()) {
    trace_.Trace(kAnotherInstanceTrace);
    return false;
  }
  trace_.Trace(L"Debugger activated");
  if (platform_.ActiveConsoleSessionId() == 0) {
    trace_.Trace(L"Local session detected");
    // The trace switch key lets an administrator run it there anyway.
    if (!trace_.Enabled()) return false;
  }
  const WindowHandle window =
      platform_.CreateApplicationWindow(windowClassName_.data(), windowTitle_.data());
  if (window == WindowHandle{}) return false;
  return timers_.InitializeAllTimers(window);
}

bool Application::TakeInstanceMutex() {
  wchar_t name[kInstanceMutexNameCapacity];
  std::swprintf(name, kInstanceMutexNameCapacity, L"%ls%ls", kSessionNamespacePrefix,
                windowClassName_.data());
  bool alreadyExisted = false;
  instanceMutex_ = UniqueMutex(platform_, platform_.CreateNamedMutex(name, &alreadyExisted));
  // Only a copy known to run ends this one: a mutex that cannot be had at
  // all must not leave the session without its limits.
  return !alreadyExisted;
}

std::intptr_t Application::WindowProcedure(WindowHandle window, std::uint32_t message,
                                           std::uintptr_t wParam, std::intptr_t lParam) {
  switch (message) {
    case kWmDestroy:
      platform_.PostQuit(0);
      return 0;
    case kWmPaint:
      platform_.PaintNothing(window);
      return 0;
    case kWmEndSession:
      // FALSE: the end of the session was cancelled (a program refused it, or
      // the user did), and the limits must go on being enforced.
      if (wParam != 0) platform_.DestroyApplicationWindow(window);
      return 0;
    case kWmSettingChange: {
      const auto* section = reinterpret_cast<const wchar_t*>(lParam);
      if (section != nullptr && platform_.EqualsIgnoringCase(section, L"Policy")) {
        timers_.OnPolicyChange();
      }
      return 0;
    }
    case kWmCommand:
      if ((wParam & 0xFFFF) != IDM_EXIT) break;  // File, Exit
      platform_.DestroyApplicationWindow(window);
      return 0;
    case kWmTimer:
      timers_.OnTick(wParam);
      return 0;
    case kWmWtsSessionChange:
      timers_.OnSessionChange(static_cast<std::uint32_t>(wParam));
      return 0;
    default:
      break;
  }
  return platform_.DefaultWindowProcedure(window, message, wParam, lParam);
}

}  // namespace ravitor
