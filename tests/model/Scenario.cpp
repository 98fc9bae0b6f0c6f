// Random sessions: limits of a few ticks so that warnings, disconnects and
// log-offs happen often, policy values of every shape a registry can hold,
// and readable descriptions for failure reports.
#include "model/Scenario.h"

#include <cwchar>
#include <random>

#include "settings/PolicyNames.h"

namespace ravitor::testing::model {
namespace {

int HiveIndex(Hive hive) { return hive == Hive::LocalMachine ? 0 : 1; }
int KeyIndex(PolicyKey key) { return key == PolicyKey::Product ? 0 : 1; }

const wchar_t* PathOf(PolicyKey key) {
  return key == PolicyKey::Product ? kProductPolicyKey : kTerminalServicesPolicyKey;
}

constexpr Hive kHives[] = {Hive::LocalMachine, Hive::CurrentUser};
constexpr PolicyKey kKeys[] = {PolicyKey::Product, PolicyKey::TerminalServices};

class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}
  std::uint64_t Next() { return engine_(); }
  // A number in [0, bound).
  std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(Next() % bound); }
  bool Chance(int percent) { return Below(100) < static_cast<std::size_t>(percent); }
  template <typename T, std::size_t N>
  T Pick(const T (&items)[N]) {
    return items[Below(N)];
  }

 private:
  std::mt19937_64 engine_;
};

