// One Terminal Services time limit of the user's own session, counted in
// 30-second ticks.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/UniquePlatformHandle.h"

namespace ravitor {

class DebugTrace;
class Notifier;
class WarningExpiry;

inline constexpr std::uint32_t kTickPeriodMs = 30000;
inline constexpr std::uint32_t kWarningLeadTicks = 4;

inline constexpr std::uint32_t kActiveKind = 111;
inline constexpr std::uint32_t kActiveButIdleKind = 114;
inline constexpr std::uint32_t kDisconnectedKind = 117;

// The fixed description of one of the three timers.
struct TimerDefinition {
  std::uint32_t kind;
  std::uint32_t logoffTextId;
  std::uint32_t disconnectTextId;
  const wchar_t* enableValueName;  // product policy key
  const wchar_t* limitValueName;   // Terminal Services policy key
  const wchar_t* creationTrace;
};

extern const TimerDefinition kActiveTimer;
extern const TimerDefinition kActiveButIdleTimer;
extern const TimerDefinition kDisconnectedTimer;

// What a timer works with; owned by its set.
struct TimerServices {
  Platform& platform;
  DebugTrace& trace;
  Notifier& notifier;
  const WarningExpiry& expiry;
  HookProcedure keyboardHook;
  HookProcedure mouseHook;
  void* hookContext;
};

class SessionTimer {
 public:
  // Builds the timer from policy; null when no memory could be obtained.
  static std::unique_ptr<SessionTimer> Create(TimerServices& services,
                                              const TimerDefinition& definition);
  // Removes the input hooks first if this is the enabled ActiveButIdle timer.
  ~SessionTimer();
  SessionTimer(const SessionTimer&) = delete;
  SessionTimer& operator=(const SessionTimer&) = delete;

  // Returns bLogoffNow: true when the session must now be logged off.
  bool Tick();
  // Whether the limit policy differs from the limit this timer was built with.
  bool LimitChanged(const wchar_t* limitValueName) const;

  void ResetCount() { count = 0; }
  std::uint32_t Count() const { return count; }
  std::uint32_t Limit() const { return limit; }
  bool Enabled() const { return enabled; }
  std::uint32_t Kind() const { return kind; }

 private:
  SessionTimer(TimerServices& services, const TimerDefinition& definition)
      : services_(services), definition_(definition) {}
  void ReadPolicy();
  void InstallInputHooks();
  bool Expire();
  void Warn();

  std::uint32_t count = 0;
  // Ticks while enabled; the policy's milliseconds as read while disabled.
  std::uint32_t limit = 0;
  bool enabled = false;
  std::uint32_t resetBroken = 0;
  std::uint32_t kind = 0;
  std::uint32_t logoffTextId = 0;
  std::uint32_t disconnectTextId = 0;

  TimerServices& services_;
  const TimerDefinition& definition_;
  UniqueHook keyboardHook_;
  UniqueHook mouseHook_;
};

}  // namespace ravitor
