// The process-wide objects of the program and the decisions of its shell:
// the start-up sequence and the routing of window messages to the timers.
#pragma once

#include <array>
#include <cstdint>

#include "notify/Notifier.h"
#include "platform/SystemValues.h"
#include "platform/UniquePlatformHandle.h"
#include "settings/DebugTrace.h"
#include "timers/TimerSet.h"

namespace ravitor {

inline constexpr int kAppStringCapacity = 100;

// One copy per session: the second finds this mutex held, traces this line
// and ends before it creates its window or reads any policy.
inline constexpr const wchar_t* kSessionNamespacePrefix = L"Local\\";
inline constexpr int kInstanceMutexNameCapacity = kAppStringCapacity + 6;
inline constexpr const wchar_t* kAnotherInstanceTrace =
    L"Another instance is already running in this session, exiting";

// The application's name as the string table gives it: a copy of at most
// kAppStringCapacity - 1 units.
using AppString = std::array<wchar_t, kAppStringCapacity>;

class Application {
 public:
  // `windowTitle` and `windowClassName` come from the string table; the
  // class name is also the event-log source name.
  Application(Platform& platform, const wchar_t* windowTitle, const wchar_t* windowClassName);
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  const wchar_t* WindowTitle() const { return windowTitle_.data(); }
  const wchar_t* WindowClassName() const { return windowClassName_.data(); }

  // False ends the program at once with exit code 0.
  bool RunStartupSequence();
  std::intptr_t WindowProcedure(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam);

  TimerSet& Timers() { return timers_; }

 private:
  // False when another copy of the program holds the session's mutex.
  bool TakeInstanceMutex();

  Platform& platform_;
  // Before the objects that point into them.
  const AppString windowTitle_;
  const AppString windowClassName_;
  DebugTrace trace_;
  Notifier notifier_;
  TimerSet timers_;
  // Held for the life of the process.
  UniqueMutex instanceMutex_;
};

}  // namespace ravitor