std::vector<unsigned char> Bytes(std::uint32_t value) {
  return {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
          static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
}

// Mostly a few ticks' worth of milliseconds, around the tick boundaries
// where rounding down matters; now and then none or a very long limit.
std::uint32_t LimitMilliseconds(Random& random) {
  const std::size_t roll = random.Below(100);
  if (roll < 10) return 0;
  if (roll < 18) {
    const std::uint32_t longLimits[] = {3600000, 0xFFFFFFFF, 0x80000000, 4294950000u, 123456789};
    return random.Pick(longLimits);
  }
  const std::uint32_t ticks = static_cast<std::uint32_t>(
      random.Chance(60) ? random.Below(5) : random.Below(11));  // short limits are the busy ones
  const std::uint32_t offsets[] = {0, 0, 0, 1, 15000, 29999};
  const std::uint32_t offset =
      random.Chance(80) ? random.Pick(offsets) : static_cast<std::uint32_t>(random.Below(30000));
  return ticks * 30000 + offset;
}

std::uint32_t SwitchValue(Random& random) {
  const std::uint32_t values[] = {0, 1, 1, 1, 1, 2, 5, 0xFFFFFFFF, 0x100};
  return random.Pick(values);
}

// Data of any type and 0 to 8 bytes: what a mistaken administrator or a
// stray tool may leave under a policy name.
FakeValue OddValue(Random& random) {
  const std::uint32_t types[] = {0, kRegSz, kRegExpandSz, 3, kRegDword, 7, 11};
  FakeValue value{random.Pick(types), {}};
  const std::size_t size = random.Below(9);
  if (size == 4 && random.Chance(50)) {
    value.data = Bytes(
        static_cast<std::uint32_t>(random.Chance(50) ? random.Below(3) : 30000 * random.Below(6)));
  } else {
    for (std::size_t i = 0; i < size; ++i) {
      value.data.push_back(static_cast<unsigned char>(random.Chance(50) ? random.Below(256) : 0));
    }
  }
  return value;
}

struct NamedValue {
  const wchar_t* name;
  PolicyKey key;
  bool isLimit;
};

const NamedValue kPolicyValues[] = {
    {kRunRAVITOR, PolicyKey::Product, false},
    {kConnectionTimerEnable, PolicyKey::Product, false},
    {kIdleTimerEnable, PolicyKey::Product, false},
    {kDisconnectionTimerEnable, PolicyKey::Product, false},
    {kMaxConnectionTime, PolicyKey::TerminalServices, true},
    {kMaxIdleTime, PolicyKey::TerminalServices, true},
    {kMaxDisconnectionTime, PolicyKey::TerminalServices, true},
    {kResetBroken, PolicyKey::TerminalServices, false},
};

RegistryEdit SetValueEdit(Random& random, const NamedValue& named, Hive hive) {
  RegistryEdit edit;
  edit.kind = RegistryEdit::Kind::SetValue;
  edit.hive = hive;
  // Now and then a value lands under the wrong key, where nothing reads it.
  edit.key = random.Chance(4) ? (named.key == PolicyKey::Product ? PolicyKey::TerminalServices
                                                                 : PolicyKey::Product)
                              : named.key;
  edit.name = named.name;
  if (random.Chance(15)) {
    edit.value = OddValue(random);
  } else {
    std::uint32_t number = named.isLimit ? LimitMilliseconds(random) : SwitchValue(random);
    // Switching everything off for good ends most sessions early; keep it rare.
    if (std::wcscmp(named.name, kRunRAVITOR) == 0 && number == 0 && !random.Chance(20)) number = 1;
    edit.value = FakeValue{kRegDword, Bytes(number)};
  }
  return edit;
}

RegistryEdit RandomEdit(Random& random) {
  RegistryEdit edit;
  const Hive hive = random.Chance(70) ? Hive::LocalMachine : Hive::CurrentUser;
  const std::size_t roll = random.Below(100);
  // The limits are what the sessions revolve around; the master switch is
  // left alone most of the time.
  const NamedValue& named =
      random.Chance(60) ? kPolicyValues[4 + random.Below(3)] : kPolicyValues[1 + random.Below(7)];
  if (roll < 70) return SetValueEdit(random, random.Chance(3) ? kPolicyValues[0] : named, hive);
  if (roll < 85) {
    edit.kind = RegistryEdit::Kind::DeleteValue;
    edit.hive = hive;
    edit.key = named.key;
    edit.name = named.name;
    return edit;
  }
  const KeyState states[] = {KeyState::Absent, KeyState::Present, KeyState::Present,
                             KeyState::Denied};
  edit.state = random.Pick(states);
  edit.hive = hive;
  if (roll < 92) {
    edit.kind = RegistryEdit::Kind::SetKeyState;
    edit.key = random.Pick(kKeys);
  } else {
    edit.kind = RegistryEdit::Kind::SetTraceSwitch;
  }
  return edit;
}

std::vector<RegistryEdit> RandomSetup(Random& random) {
  std::vector<RegistryEdit> setup;
  RegistryEdit trace;
  trace.kind = RegistryEdit::Kind::SetTraceSwitch;
  const KeyState traceStates[] = {KeyState::Absent, KeyState::Present, KeyState::Present,
                                  KeyState::Denied};
  trace.state = random.Pick(traceStates);
  setup.push_back(trace);
  if (random.Chance(5)) {
    trace.hive = Hive::CurrentUser;  // the switch is read from the machine hive only
    trace.state = KeyState::Present;
    setup.push_back(trace);
  }
  for (const NamedValue& named : kPolicyValues) {
    const int machineChance = named.isLimit ? 75 : named.key == PolicyKey::Product ? 20 : 50;
    const int userChance = named.isLimit ? 20 : 10;
    if (random.Chance(machineChance))
      setup.push_back(SetValueEdit(random, named, Hive::LocalMachine));
    if (random.Chance(userChance)) setup.push_back(SetValueEdit(random, named, Hive::CurrentUser));
  }
  if (random.Chance(5)) {
    RegistryEdit denied;
    denied.kind = RegistryEdit::Kind::SetKeyState;
    denied.hive = random.Pick(kHives);
    denied.key = random.Pick(kKeys);
    denied.state = KeyState::Denied;
    setup.push_back(denied);
  }
  return setup;
}

const wchar_t* const kSections[] = {L"Policy",  L"POLICY", L"policy",      L"PoLiCy", L"Policy ",
                                    L"Policy2", L"intl",   L"Environment", L""};

}  // namespace

// --- Registry contents -------------------------------------------------------

RegistryContents::Key& RegistryContents::PolicyKeyOf(Hive hive, PolicyKey key) {
  return keys_[HiveIndex(hive)][KeyIndex(key)];
}

