// A reference model of the program in one user session, written straight
// from the rules of the session timers and kept deliberately plain: it
// predicts the journal the recording platform should hold after each step,
// the windows left open and the hooks left installed.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fake/McCatalog.h"
#include "model/Scenario.h"

namespace ravitor::testing::model {

// Deliberate mistakes the model can be told to make, so that a test can show
// the lockstep comparison notices a disagreement and cuts it down.
enum class ModelFlaw {
  None,
  WarnOneTickLate,
  // A disabled timer compares its limit policy in ticks with the stored
  // milliseconds: every refresh with a limit set then rebuilds the set.
  DisabledLimitComparedInTicks,
  // An enabled timer whose limit policy is set to 0 reports no change when its
  // limit was below one tick (0 ticks either way).
  SubTickLimitRemovalUnnoticed,
  // A "Policy" notice that arrives inside a sweep rebuilds the set right
  // there, before the expiring timer has finished.
  PolicyChangeHandledInsideTheSweep,
};

struct ModelWindow {
  std::wstring title;
  std::wstring text;  // empty for windows of other programs
  bool answersClose = true;
  bool announcesPolicyOnClose = false;
};

class SessionModel {
 public:
  SessionModel(const McCatalog& catalog, const Environment& environment,
               const RegistryContents& registry, ModelFlaw flaw = ModelFlaw::None);

  // Each call is one thing happening to the program; it appends what the
  // platform should record to Journal(). Input returns what the hook gives
  // back to the system.
  bool StartUp();
  void Tick(std::uintptr_t identifier);
  void SessionChange(std::uint32_t code);
  std::intptr_t Input(HookKind hook, int code, std::uintptr_t wParam, std::intptr_t lParam,
                      std::intptr_t nextHookResult);
  void UnhookedInput();
  void PolicyChange();
  void SettingChange(const std::optional<std::wstring>& section);
  void UserClosesWindow(std::size_t index);
  void OtherWindowOpens(const std::wstring& title, bool answersClose,
                        bool announcesPolicyOnClose = false);

  std::vector<std::wstring>& Journal() { return journal_; }
  const std::vector<ModelWindow>& Windows() const { return windows_; }
  int InstalledHooks() const { return hooksInstalled_ ? 1 : 0; }  // of each kind
  int HeldMutexes() const { return mutexHeld_ ? 1 : 0; }

 private:
  enum Kind { kActive, kIdle, kDisconnected, kKindCount };
  struct Timer {
    std::uint32_t count = 0;
    std::uint32_t limit = 0;  // ticks while enabled, the policy's milliseconds otherwise
    bool enabled = false;
    bool endsSession = false;  // fResetBroken 1
  };

  bool InitializeAll();
  void DestroyAll();
  Timer Create(Kind kind);
  bool TickOne(Kind kind);  // true: log the session off
  void ShowWarning(std::uint32_t textId, std::uint32_t captionId);
  void Sweep();
  bool LimitReached(Kind kind) const;
  bool LimitChanged(Kind kind) const;
  void TickAll(std::uintptr_t identifier);
  // The session's last input time, read while an enabled idle timer exists
  // and the session is connected; a change since the previous reading is
  // input, and resets the idle count.
  bool ReadsLastInput() const;
  void TakeReference();
  void ResetIdleOnNewInput();
  // Compares the limits and rebuilds on a difference: what a "Policy" notice
  // leads to once no tick runs.
  void ApplyPolicyChange();
  void ReportEvent(std::uint32_t eventId);
  void Trace(const std::wstring& line);
  void Record(std::wstring entry) { journal_.push_back(std::move(entry)); }
  bool TraceSwitchOn() const;
  std::uint32_t Policy(PolicyKey key, const wchar_t* name, std::uint32_t defaultValue,
                       std::uint32_t maximum) const;
  std::wstring CatalogText(std::uint32_t messageId) const;

  const McCatalog& catalog_;
  const Environment environment_;
  const RegistryContents& registry_;
  const ModelFlaw flaw_;
  std::uint32_t threadLocale_;
  std::array<std::optional<Timer>, kKindCount> slots_;
  bool disconnected_ = false;
  bool hooksInstalled_ = false;
  std::uint32_t sessionInput_ = 0;  // input events of the session, hooked or not
  std::optional<std::uint32_t> reference_;
  bool hooksResetSinceReading_ = false;
  bool mutexHeld_ = false;
  bool ticking_ = false;
  bool policyChangeWaiting_ = false;
  std::vector<ModelWindow> windows_;
  std::vector<std::wstring> journal_;
};

}  // namespace ravitor::testing::model
