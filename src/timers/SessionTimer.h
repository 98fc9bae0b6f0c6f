// One Terminal Services time limit of the user's own session, counted in
// 30-second ticks. A timer counts and decides; its set acts on the decision.
#pragma once

#include <cstdint>
#include <memory>

#include "settings/LimitPolicies.h"

namespace ravitor {

class DebugTrace;
class Platform;

inline constexpr std::uint32_t kTickPeriodMs = 30000;
inline constexpr std::uint32_t kWarningLeadTicks = 4;

// The fixed description of one of the three timers. Its kind is the
// catalogue identifier of its warning caption.
struct TimerDefinition {
  std::uint32_t kind;
  std::uint32_t logoffTextId;
  std::uint32_t disconnectTextId;
  const LimitPolicy* limit;  // its switch and its limit
  const wchar_t* creationTrace;
};

// What a tick leads to.
enum class TickOutcome {
  Nothing,
  Warn,    // show WarningTextId() under the caption Kind()
  Expire,  // sweep the expired boxes, then ask Expire() what to do
};

// What an expired timer asks for.
enum class ExpiryAction { Disconnect, LogOff };

class SessionTimer {
 public:
  // Builds the timer from policy; null when no memory could be obtained.
  static std::unique_ptr<SessionTimer> Create(Platform& platform, DebugTrace& trace,
                                              const TimerDefinition& definition);
  SessionTimer(const SessionTimer&) = delete;
  SessionTimer& operator=(const SessionTimer&) = delete;

  TickOutcome Tick();
  // Once the expired boxes are swept: log off (fResetBroken, or the
  // Disconnected timer) or disconnect.
  ExpiryAction Expire();
  // Whether the limit policy differs from the limit this timer was built with.
  bool LimitChanged() const;

  // The warning for the action this timer will take.
  std::uint32_t WarningTextId() const { return resetBroken != 0 ? logoffTextId : disconnectTextId; }
  void ResetCount() { count = 0; }
  std::uint32_t Count() const { return count; }
  std::uint32_t Limit() const { return limit; }
  bool Enabled() const { return enabled; }
  std::uint32_t Kind() const { return kind; }

 private:
  SessionTimer(Platform& platform, DebugTrace& trace, const TimerDefinition& definition)
      : platform_(platform), trace_(trace), definition_(definition) {}
  void ReadPolicy();

  std::uint32_t count = 0;
  // Ticks while enabled; the policy's milliseconds as read while disabled.
  std::uint32_t limit = 0;
  bool enabled = false;
  std::uint32_t resetBroken = 0;
  std::uint32_t kind = 0;
  std::uint32_t logoffTextId = 0;
  std::uint32_t disconnectTextId = 0;

  Platform& platform_;
  DebugTrace& trace_;
  const TimerDefinition& definition_;
};

}  // namespace ravitor
