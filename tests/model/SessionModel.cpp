// The session timers' rules, one observable effect at a time.
#include "model/SessionModel.h"

#include <cwctype>

#include "settings/PolicyNames.h"

namespace ravitor::testing::model {
namespace {

const std::wstring kApplicationName = L"Tolvex Pellan Session Timers";
const std::wstring kWindow = L"0x42";  // the fake's application window
constexpr std::uint32_t kTickMs = 30000;
constexpr std::uint32_t kLeadTicks = 4;
constexpr std::uint32_t kAnyNumber = 0xFFFFFFFF;

struct KindFacts {
  std::uint32_t captionId;
  std::uint32_t logoffTextId;
  std::uint32_t disconnectTextId;
  const wchar_t* enableName;
  const wchar_t* limitName;
  const wchar_t* creationLine;
};

const KindFacts kFacts[] = {
    {111, 112, 113, kConnectionTimerEnable, kMaxConnectionTime, L"Active timer Set"},
    {114, 115, 116, kIdleTimerEnable, kMaxIdleTime, L"ActiveButIdle timer set"},
    {117, 118, 119, kDisconnectionTimerEnable, kMaxDisconnectionTime, L"Disconnected timer set"},
};

bool IsPolicyIgnoringCase(const std::wstring& section) {
  const std::wstring policy = L"policy";
  if (section.size() != policy.size()) return false;
  for (std::size_t i = 0; i < section.size(); ++i) {
    if (std::towlower(static_cast<wint_t>(section[i])) != static_cast<wint_t>(policy[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace

SessionModel::SessionModel(const McCatalog& catalog, const Environment& environment,
                           const RegistryContents& registry, ModelFlaw flaw)
    : catalog_(catalog),
      environment_(environment),
      registry_(registry),
      flaw_(flaw),
      threadLocale_(environment.threadLocale) {}

// --- Surroundings -------------------------------------------------------------

bool SessionModel::TraceSwitchOn() const {
  return registry_.TraceSwitch(Hive::LocalMachine) == KeyState::Present;
}

void SessionModel::Trace(const std::wstring& line) {
  if (TraceSwitchOn()) Record(L"Trace " + line);
}

// Exactly four bytes under a readable key count; the machine hive first; a
// number above the allowed range gives the default (every range starts at 0).
std::uint32_t SessionModel::Policy(PolicyKey key, const wchar_t* name, std::uint32_t defaultValue,
                                   std::uint32_t maximum) const {
  for (const Hive hive : {Hive::LocalMachine, Hive::CurrentUser}) {
    const RegistryContents::Key& contents = registry_.PolicyKeyOf(hive, key);
    if (contents.state != KeyState::Present) continue;
    const auto value = contents.values.find(name);
    if (value == contents.values.end() || value->second.data.size() != 4) continue;
    const auto& bytes = value->second.data;
    const std::uint32_t number =
        static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
        static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    return number > maximum ? defaultValue : number;
  }
  return defaultValue;
}

// The text in the language the platform picks for the current thread
// locale: the thread's language, then the user's and the system's default,
// then US English; a neutral language stands for its default variant (and
// neutral Chinese for the PRC texts). Formatting stops at "%0".
std::wstring SessionModel::CatalogText(std::uint32_t messageId) const {
  const std::uint16_t languages[] = {static_cast<std::uint16_t>(threadLocale_ & 0xFFFF),
                                     environment_.userDefaultLanguage,
                                     environment_.systemDefaultLanguage, 0x0409};
  for (const std::uint16_t language : languages) {
    const std::uint16_t primary = language & 0x3FF;
    std::vector<std::uint16_t> tries = {language};
    if (primary != 0 && language == primary) {
      tries.push_back(primary == 0x04 ? std::uint16_t{0x0804}
                                      : static_cast<std::uint16_t>(0x0400 | primary));
    }
    for (const std::uint16_t candidate : tries) {
      if (const std::wstring* stored = catalog_.Find(messageId, candidate)) {
        return stored->substr(0, stored->find(L"%0"));
      }
    }
  }
  return L"";
}

void SessionModel::ReportEvent(std::uint32_t eventId) {
  Record(L"OpenEventSource " + kApplicationName);
  Record(L"ReportEvent 4 1 " + std::to_wstring(eventId));
  Record(L"CloseEventSource");
}

// --- The set --------------------------------------------------------------------

bool SessionModel::StartUp() {
  Record(L"CreateNamedMutex Local\\" + kApplicationName);
  mutexHeld_ = true;
  Trace(L"Debugger activated");
  if (environment_.consoleSessionId == 0) {
    Trace(L"Local session detected");
    if (!TraceSwitchOn()) return false;
  }
  Record(L"CreateApplicationWindow " + kApplicationName + L" | " + kApplicationName);
  return InitializeAll();
}

bool SessionModel::InitializeAll() {
  Trace(L"Initializing all timers");
  Record(L"RegisterSessionNotification " + kWindow);
  Record(L"StartWindowTimer " + kWindow + L" 151 30000");
  if (Policy(PolicyKey::Product, kRunRAVITOR, 1, 1) == 0) return false;
  for (const Kind kind : {kActive, kIdle, kDisconnected}) {
    slots_[kind] = Create(kind);
    if (kind == kIdle && ReadsLastInput()) TakeReference();
  }
  Record(L"TrimWorkingSet");
  if (!slots_[kActive]->enabled && !slots_[kIdle]->enabled && !slots_[kDisconnected]->enabled) {
    return false;
  }
  Record(L"CreateKey HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" +
         kApplicationName);
  Record(L"SetValue EventMessageFile");
  Record(L"SetValue TypesSupported");
  Record(L"SetValue CategoryMessageFile");
  Record(L"SetValue CategoryCount");
  return true;
}

SessionModel::Timer SessionModel::Create(Kind kind) {
  const KindFacts& facts = kFacts[kind];
  Timer timer;
  const std::uint32_t enable = Policy(PolicyKey::Product, facts.enableName, 1, 1);
  const std::uint32_t milliseconds =
      Policy(PolicyKey::TerminalServices, facts.limitName, 0, kAnyNumber);
  if (enable == 0 || milliseconds == 0) {
    timer.limit = milliseconds;
    return timer;
  }
  timer.enabled = true;
  timer.limit = milliseconds / kTickMs;
  Trace(facts.creationLine);
  timer.endsSession = Policy(PolicyKey::TerminalServices, kResetBroken, 0, 1) == 1;
  if (timer.endsSession) Trace(L"Terminate session when time limit is reached is set");
  if (kind == kIdle) {
    Trace(L"Is Active but idle timer, Setting keyboard and mouse hooks...");
    Record(L"InstallHook Keyboard");
    Record(L"InstallHook Mouse");
    hooksInstalled_ = true;
  }
  return timer;
}

void SessionModel::DestroyAll() {
  Trace(L"Destroying all timers");
  Record(L"StopWindowTimer " + kWindow + L" 151");
  Record(L"UnregisterSessionNotification " + kWindow);
  if (slots_[kIdle] && slots_[kIdle]->enabled) {
    Record(L"RemoveHook Keyboard");
    Record(L"RemoveHook Mouse");
    hooksInstalled_ = false;
  }
  for (auto& slot : slots_) slot.reset();
  reference_.reset();
}

// A "Policy" notice that came while the tick ran is handled once it is over.
void SessionModel::Tick(std::uintptr_t identifier) {
  ticking_ = true;
  TickAll(identifier);
  ticking_ = false;
  if (policyChangeWaiting_) {
    policyChangeWaiting_ = false;
    ApplyPolicyChange();
  }
}

void SessionModel::TickAll(std::uintptr_t identifier) {
  if (identifier != 151) return;
  bool logoff = false;
  if (disconnected_) {
    logoff = TickOne(kDisconnected);
  } else {
    const bool activeLogoff = TickOne(kActive);
    ResetIdleOnNewInput();
    const bool idleLogoff = TickOne(kIdle);
    logoff = activeLogoff || idleLogoff;
  }
  if (!logoff) return;
  DestroyAll();
  Trace(L"Logging off now...");
  ReportEvent(118);
  Record(L"LogoffSession");
}

bool SessionModel::TickOne(Kind kind) {
  if (!slots_[kind] || !slots_[kind]->enabled) return false;
  Timer& timer = *slots_[kind];
  Trace(L"Tick");
  timer.count += 1;

  // The connected timers warn on reaching the limit and act four ticks
  // later; the Disconnected timer acts on reaching it and never warns.
  const bool warns = kind != kDisconnected;
  const std::uint32_t actsAt = warns ? timer.limit + kLeadTicks : timer.limit;
  const std::uint32_t warnsAt = timer.limit + (flaw_ == ModelFlaw::WarnOneTickLate ? 1 : 0);

  if (timer.count == actsAt) {
    Sweep();
    if (timer.endsSession || kind == kDisconnected) {
      Trace(L"Time has expired, setting bLogoffNow to true, session will be terminated.");
      return true;
    }
    Trace(L"Time has expired, disconnecting Session now");
    ReportEvent(119);
    Record(L"DisconnectSession");
    return false;
  }
  if (warns && timer.count == warnsAt) {
    const KindFacts& facts = kFacts[kind];
    if (timer.endsSession) {
      Trace(L"Logoff Timer is Near Expiring");
      ShowWarning(facts.logoffTextId, facts.captionId);
    } else {
      Trace(L"Disconnect timer is Near Expiring");
      ShowWarning(facts.disconnectTextId, facts.captionId);
    }
  }
  return false;
}

void SessionModel::ShowWarning(std::uint32_t textId, std::uint32_t captionId) {
  if (threadLocale_ != 0x0804) {
    threadLocale_ &= 0x3FF;
    Record(L"SetThreadLocale " + Hex(threadLocale_));
  }
  ModelWindow box{CatalogText(captionId), CatalogText(textId), true, false};
  Record(L"StartThread");
  Record(L"MessageBox " + box.title + L" | 0x50010");
  windows_.push_back(box);
  Record(L"Sleep 1");
  Record(L"CloseThreadHandle");
}

// Only the count and the limit decide, not whether the timer is enabled: a
// disabled timer with no limit policy has reached its limit of 0.
bool SessionModel::LimitReached(Kind kind) const {
  return slots_[kind] && slots_[kind]->count >= slots_[kind]->limit;
}

void SessionModel::Sweep() {
  const bool idleDue = LimitReached(kIdle);
  const bool activeDue = LimitReached(kActive);
  const std::wstring idleCaption = CatalogText(114);
  const std::wstring activeCaption = CatalogText(111);
  std::vector<ModelWindow> kept;
  for (const ModelWindow& window : windows_) {
    bool closed = false;
    for (const auto& [due, caption] :
         {std::pair{idleDue, idleCaption}, std::pair{activeDue, activeCaption}}) {
      if (closed || window.title.empty() || !due || window.title != caption) continue;
      Record(L"SendMessageTimeout " + window.title + L" 0x10 0 0 0 100");
      closed = window.answersClose;
      if (closed && window.announcesPolicyOnClose) PolicyChange();
    }
    if (!closed) kept.push_back(window);
  }
  windows_ = kept;
}

void SessionModel::SessionChange(std::uint32_t code) {
  if (code == 1 || code == 3) {
    Trace(L"WTS Connect Message detected, resetting Idle and Connection timers");
    disconnected_ = false;
    if (slots_[kIdle]) slots_[kIdle]->count = 0;
    if (slots_[kActive]) slots_[kActive]->count = 0;
    if (ReadsLastInput()) TakeReference();
  } else if (code == 2 || code == 4) {
    Trace(L"WTS Disconnect message detected, reseting disconnect timer");
    Record(L"TrimWorkingSet");
    disconnected_ = true;
    if (slots_[kDisconnected]) slots_[kDisconnected]->count = 0;
  }
}

std::intptr_t SessionModel::Input(HookKind hook, int code, std::uintptr_t wParam,
                                  std::intptr_t lParam, std::intptr_t nextHookResult) {
  ++sessionInput_;                 // the session sees it, hooked or not
  if (!hooksInstalled_) return 0;  // nothing is hooked, so no hook hears of it
  if (slots_[kIdle]) slots_[kIdle]->count = 0;
  hooksResetSinceReading_ = true;
  Trace(hook == HookKind::Keyboard ? L"Keyboard timer reset" : L"Mouse timer reset");
  Record(L"CallNextHook " + std::to_wstring(code) + L" " + Hex(wParam) + L" " +
         std::to_wstring(lParam));
  return nextHookResult;
}

void SessionModel::UnhookedInput() { ++sessionInput_; }

bool SessionModel::ReadsLastInput() const {
  return slots_[kIdle] && slots_[kIdle]->enabled && !disconnected_;
}

void SessionModel::TakeReference() {
  reference_ = sessionInput_;
  hooksResetSinceReading_ = false;
}

void SessionModel::ResetIdleOnNewInput() {
  if (!ReadsLastInput()) return;
  const bool moved = reference_ && *reference_ != sessionInput_;
  const bool hooksReset = hooksResetSinceReading_;
  TakeReference();
  if (!moved) return;
  slots_[kIdle]->count = 0;
  if (!hooksReset) Trace(L"Input seen by the session's last input time, idle timer reset");
}

bool SessionModel::LimitChanged(Kind kind) const {
  if (!slots_[kind]) return false;
  const Timer& timer = *slots_[kind];
  const KindFacts& facts = kFacts[kind];
  const std::uint32_t milliseconds =
      Policy(PolicyKey::TerminalServices, facts.limitName, 0, kAnyNumber);
  if (timer.enabled) {
    // Set to 0, the limit switches the timer off, even one below one tick.
    const bool switchedOff = milliseconds == 0 && flaw_ != ModelFlaw::SubTickLimitRemovalUnnoticed;
    return switchedOff || milliseconds / kTickMs != timer.limit;
  }
  if (flaw_ == ModelFlaw::DisabledLimitComparedInTicks)
    return milliseconds / kTickMs != timer.limit;
  const bool wouldNowBeEnabled =
      milliseconds > 0 && Policy(PolicyKey::Product, facts.enableName, 1, 1) != 0;
  return wouldNowBeEnabled || milliseconds != timer.limit;
}

void SessionModel::PolicyChange() {
  Trace(L"Policy change has been detected.");
  if (ticking_ && flaw_ != ModelFlaw::PolicyChangeHandledInsideTheSweep) {
    policyChangeWaiting_ = true;
    return;
  }
  ApplyPolicyChange();
}

void SessionModel::ApplyPolicyChange() {
  if (!LimitChanged(kActive) && !LimitChanged(kIdle) && !LimitChanged(kDisconnected)) return;
  Trace(L"Session Timer policy change has been detected, stopping timers and re-initializing app");
  DestroyAll();
  InitializeAll();
}

void SessionModel::SettingChange(const std::optional<std::wstring>& section) {
  if (section && IsPolicyIgnoringCase(*section)) PolicyChange();
}

void SessionModel::UserClosesWindow(std::size_t index) {
  if (windows_.empty()) return;
  windows_.erase(windows_.begin() + static_cast<std::ptrdiff_t>(index % windows_.size()));
}

void SessionModel::OtherWindowOpens(const std::wstring& title, bool answersClose,
                                    bool announcesPolicyOnClose) {
  windows_.push_back(ModelWindow{title, L"", answersClose, announcesPolicyOnClose});
}

}  // namespace ravitor::testing::model
