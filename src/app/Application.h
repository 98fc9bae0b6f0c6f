// The process-wide objects of the program and the decisions of its shell:
// the start-up sequence and the routing of window messages to the timers.
#pragma once

#include <cstdint>

#include "notify/Notifier.h"
#include "platform/UniquePlatformHandle.h"
#include "settings/DebugTrace.h"
#include "timers/TimerSet.h"

namespace ravitor {

inline constexpr int kAppStringCapacity = 100;
inline constexpr std::uint32_t kTitleStringId = 103;
inline constexpr std::uint32_t kClassNameStringId = 109;
inline constexpr std::uint32_t kMenuId = 109;
inline constexpr std::uint32_t kLargeIconId = 107;
inline constexpr std::uint32_t kSmallIconId = 108;
inline constexpr std::uint16_t kExitCommand = 105;

// One copy per session: the second finds this mutex held, traces this line
// and ends before it creates its window or reads any policy.
inline constexpr const wchar_t* kSessionNamespacePrefix = L"Local\\";
inline constexpr int kInstanceMutexNameCapacity = kAppStringCapacity + 6;
inline constexpr const wchar_t* kAnotherInstanceTrace =
    L"Another instance is already running in this session, exiting";

inline constexpr std::uint32_t kWmDestroy = 0x0002;
inline constexpr std::uint32_t kWmPaint = 0x000F;
inline constexpr std::uint32_t kWmEndSession = 0x0016;
inline constexpr std::uint32_t kWmSettingChange = 0x001A;
inline constexpr std::uint32_t kWmCommand = 0x0111;
inline constexpr std::uint32_t kWmTimer = 0x0113;
inline constexpr std::uint32_t kWmWtsSessionChange = 0x02B1;

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
