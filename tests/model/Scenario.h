// A random session as data: the surroundings the program starts in, the
// registry an administrator leaves, and the steps that follow. Being plain
// data, a scenario can be replayed from scratch and cut down step by step.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fake/FakePlatform.h"

namespace ravitor::testing::model {

enum class PolicyKey { Product, TerminalServices };
enum class KeyState { Absent, Present, Denied };

struct RegistryEdit {
  enum class Kind { SetValue, DeleteValue, SetKeyState, SetTraceSwitch };
  Kind kind = Kind::SetValue;
  Hive hive = Hive::LocalMachine;
  PolicyKey key = PolicyKey::TerminalServices;  // SetValue, DeleteValue, SetKeyState
  std::wstring name;                            // SetValue, DeleteValue
  FakeValue value{kRegDword, {}};               // SetValue
  KeyState state = KeyState::Present;           // SetKeyState, SetTraceSwitch
};

// The two policy keys and the trace switch key of both hives.
class RegistryContents {
 public:
  struct Key {
    KeyState state = KeyState::Absent;
    std::map<std::wstring, FakeValue> values;
  };

  void Apply(const RegistryEdit& edit);
  const Key& PolicyKeyOf(Hive hive, PolicyKey key) const;
  KeyState TraceSwitch(Hive hive) const;
  // Replaces what the fake holds under these keys by these contents.
  void CopyTo(FakePlatform& fake) const;

 private:
  Key& PolicyKeyOf(Hive hive, PolicyKey key);

  Key keys_[2][2];  // [hive][key]
  KeyState traceSwitch_[2] = {KeyState::Absent, KeyState::Absent};
};

struct Environment {
  std::uint32_t threadLocale = 0x0409;
  std::uint16_t userDefaultLanguage = 0x0409;
  std::uint16_t systemDefaultLanguage = 0x0409;
  std::uint32_t consoleSessionId = 1;
};

enum class StepKind {
  Tick,
  SessionChange,
  Input,
  // Input no hook sees (an elevated window's): only the session's last
  // input time moves.
  UnhookedInput,
  PolicyChange,   // TimerSet::OnPolicyChange called directly
  SettingChange,  // WM_SETTINGCHANGE through the window procedure
  UserClosesWindow,
  OtherWindowOpens,
  EditRegistry,
};

struct Step {
  StepKind kind = StepKind::Tick;
  // Tick and SessionChange: delivered as a window message rather than by a
  // direct call into the timer set.
  bool asWindowMessage = false;
  std::uintptr_t number = 0;  // tick identifier or session-change code
  HookKind hook = HookKind::Keyboard;
  int code = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
  std::intptr_t nextHookResult = 0;
  std::optional<std::wstring> section;  // WM_SETTINGCHANGE string; none: no string
  std::size_t window = 0;               // UserClosesWindow: index, modulo the open windows
  std::wstring title;                   // OtherWindowOpens
  bool answersClose = true;             // OtherWindowOpens
  // OtherWindowOpens: on WM_CLOSE the window announces "Policy" to the
  // program, which then still waits inside its sweep.
  bool announcesPolicyOnClose = false;
  std::vector<RegistryEdit> edits;  // EditRegistry
};

struct Scenario {
  Environment environment;
  std::vector<RegistryEdit> setup;  // before the program starts
  std::vector<Step> steps;
};

// `windowTitles`: titles other programs' windows may carry, such as the
// warning captions in every language. `unhookedInput`: the user also works
// in a window no hook sees, now and then, between the other steps.
Scenario GenerateScenario(std::uint64_t seed, const std::vector<std::wstring>& windowTitles,
                          bool unhookedInput = false);

std::string Describe(const RegistryEdit& edit);
std::string Describe(const Step& step);
std::string Describe(const Environment& environment);
std::string Utf8(const std::wstring& text);

}  // namespace ravitor::testing::model
