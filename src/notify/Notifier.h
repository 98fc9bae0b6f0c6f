// Warning boxes on threads of their own, the sweep that closes expired ones,
// and event-log records.
#pragma once

#include <cstdint>

#include "platform/Platform.h"
#include "platform/SystemValues.h"

namespace ravitor {

// What the sweep needs to know of the timers.
class WarningExpiry {
 public:
  // Whether the timer whose warning caption is `captionId` has a count at
  // least its limit; false when there is no such timer.
  virtual bool ReachedLimit(std::uint32_t captionId) const = 0;

 protected:
  ~WarningExpiry() = default;
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
  // Closes open warning boxes of the timers that have reached their limit.
  // Returns whether the window enumeration succeeded; callers ignore it.
  bool CloseExpiredWarnings(const WarningExpiry& timers);
  void ReportSessionEvent(std::uint16_t type, std::uint16_t category, std::uint32_t eventId);

 private:
  Platform& platform_;
  const wchar_t* sourceName_;
};

}  // namespace ravitor
