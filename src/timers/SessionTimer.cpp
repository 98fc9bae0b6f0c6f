// Creation, ticking and limit comparison of one session timer.
#include "timers/SessionTimer.h"

#include <new>

#include "notify/CatalogIds.h"
#include "notify/Notifier.h"
#include "settings/DebugTrace.h"
#include "settings/PolicyNames.h"
#include "settings/PolicyReader.h"

namespace ravitor {

const TimerDefinition kActiveTimer = {
    kActiveKind,        kActiveLogoffWarning, kActiveDisconnectWarning, kConnectionTimerEnable,
    kMaxConnectionTime, L"Active timer Set"};
const TimerDefinition kActiveButIdleTimer = {kActiveButIdleKind,     kIdleLogoffWarning,
                                             kIdleDisconnectWarning, kIdleTimerEnable,
                                             kMaxIdleTime,           L"ActiveButIdle timer set"};
const TimerDefinition kDisconnectedTimer = {kDisconnectedKind,         kSessionLoggedOffEvent,
                                            kSessionDisconnectedEvent, kDisconnectionTimerEnable,
                                            kMaxDisconnectionTime,     L"Disconnected timer set"};

namespace {

constexpr std::uint32_t kAnyMilliseconds = 0xFFFFFFFF;

std::uint32_t ReadEnableValue(Platform& platform, const TimerDefinition& definition) {
  return ReadPolicyDword(platform, kProductPolicyKey, definition.enableValueName, 1, 0, 1);
}

std::uint32_t ReadLimitMilliseconds(Platform& platform, const wchar_t* limitValueName) {
  return ReadPolicyDword(platform, kTerminalServicesPolicyKey, limitValueName, 0, 0,
                         kAnyMilliseconds);
}

}  // namespace

std::unique_ptr<SessionTimer> SessionTimer::Create(TimerServices& services,
                                                   const TimerDefinition& definition) {
  std::unique_ptr<SessionTimer> timer(new (std::nothrow) SessionTimer(services, definition));
  if (timer) timer->ReadPolicy();
  return timer;
}

void SessionTimer::ReadPolicy() {
  count = 0;
  const std::uint32_t enable = ReadEnableValue(services_.platform, definition_);
  limit = ReadLimitMilliseconds(services_.platform, definition_.limitValueName);
  enabled = enable != 0 && limit > 0;
  if (!enabled) return;  // a disabled timer keeps its limit in milliseconds

  limit /= kTickPeriodMs;
  kind = definition_.kind;
  logoffTextId = definition_.logoffTextId;
  disconnectTextId = definition_.disconnectTextId;
  services_.trace.Trace(definition_.creationTrace);

  resetBroken =
      ReadPolicyDword(services_.platform, kTerminalServicesPolicyKey, kResetBroken, 0, 0, 1);
  if (resetBroken == 1)
    services_.trace.Trace(L"Terminate session when time limit is reached is set");

  if (kind == kActiveButIdleKind) InstallInputHooks();
}

void SessionTimer::InstallInputHooks() {
  services_.trace.Trace(L"Is Active but idle timer, Setting keyboard and mouse hooks...");
  Platform& platform = services_.platform;
  keyboardHook_ = UniqueHook(
      platform,
      platform.InstallHook(HookKind::Keyboard, services_.keyboardHook, services_.hookContext));
  mouseHook_ = UniqueHook(
      platform, platform.InstallHook(HookKind::Mouse, services_.mouseHook, services_.hookContext));
}

SessionTimer::~SessionTimer() {
  // Keyboard hook first, then the mouse hook.
  keyboardHook_.reset();
  mouseHook_.reset();
}

bool SessionTimer::Tick() {
  if (!enabled) return false;
  services_.trace.Trace(L"Tick");
  ++count;
  if (count < limit) return false;

  const std::uint32_t expiryPoint = kind == kDisconnectedKind ? limit : limit + kWarningLeadTicks;
  if (count == expiryPoint) return Expire();
  if (count == limit && kind != kDisconnectedKind) Warn();
  // Past the expiry point nothing more happens until a reset.
  return false;
}

bool SessionTimer::Expire() {
  services_.notifier.CloseExpiredWarnings(services_.expiry);
  if (resetBroken != 0 || kind == kDisconnectedKind) {
    services_.trace.Trace(
        L"Time has expired, setting bLogoffNow to true, session will be terminated.");
    return true;
  }
  services_.trace.Trace(L"Time has expired, disconnecting Session now");
  services_.notifier.ReportSessionEvent(kEventTypeInformation, kCategoryWtsEvent,
                                        kSessionDisconnectedEvent);
  // If disconnecting fails the count rises on and the timer does not act
  // again until it is reset.
  services_.platform.DisconnectSession();
  return false;
}

void SessionTimer::Warn() {
  if (resetBroken != 0) {
    services_.trace.Trace(L"Logoff Timer is Near Expiring");
    services_.notifier.ShowWarning(logoffTextId, kind);
  } else {
    services_.trace.Trace(L"Disconnect timer is Near Expiring");
    services_.notifier.ShowWarning(disconnectTextId, kind);
  }
}

bool SessionTimer::LimitChanged(const wchar_t* limitValueName) const {
  const std::uint32_t milliseconds = ReadLimitMilliseconds(services_.platform, limitValueName);
  // A limit policy now at 0 switches an enabled timer off, even one whose
  // limit was below one tick and so also holds 0 ticks.
  if (enabled) return milliseconds == 0 || milliseconds / kTickPeriodMs != limit;
  // A disabled timer holds milliseconds: compare like with like, and report
  // a change when the timer would now be switched on.
  if (milliseconds != limit) return true;
  return milliseconds > 0 && ReadEnableValue(services_.platform, definition_) != 0;
}

}  // namespace ravitor
