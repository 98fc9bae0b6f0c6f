// libFuzzer target: arbitrary registry contents for both hives, read through
// the policy path and then used to build and drive the timer set.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "fake/FakePlatform.h"
#include "notify/Notifier.h"
#include "settings/DebugTrace.h"
#include "settings/PolicyNames.h"
#include "settings/PolicyReader.h"
#include "timers/TimerSet.h"

namespace {

using ravitor::Hive;
using ravitor::testing::FakePlatform;

struct PolicyValue {
  const wchar_t* key;
  const wchar_t* name;
  std::uint32_t defaultValue;
  std::uint32_t maximum;
};

const PolicyValue kPolicies[] = {
    {ravitor::kProductPolicyKey, ravitor::kRunRAVITOR, 1, 1},
    {ravitor::kProductPolicyKey, ravitor::kConnectionTimerEnable, 1, 1},
    {ravitor::kProductPolicyKey, ravitor::kIdleTimerEnable, 1, 1},
    {ravitor::kProductPolicyKey, ravitor::kDisconnectionTimerEnable, 1, 1},
    {ravitor::kTerminalServicesPolicyKey, ravitor::kMaxConnectionTime, 0, 0xFFFFFFFF},
    {ravitor::kTerminalServicesPolicyKey, ravitor::kMaxIdleTime, 0, 0xFFFFFFFF},
    {ravitor::kTerminalServicesPolicyKey, ravitor::kMaxDisconnectionTime, 0, 0xFFFFFFFF},
    {ravitor::kTerminalServicesPolicyKey, ravitor::kResetBroken, 0, 1},
};

void Check(bool condition) {
  if (!condition) std::abort();
}

// Writes random contents for every policy value in both hives and returns,
// per policy, what an administrator should get: the machine value when it has
// exactly four bytes, else the user value when it has, else the default; out
// of range gives the default.
std::vector<std::uint32_t> WriteRegistry(FuzzedDataProvider& input, FakePlatform& fake) {
  std::vector<std::uint32_t> expected;
  for (const PolicyValue& policy : kPolicies) {
    std::optional<std::uint32_t> found;
    for (const Hive hive : {Hive::LocalMachine, Hive::CurrentUser}) {
      if (!input.ConsumeBool()) {
        fake.DeleteValue(hive, policy.key, policy.name);
        continue;
      }
      const auto type = input.ConsumeIntegralInRange<std::uint32_t>(0, 11);
      const auto bytes =
          input.ConsumeBytes<unsigned char>(input.ConsumeIntegralInRange<std::size_t>(0, 8));
      fake.SetRaw(hive, policy.key, policy.name, type, bytes);
      if (!found && bytes.size() == 4) {
        found = static_cast<std::uint32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16) |
                static_cast<std::uint32_t>(bytes[3]) << 24;
      }
    }
    const std::uint32_t value = found.value_or(policy.defaultValue);
    expected.push_back(value > policy.maximum ? policy.defaultValue : value);
  }
  if (input.ConsumeBool()) {
    fake.CreateRegistryKey(Hive::LocalMachine, ravitor::kTraceSwitchKey);
  } else {
    fake.DeleteRegistryKey(Hive::LocalMachine, ravitor::kTraceSwitchKey);
  }
  return expected;
}

void CheckPolicies(FakePlatform& fake, const std::vector<std::uint32_t>& expected) {
  const int handlesBefore = fake.OpenHandleCount();  // the hooks, while installed
  for (std::size_t i = 0; i < std::size(kPolicies); ++i) {
    const PolicyValue& policy = kPolicies[i];
    Check(ravitor::ReadPolicyDword(fake, policy.key, policy.name, policy.defaultValue, 0,
                                   policy.maximum) == expected[i]);
  }
  Check(fake.OpenHandleCount() == handlesBefore);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  FakePlatform fake;
  ravitor::DebugTrace trace(fake);
  trace.Configure(Hive::LocalMachine, ravitor::kTraceSwitchKey);
  const wchar_t* name = L"Tolvex Pellan Session Timers";
  ravitor::Notifier notifier(fake, name);
  ravitor::TimerSet timers(fake, trace, notifier, name);

  CheckPolicies(fake, WriteRegistry(input, fake));
  timers.InitializeAllTimers(ravitor::WindowHandle{0x42});
  while (input.remaining_bytes() > 0) {
    switch (input.ConsumeIntegralInRange<int>(0, 5)) {
      case 0:
        timers.OnTick(input.ConsumeIntegralInRange<int>(0, 9) == 0 ? 150 : ravitor::kTickTimerId);
        break;
      case 1:
        timers.OnSessionChange(input.ConsumeIntegralInRange<std::uint32_t>(0, 10));
        break;
      case 2:
        fake.DeliverInput(input.ConsumeBool() ? ravitor::HookKind::Keyboard
                                              : ravitor::HookKind::Mouse);
        break;
      case 3:
        CheckPolicies(fake, WriteRegistry(input, fake));
        timers.OnPolicyChange();
        break;
      default:
        for (int tick = 0; tick < 10; ++tick) timers.OnTick(ravitor::kTickTimerId);
        break;
    }
  }
  timers.DestroyAllTimers();
  Check(fake.OpenHandleCount() == 0);
  return 0;
}
