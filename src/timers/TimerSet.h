// The three session timers of the process: created from policy, driven by
// ticks, session notifications, input and policy changes. The timers decide;
// the set acts on their decisions and owns the input hooks.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "notify/Notifier.h"
#include "platform/UniquePlatformHandle.h"
#include "timers/SessionTimer.h"

namespace ravitor {

inline constexpr std::uintptr_t kTickTimerId = 151;
inline constexpr std::uint32_t kEventCategoryCount = 4;

enum class TimerSlot { Active, ActiveButIdle, Disconnected };
inline constexpr std::size_t kTimerSlotCount = 3;

// The definitions of the three timers, in slot order.
extern const std::array<TimerDefinition, kTimerSlotCount> kTimerDefinitions;

// Traced when the session's last input time, and no hook, shows input since
// the previous reading.
inline constexpr const wchar_t* kLastInputResetTrace =
    L"Input seen by the session's last input time, idle timer reset";

class TimerSet {
 public:
  // `applicationName` names the event-log source.
  TimerSet(Platform& platform, DebugTrace& trace, Notifier& notifier,
           const wchar_t* applicationName);
  TimerSet(const TimerSet&) = delete;
  TimerSet& operator=(const TimerSet&) = delete;

  // Binds the tick timer and the session notifications to `window` and
  // builds the timers. True when there is work to do: the master switch is
  // on and at least one timer is enabled.
  bool InitializeAllTimers(WindowHandle window);
  void DestroyAllTimers();
  // Windows delivers messages sent to the window while the main thread waits
  // inside a platform call, so these can run inside one another. Only the
  // outermost may destroy timers: a policy change, or a log-off asked for by
  // an inner tick, is remembered and carried out once, as soon as the
  // outermost has returned.
  void OnTick(std::uintptr_t timerIdentifier);
  void OnSessionChange(std::uint32_t code);
  void OnPolicyChange();

  // Low-level input: resets the idle count and passes the event on. Input
  // the hooks never see (an elevated window's, or any once Windows has
  // removed a hook that timed out) reaches the idle count through the
  // session's last input time, read at each tick.
  std::intptr_t OnKeyboardInput(int code, std::uintptr_t wParam, std::intptr_t lParam);
  std::intptr_t OnMouseInput(int code, std::uintptr_t wParam, std::intptr_t lParam);

  const SessionTimer* Timer(TimerSlot slot) const { return SlotOf(slot).get(); }
  bool Disconnected() const { return disconnected_; }

 private:
  std::unique_ptr<SessionTimer>& SlotOf(TimerSlot slot) {
    return timers_[static_cast<std::size_t>(slot)];
  }
  const std::unique_ptr<SessionTimer>& SlotOf(TimerSlot slot) const {
    return timers_[static_cast<std::size_t>(slot)];
  }
  bool ReachedLimit(TimerSlot slot) const;
  void ResetCount(TimerSlot slot);
  bool TickSlot(TimerSlot slot);  // returns bLogoffNow
  bool Initialize();
  void InstallInputHooks();
  void RemoveInputHooks();
  bool TickAll();  // returns bLogoffNow
  void LogOff();
  void ApplyPolicyChange();
  // Ends a tick, policy change or initialisation; the outermost one then
  // carries out what had to wait for it.
  void Leave();
  std::intptr_t OnInput(const wchar_t* traceLine, int code, std::uintptr_t wParam,
                        std::intptr_t lParam);
  // What a reading of the session's last input time found.
  enum class LastInput { Unread, Unchanged, Moved };
  bool ReadsLastInput() const;
  // A good reading becomes the reference of the next.
  LastInput ReadLastInput();
  void ResetIdleCountOnNewInput();

  Platform& platform_;
  DebugTrace& trace_;
  Notifier& notifier_;
  const wchar_t* applicationName_;
  std::array<std::unique_ptr<SessionTimer>, kTimerSlotCount> timers_;
  // Installed while an enabled ActiveButIdle timer exists.
  UniqueHook keyboardHook_;
  UniqueHook mouseHook_;
  // The session's last input time at the last good reading, the reference
  // the next reading is compared with; none before the first good reading
  // of an idle timer.
  std::uint32_t lastInputTime_ = 0;
  bool lastInputKnown_ = false;
  // A hook has reset the idle count since the last good reading.
  bool inputSeenByHooks_ = false;
  bool disconnected_ = false;
  std::uintptr_t tickTimerId_ = 0;
  WindowHandle window_{};
  int depth_ = 0;  // ticks, policy changes and initialisations running
  bool logoffWaiting_ = false;
  bool policyChangeWaiting_ = false;
};

}  // namespace ravitor
