// Creation, ticking and limit comparison of one session timer.
#include "timers/SessionTimer.h"

#include <new>

#include "notify/CatalogIds.h"
#include "platform/Platform.h"
#include "settings/DebugTrace.h"
#include "settings/PolicyReader.h"

namespace ravitor {

std::unique_ptr<SessionTimer> SessionTimer::Create(Platform& platform, DebugTrace& trace,
                                                   const TimerDefinition& definition) {
  std::unique_ptr<SessionTimer> timer(new (std::nothrow) SessionTimer(platform, trace, definition));
  if (timer) timer->ReadPolicy();
  return timer;
}

void SessionTimer::ReadPolicy() {
  count = 0;
  const LimitSetting setting = ReadLimitSetting(platform_, *definition_.limit);
  limit = setting.limitMs;
  enabled = setting.Enforced();
  if (!enabled) return;  // a disabled timer keeps its limit in milliseconds

  limit /= kTickPeriodMs;
  kind = definition_.kind;
  logoffTextId = definition_.logoffTextId;
  disconnectTextId = definition_.disconnectTextId;
  trace_.Trace(definition_.creationTrace);

  resetBroken = ReadPolicyDword(platform_, kResetBrokenPolicy);
  if (resetBroken == 1) trace_.Trace(L"Terminate session when time limit is reached is set");
}

TickOutcome SessionTimer::Tick() {
  if (!enabled) return TickOutcome::Nothing;
  trace_.Trace(L"Tick");
  ++count;
  if (count < limit) return TickOutcome::Nothing;

  const bool warns = kind != kDisconnectedCaption;
  const std::uint32_t expiryPoint = warns ? limit + kWarningLeadTicks : limit;
  if (count == expiryPoint) return TickOutcome::Expire;
  if (count != limit || !warns) return TickOutcome::Nothing;  // past the expiry: until a reset
  trace_.Trace(resetBroken != 0 ? L"Logoff Timer is Near Expiring"
                                : L"Disconnect timer is Near Expiring");
  return TickOutcome::Warn;
}

ExpiryAction SessionTimer::Expire() {
  if (resetBroken != 0 || kind == kDisconnectedCaption) {
    trace_.Trace(L"Time has expired, setting bLogoffNow to true, session will be terminated.");
    return ExpiryAction::LogOff;
  }
  trace_.Trace(L"Time has expired, disconnecting Session now");
  return ExpiryAction::Disconnect;
}

bool SessionTimer::LimitChanged() const {
  const std::uint32_t milliseconds = ReadPolicyDword(platform_, *definition_.limit->limitValue);
  // A limit policy now at 0 switches an enabled timer off, even one whose
  // limit was below one tick and so also holds 0 ticks.
  if (enabled) return milliseconds == 0 || milliseconds / kTickPeriodMs != limit;
  // A disabled timer holds milliseconds: compare like with like, and report
  // a change when the timer would now be switched on.
  if (milliseconds != limit) return true;
  return milliseconds > 0 && ReadPolicyDword(platform_, *definition_.limit->enableValue) != 0;
}

}  // namespace ravitor
