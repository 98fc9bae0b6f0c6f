// The process-wide objects of the program and the decisions of its shell:
// the start-up sequence and the routing of window messages to the timers.
#pragma once

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

class Application {
 public:
  explicit Application(Platform& platform);
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // Filled by the entry from the string table before the start-up sequence.
  wchar_t windowTitle[kAppStringCapacity] = {};
  // Also the event-log source name.
  wchar_t windowClassName[kAppStringCapacity] = {};

  // False ends the program at once with exit code 0.
  bool RunStartupSequence();
  std::intptr_t WindowProcedure(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam);

  TimerSet& Timers() { return timers_; }

 private:
  // False when another copy of the program holds the session's mutex.
  bool TakeInstanceMutex();

  Platform& platform_;
  DebugTrace trace_;
  Notifier notifier_;
  TimerSet timers_;
  // Held for the life of the process.
  UniqueMutex instanceMutex_;
};

}  // namespace ravitor
