// Creation, ticking, session changes and policy rebuilds of the timer set.
#include "timers/TimerSet.h"

#include "notify/CatalogIds.h"
#include "notify/EventLogSource.h"
#include "platform/SystemValues.h"
#include "settings/DebugTrace.h"
#include "settings/PolicyNames.h"
#include "settings/PolicyReader.h"

namespace ravitor {
namespace {

std::intptr_t KeyboardHookProcedure(void* context, int code, std::uintptr_t wParam,
                                    std::intptr_t lParam) {
  return static_cast<TimerSet*>(context)->OnKeyboardInput(code, wParam, lParam);
}

std::intptr_t MouseHookProcedure(void* context, int code, std::uintptr_t wParam,
                                 std::intptr_t lParam) {
  return static_cast<TimerSet*>(context)->OnMouseInput(code, wParam, lParam);
}

}  // namespace

TimerSet::TimerSet(Platform& platform, DebugTrace& trace, Notifier& notifier,
                   const wchar_t* applicationName)
    : platform_(platform),
      trace_(trace),
      notifier_(notifier),
      applicationName_(applicationName),
      services_{platform, trace, notifier, *this, &KeyboardHookProcedure, &MouseHookProcedure,
                this} {}

std::unique_ptr<SessionTimer>& TimerSet::SlotOf(TimerSlot slot) {
  switch (slot) {
    case TimerSlot::Active:
      return active_;
    case TimerSlot::ActiveButIdle:
      return activeButIdle_;
    case TimerSlot::Disconnected:
      break;
  }
  return disconnectedTimer_;
}

const std::unique_ptr<SessionTimer>& TimerSet::SlotOf(TimerSlot slot) const {
  return const_cast<TimerSet*>(this)->SlotOf(slot);
}

void TimerSet::ResetCount(TimerSlot slot) {
  if (auto& timer = SlotOf(slot)) timer->ResetCount();
}

bool TimerSet::TickSlot(TimerSlot slot) {
  auto& timer = SlotOf(slot);
  return timer && timer->Tick();
}

void TimerSet::Leave() {
  if (depth_ > 1) {
    --depth_;
    return;
  }
  // Still running: what arrives while these wait in platform calls waits
  // its turn in this loop too. The log-off first: it was asked for first,
  // and leaves nothing for a rebuild.
  while (logoffWaiting_ || policyChangeWaiting_) {
    if (logoffWaiting_) {
      logoffWaiting_ = false;
      LogOff();
    } else {
      policyChangeWaiting_ = false;
      ApplyPolicyChange();
    }
  }
  depth_ = 0;
}

bool TimerSet::InitializeAllTimers() {
  // Start-up waits in platform calls too; nothing may rebuild meanwhile.
  ++depth_;
  const bool workToDo = Initialize();
  Leave();
  return workToDo;
}

bool TimerSet::Initialize() {
  trace_.Trace(L"Initializing all timers");
  platform_.RegisterSessionNotification(window_);
  tickTimerId_ = platform_.StartWindowTimer(window_, kTickTimerId, kTickPeriodMs);
  // Registration and tick timer stay in place even when there is nothing to do.
  if (ReadPolicyDword(platform_, kProductPolicyKey, kRunRAVITOR, 1, 0, 1) == 0) return false;

  active_ = SessionTimer::Create(services_, kActiveTimer);
  activeButIdle_ = SessionTimer::Create(services_, kActiveButIdleTimer);
  disconnectedTimer_ = SessionTimer::Create(services_, kDisconnectedTimer);
  platform_.TrimWorkingSet();

  const bool anyEnabled = (active_ && active_->Enabled()) ||
                          (activeButIdle_ && activeButIdle_->Enabled()) ||
                          (disconnectedTimer_ && disconnectedTimer_->Enabled());
  if (!anyEnabled) return false;
  RegisterEventLogSource(platform_, applicationName_, kEventCategoryCount);
  return true;
}

void TimerSet::DestroyAllTimers() {
  trace_.Trace(L"Destroying all timers");
  platform_.StopWindowTimer(window_, tickTimerId_);
  platform_.UnregisterSessionNotification(window_);
  activeButIdle_.reset();
  active_.reset();
  disconnectedTimer_.reset();
}

void TimerSet::OnTick(std::uintptr_t timerIdentifier) {
  if (timerIdentifier != kTickTimerId) return;
  // A tick sent while another one waits is counted at once, in the order the
  // messages came; only the log-off it may ask for waits for the outer one.
  ++depth_;
  if (TickAll()) logoffWaiting_ = true;
  Leave();
}

bool TimerSet::TickAll() {
  bool bLogoffNow = false;
  if (disconnected_) {
    bLogoffNow = TickSlot(TimerSlot::Disconnected);
  } else {
    // Both are ticked, even when the first asks for the log-off.
    const bool activeLogoff = TickSlot(TimerSlot::Active);
    const bool idleLogoff = TickSlot(TimerSlot::ActiveButIdle);
    bLogoffNow = activeLogoff || idleLogoff;
  }
  return bLogoffNow;
}

void TimerSet::LogOff() {
  DestroyAllTimers();
  trace_.Trace(L"Logging off now...");
  notifier_.ReportSessionEvent(kEventTypeInformation, kCategoryWtsEvent, kSessionLoggedOffEvent);
  platform_.LogoffSession();
}

void TimerSet::OnSessionChange(std::uint32_t code) {
  switch (code) {
    case kWtsConsoleConnect:
    case kWtsRemoteConnect:
      trace_.Trace(L"WTS Connect Message detected, resetting Idle and Connection timers");
      disconnected_ = false;
      ResetCount(TimerSlot::ActiveButIdle);
      ResetCount(TimerSlot::Active);
      break;
    case kWtsConsoleDisconnect:
    case kWtsRemoteDisconnect:
      trace_.Trace(L"WTS Disconnect message detected, reseting disconnect timer");
      platform_.TrimWorkingSet();
      disconnected_ = true;
      ResetCount(TimerSlot::Disconnected);
      break;
    default:
      break;
  }
}

void TimerSet::OnPolicyChange() {
  trace_.Trace(L"Policy change has been detected.");
  if (depth_ > 0) {
    policyChangeWaiting_ = true;  // two while one runs are still one
    return;
  }
  ++depth_;
  ApplyPolicyChange();
  Leave();
}

void TimerSet::ApplyPolicyChange() {
  const bool changed =
      (active_ && active_->LimitChanged(kMaxConnectionTime)) ||
      (activeButIdle_ && activeButIdle_->LimitChanged(kMaxIdleTime)) ||
      (disconnectedTimer_ && disconnectedTimer_->LimitChanged(kMaxDisconnectionTime));
  if (!changed) return;
  trace_.Trace(
      L"Session Timer policy change has been detected, stopping timers and re-initializing app");
  DestroyAllTimers();
  // The process keeps running whatever the new policy says.
  Initialize();
}

std::intptr_t TimerSet::OnInput(const wchar_t* traceLine, int code, std::uintptr_t wParam,
                                std::intptr_t lParam) {
  ResetCount(TimerSlot::ActiveButIdle);
  trace_.Trace(traceLine);
  // Input is never swallowed.
  return platform_.CallNextHook(code, wParam, lParam);
}

std::intptr_t TimerSet::OnKeyboardInput(int code, std::uintptr_t wParam, std::intptr_t lParam) {
  return OnInput(L"Keyboard timer reset", code, wParam, lParam);
}

std::intptr_t TimerSet::OnMouseInput(int code, std::uintptr_t wParam, std::intptr_t lParam) {
  return OnInput(L"Mouse timer reset", code, wParam, lParam);
}

bool TimerSet::ReachedLimit(std::uint32_t captionId) const {
  const SessionTimer* timer = captionId == kIdleCaption     ? activeButIdle_.get()
                              : captionId == kActiveCaption ? active_.get()
                                                            : nullptr;
  return timer != nullptr && timer->Count() >= timer->Limit();
}

}  // namespace ravitor
