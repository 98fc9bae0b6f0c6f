// Warning boxes on threads of their own, the sweep that closes expired ones,
// and event-log records.
#pragma once

#include <cstdint>

#include "platform/Platform.h"
#include "platform/SystemValues.h"

namespace ravitor {

// Which warnings the sweep closes: those of the timers whose count is at
// least their limit when the sweep starts.
struct ExpiredWarnings {
  bool idle = false;    // caption 114
  bool active = false;  // caption 111
};

inline constexpr std::uint32_t kSweepTimeoutMs = 100;

class Notifier {
 public:
  // `sourceName` is the event-log source; it may be filled in after
  // construction but before the first record.
  Notifier(Platform& platform, const wchar_t* sourceName)
      : platform_(platform), sourceName_(sourceName) {}

  // Shows a warning box and returns at once.
  void ShowWarning(std::uint32_t textId, std::uint32_t captionId);
  // Closes the open warning boxes named by `expired`. Returns whether the
  // window enumeration succeeded; callers ignore it.
  bool CloseExpiredWarnings(ExpiredWarnings expired);
  void ReportSessionEvent(std::uint16_t type, std::uint16_t category, std::uint32_t eventId);

 private:
  Platform& platform_;
  const wchar_t* sourceName_;
};

}  // namespace ravitor