const RegistryContents::Key& RegistryContents::PolicyKeyOf(Hive hive, PolicyKey key) const {
  return keys_[HiveIndex(hive)][KeyIndex(key)];
}

KeyState RegistryContents::TraceSwitch(Hive hive) const { return traceSwitch_[HiveIndex(hive)]; }

void RegistryContents::Apply(const RegistryEdit& edit) {
  switch (edit.kind) {
    case RegistryEdit::Kind::SetValue: {
      Key& key = PolicyKeyOf(edit.hive, edit.key);
      if (key.state == KeyState::Absent) key.state = KeyState::Present;  // writing creates it
      key.values[edit.name] = edit.value;
      break;
    }
    case RegistryEdit::Kind::DeleteValue:
      PolicyKeyOf(edit.hive, edit.key).values.erase(edit.name);
      break;
    case RegistryEdit::Kind::SetKeyState: {
      Key& key = PolicyKeyOf(edit.hive, edit.key);
      key.state = edit.state;
      if (edit.state == KeyState::Absent) key.values.clear();  // deleting a key deletes its values
      break;
    }
    case RegistryEdit::Kind::SetTraceSwitch:
      traceSwitch_[HiveIndex(edit.hive)] = edit.state;
      break;
  }
}

void RegistryContents::CopyTo(FakePlatform& fake) const {
  for (const Hive hive : kHives) {
    for (const PolicyKey policyKey : kKeys) {
      const Key& key = PolicyKeyOf(hive, policyKey);
      fake.DeleteRegistryKey(hive, PathOf(policyKey));
      if (key.state == KeyState::Absent) continue;
      fake.CreateRegistryKey(hive, PathOf(policyKey));
      for (const auto& [name, value] : key.values) {
        fake.SetRaw(hive, PathOf(policyKey), name, value.type, value.data);
      }
      if (key.state == KeyState::Denied) fake.DenyRead(hive, PathOf(policyKey));
    }
    fake.DeleteRegistryKey(hive, kTraceSwitchKey);
    if (TraceSwitch(hive) == KeyState::Absent) continue;
    fake.CreateRegistryKey(hive, kTraceSwitchKey);
    if (TraceSwitch(hive) == KeyState::Denied) fake.DenyRead(hive, kTraceSwitchKey);
  }
}

// --- Generation -----------------------------------------------------------------

