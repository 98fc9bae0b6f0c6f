// Creation, ticking, session changes and policy rebuilds of the timer set.
#include "timers/TimerSet.h"

#include "notify/CatalogIds.h"
#include "notify/EventLogSource.h"
#include "platform/SystemValues.h"
#include "settings/DebugTrace.h"
#include "settings/PolicyReader.h"

namespace ravitor {

const std::array<TimerDefinition, kTimerSlotCount> kTimerDefinitions = {{
    {kActiveCaption, kActiveLogoffWarning, kActiveDisconnectWarning, &kConnectionLimit,
     L"Active timer Set"},
    {kIdleCaption, kIdleLogoffWarning, kIdleDisconnectWarning, &kIdleLimit,
     L"ActiveButIdle timer set"},
    // Never warns: its text identifiers are carried, never shown.
    {kDisconnectedCaption, kSessionLoggedOffEvent, kSessionDisconnectedEvent, &kDisconnectionLimit,
     L"Disconnected timer set"},
}};

namespace {

constexpr TimerSlot kSlots[] = {TimerSlot::Active, TimerSlot::ActiveButIdle,
                                TimerSlot::Disconnected};

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
    : platform_(platform), trace_(trace), notifier_(notifier), applicationName_(applicationName) {}

bool TimerSet::ReachedLimit(TimerSlot slot) const {
  const auto& timer = SlotOf(slot);
  return timer && timer->Count() >= timer->Limit();
}

void TimerSet::ResetCount(TimerSlot slot) {
  if (auto& timer = SlotOf(slot)) timer->ResetCount();
}

bool TimerSet::TickSlot(TimerSlot slot) {
  // The timer outlives what follows: nothing destroys timers while a tick runs.
  SessionTimer* timer = SlotOf(slot).get();
  if (timer == nullptr) return false;
  switch (timer->Tick()) {
    case TickOutcome::Nothing:
      return false;
    case TickOutcome::Warn:
      notifier_.ShowWarning(timer->WarningTextId(), timer->Kind());
      return false;
    case TickOutcome::Expire:
      break;
  }
  notifier_.CloseExpiredWarnings(
      {ReachedLimit(TimerSlot::ActiveButIdle), ReachedLimit(TimerSlot::Active)});
  if (timer->Expire() == ExpiryAction::LogOff) return true;
  notifier_.ReportSessionEvent(kEventTypeInformation, kCategoryWtsEvent, kSessionDisconnectedEvent);
  // If disconnecting fails the count rises on and the timer does not act
  // again until it is reset.
  platform_.DisconnectSession();
  return false;
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

bool TimerSet::InitializeAllTimers(WindowHandle window) {
  window_ = window;
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
  if (ReadPolicyDword(platform_, kRunRAVITORPolicy) == 0) return false;

  bool anyEnabled = false;
  for (const TimerSlot slot : kSlots) {
    auto& timer = SlotOf(slot);
    timer =
        SessionTimer::Create(platform_, trace_, kTimerDefinitions[static_cast<std::size_t>(slot)]);
    if (!timer || !timer->Enabled()) continue;
    anyEnabled = true;
    if (slot == TimerSlot::ActiveButIdle) {
      InstallInputHooks();
      // The first reference: input between now and the first tick counts.
      if (ReadsLastInput()) ReadLastInput();
    }
  }
  platform_.TrimWorkingSet();
  if (!anyEnabled) return false;
  RegisterEventLogSource(platform_, applicationName_, kEventCategoryCount);
  return true;
}

void TimerSet::InstallInputHooks() {
  trace_.Trace(L"Is Active but idle timer, Setting keyboard and mouse hooks...");
  keyboardHook_ = UniqueHook(
      platform_, platform_.InstallHook(HookKind::Keyboard, &KeyboardHookProcedure, this));
  mouseHook_ =
      UniqueHook(platform_, platform_.InstallHook(HookKind::Mouse, &MouseHookProcedure, this));
}

void TimerSet::RemoveInputHooks() {
  // Keyboard hook first, then the mouse hook.
  keyboardHook_.reset();
  mouseHook_.reset();
}

void TimerSet::DestroyAllTimers() {
  trace_.Trace(L"Destroying all timers");
  platform_.StopWindowTimer(window_, tickTimerId_);
  platform_.UnregisterSessionNotification(window_);
  // The idle timer and its hooks first, so that no input is counted by a set
  // that is half torn down; then the others in slot order.
  RemoveInputHooks();
  SlotOf(TimerSlot::ActiveButIdle).reset();
  // The reference belongs to the idle timer: a rebuilt one starts afresh.
  lastInputKnown_ = false;
  inputSeenByHooks_ = false;
  SlotOf(TimerSlot::Active).reset();
  SlotOf(TimerSlot::Disconnected).reset();
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
  if (disconnected_) return TickSlot(TimerSlot::Disconnected);
  // Both are ticked, even when the first asks for the log-off.
  const bool activeLogoff = TickSlot(TimerSlot::Active);
  // Read as late as possible: input that came while the Active timer's tick
  // waited in platform calls counts before this tick, as a hook's would.
  ResetIdleCountOnNewInput();
  const bool idleLogoff = TickSlot(TimerSlot::ActiveButIdle);
  return activeLogoff || idleLogoff;
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
      // The idle count starts again here, and so does the reference: input
      // before the connection is not new at the next tick.
      if (ReadsLastInput()) ReadLastInput();
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
  bool changed = false;
  for (const TimerSlot slot : kSlots) {
    const auto& timer = SlotOf(slot);
    if (timer && timer->LimitChanged()) {
      changed = true;
      break;  // the first difference is enough
    }
  }
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
  inputSeenByHooks_ = true;
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

// The session's last input time is a second source of input beside the
// hooks, which miss input to elevated windows, and all input once Windows
// has removed them for a call that took too long. It is read while the idle
// timer exists and is enabled and the session is connected (disconnected,
// only the Disconnected timer ticks): when the timers are built, at each
// connection, and at each tick before the idle timer counts.
bool TimerSet::ReadsLastInput() const {
  const auto& idle = SlotOf(TimerSlot::ActiveButIdle);
  return idle && idle->Enabled() && !disconnected_;
}

TimerSet::LastInput TimerSet::ReadLastInput() {
  std::uint32_t tickCount = 0;
  // A failed reading changes nothing: the last good one stays the
  // reference, and input since then counts once a reading succeeds again.
  if (!platform_.ReadLastInputTime(&tickCount)) return LastInput::Unread;
  // Inequality only, never "later than": the tick count wraps after 49.7
  // days, a later event may carry a smaller count (SendInput supplies its
  // own), and any change at all is input.
  const bool moved = lastInputKnown_ && tickCount != lastInputTime_;
  lastInputTime_ = tickCount;
  lastInputKnown_ = true;
  inputSeenByHooks_ = false;
  return moved ? LastInput::Moved : LastInput::Unchanged;
}

// Input since the previous reading resets the idle count before the tick
// counts, which gives the count the hooks would have given had they seen
// it: a hook's reset, too, leaves 0 for the next tick to count from.
void TimerSet::ResetIdleCountOnNewInput() {
  if (!ReadsLastInput()) return;
  const bool hooksSawInput = inputSeenByHooks_;
  if (ReadLastInput() != LastInput::Moved) return;
  ResetCount(TimerSlot::ActiveButIdle);
  // Input the hooks saw moves the session's last input time too; only what
  // they missed is worth a line.
  if (!hooksSawInput) trace_.Trace(kLastInputResetTrace);
}

}  // namespace ravitor