Scenario GenerateScenario(std::uint64_t seed, const std::vector<std::wstring>& windowTitles,
                          bool unhookedInput) {
  Random random(seed);
  Scenario scenario;
  const std::uint32_t locales[] = {0x0409, 0x0409, 0x0C07, 0x0407, 0x0804, 0x0404, 0x0411,
                                   0x0419, 0x0816, 0x0416, 0x0436, 0x0C0A, 0x0009, 0x041F};
  const std::uint16_t userLanguages[] = {0x0409, 0x0409, 0x0409, 0x040C, 0x0436};
  const std::uint16_t systemLanguages[] = {0x0409, 0x0409, 0x0409, 0x0407};
  scenario.environment.threadLocale = random.Pick(locales);
  scenario.environment.userDefaultLanguage = random.Pick(userLanguages);
  scenario.environment.systemDefaultLanguage = random.Pick(systemLanguages);
  scenario.environment.consoleSessionId = random.Chance(8) ? 0 : 1;
  scenario.setup = RandomSetup(random);

  // Each session has its own temper: some users type all the time, some
  // never; some connections drop often.
  const int inputWeight = random.Pick({1, 6, 15});
  const int sessionWeight = random.Pick({2, 7, 14});
  const int policyWeight = random.Pick({3, 8});
  struct Weighted {
    StepKind kind;
    int weight;
  };
  const Weighted kinds[] = {{StepKind::Tick, 55},
                            {StepKind::SessionChange, sessionWeight},
                            {StepKind::Input, inputWeight},
                            {StepKind::PolicyChange, policyWeight / 2 + 1},
                            {StepKind::SettingChange, policyWeight / 2 + 1},
                            {StepKind::UserClosesWindow, 5},
                            {StepKind::OtherWindowOpens, 2},
                            {StepKind::EditRegistry, policyWeight}};
  int totalWeight = 0;
  for (const Weighted& w : kinds) totalWeight += w.weight;

  const std::size_t length = 120 + random.Below(180);
  while (scenario.steps.size() < length) {
    std::size_t roll = random.Below(static_cast<std::size_t>(totalWeight));
    StepKind kind = StepKind::Tick;
    for (const Weighted& w : kinds) {
      if (roll < static_cast<std::size_t>(w.weight)) {
        kind = w.kind;
        break;
      }
      roll -= static_cast<std::size_t>(w.weight);
    }
    Step step;
    step.kind = kind;
    switch (kind) {
      case StepKind::Tick: {
        step.asWindowMessage = random.Chance(30);
        const std::uintptr_t otherIds[] = {0, 1, 150, 152, 0x151, 0x10097};
        step.number = random.Chance(95) ? 151 : random.Pick(otherIds);
        break;
      }
      case StepKind::SessionChange:
        step.asWindowMessage = random.Chance(30);
        step.number = random.Chance(60) ? 1 + random.Below(4) : random.Below(11);
        break;
      case StepKind::Input: {
        step.hook = random.Chance(50) ? HookKind::Keyboard : HookKind::Mouse;
        const int codes[] = {0, 0, 0, 0, -1, 3};
        step.code = random.Pick(codes);
        const std::uintptr_t keyboardMessages[] = {0x100, 0x101, 0x104, 0x105};
        const std::uintptr_t mouseMessages[] = {0x200, 0x201, 0x202, 0x20A};
        step.wParam = step.hook == HookKind::Keyboard ? random.Pick(keyboardMessages)
                                                      : random.Pick(mouseMessages);
        step.lParam = static_cast<std::intptr_t>(random.Below(100000));
        step.nextHookResult = random.Chance(80) ? 0 : 1;
        break;
      }
      case StepKind::UnhookedInput:  // added below
      case StepKind::PolicyChange:
        break;
      case StepKind::SettingChange:
        if (!random.Chance(10)) step.section = random.Pick(kSections);
        break;
      case StepKind::UserClosesWindow:
        step.window = random.Below(8);
        break;
      case StepKind::OtherWindowOpens:
        step.title = windowTitles.empty() ? L"" : windowTitles[random.Below(windowTitles.size())];
        step.answersClose = random.Chance(75);
        step.announcesPolicyOnClose = step.answersClose && random.Chance(40);
        break;
      case StepKind::EditRegistry: {
        const std::size_t edits = 1 + random.Below(3);
        for (std::size_t i = 0; i < edits; ++i) step.edits.push_back(RandomEdit(random));
        scenario.steps.push_back(step);
        // Group Policy announces what it has written, most of the time.
        if (random.Chance(60)) {
          Step announce;
          announce.kind = StepKind::SettingChange;
          announce.section = L"Policy";
          scenario.steps.push_back(announce);
        }
        continue;
      }
    }
    scenario.steps.push_back(step);
  }

  // Drawn from a stream of their own, so that the steps above stay what the
  // seed makes them either way.
  if (unhookedInput) {
    Random elevated(seed ^ 0xE1E7A7EDull);
    const int percent = elevated.Pick({2, 5, 12});
    std::vector<Step> steps;
    for (const Step& step : scenario.steps) {
      if (elevated.Chance(percent)) {
        Step unhooked;
        unhooked.kind = StepKind::UnhookedInput;
        steps.push_back(unhooked);
      }
      steps.push_back(step);
    }
    scenario.steps = std::move(steps);
  }
  return scenario;
}

// --- Descriptions ----------------------------------------------------------------

std::string Utf8(const std::wstring& text) {
  std::string out;
  for (const wchar_t c : text) {
    const auto code = static_cast<std::uint32_t>(c);
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return out;
}

namespace {

std::string HexText(std::uint64_t value) { return Utf8(Hex(value)); }

const char* HiveText(Hive hive) { return hive == Hive::LocalMachine ? "HKLM" : "HKCU"; }

const char* KeyText(PolicyKey key) {
  return key == PolicyKey::Product ? "product policy key" : "Terminal Services policy key";
}

const char* StateText(KeyState state) {
  switch (state) {
    case KeyState::Absent:
      return "absent";
    case KeyState::Present:
      return "present";
    case KeyState::Denied:
      return "present, reading denied";
  }
  return "?";
}

std::string ValueText(const FakeValue& value) {
  if (value.type == kRegDword && value.data.size() == 4) {
    const std::uint32_t number = static_cast<std::uint32_t>(value.data[0]) |
                                 static_cast<std::uint32_t>(value.data[1]) << 8 |
                                 static_cast<std::uint32_t>(value.data[2]) << 16 |
                                 static_cast<std::uint32_t>(value.data[3]) << 24;
    return "REG_DWORD " + std::to_string(number);
  }
  std::string text =
      "type " + std::to_string(value.type) + ", " + std::to_string(value.data.size()) + " bytes";
  for (const unsigned char byte : value.data) {
    static const char kDigits[] = "0123456789abcdef";
    text += ' ';
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

}  // namespace

std::string Describe(const RegistryEdit& edit) {
  switch (edit.kind) {
    case RegistryEdit::Kind::SetValue:
      return std::string(HiveText(edit.hive)) + " " + KeyText(edit.key) + ": " + Utf8(edit.name) +
             " = " + ValueText(edit.value);
    case RegistryEdit::Kind::DeleteValue:
      return std::string(HiveText(edit.hive)) + " " + KeyText(edit.key) + ": " + Utf8(edit.name) +
             " deleted";
    case RegistryEdit::Kind::SetKeyState:
      return std::string(HiveText(edit.hive)) + " " + KeyText(edit.key) + " " +
             StateText(edit.state);
    case RegistryEdit::Kind::SetTraceSwitch:
      return std::string(HiveText(edit.hive)) + " trace switch key " + StateText(edit.state);
  }
  return "?";
}

std::string Describe(const Step& step) {
  switch (step.kind) {
    case StepKind::Tick:
      return (step.asWindowMessage ? "WM_TIMER " : "OnTick ") + std::to_string(step.number);
    case StepKind::SessionChange:
      return (step.asWindowMessage ? "WM_WTSSESSION_CHANGE " : "OnSessionChange ") +
             std::to_string(step.number);
    case StepKind::Input:
      return std::string(step.hook == HookKind::Keyboard ? "keyboard" : "mouse") + " input (code " +
             std::to_string(step.code) + ", " + HexText(step.wParam) + ", " +
             std::to_string(step.lParam) + "; next hook returns " +
             std::to_string(step.nextHookResult) + ")";
    case StepKind::UnhookedInput:
      return "input that no hook sees";
    case StepKind::PolicyChange:
      return "OnPolicyChange";
    case StepKind::SettingChange:
      return step.section ? "WM_SETTINGCHANGE \"" + Utf8(*step.section) + "\""
                          : "WM_SETTINGCHANGE without a string";
    case StepKind::UserClosesWindow:
      return "the user closes open window number " + std::to_string(step.window) +
             " (counted round the open windows)";
    case StepKind::OtherWindowOpens:
      return "another program opens a window titled \"" + Utf8(step.title) + "\"" +
             (step.answersClose ? "" : " that does not answer WM_CLOSE") +
             (step.announcesPolicyOnClose ? " and announces \"Policy\" when closed" : "");
    case StepKind::EditRegistry: {
      std::string text = "registry edited:";
      for (const RegistryEdit& edit : step.edits) text += " [" + Describe(edit) + "]";
      return text;
    }
  }
  return "?";
}

std::string Describe(const Environment& environment) {
  return "thread locale " + HexText(environment.threadLocale) + ", user default language " +
         HexText(environment.userDefaultLanguage) + ", system default language " +
         HexText(environment.systemDefaultLanguage) + ", console session " +
         std::to_string(environment.consoleSessionId);
}

}  // namespace ravitor::testing::model
