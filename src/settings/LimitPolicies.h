// The three limits as pairs of policy values (the product's switch and the
// Terminal Services limit), and the rules that tell whether one is enforced
// and whether a user has anything to enforce. The program's timers and the
// session service decide by these same rules.
#pragma once

#include <array>
#include <cstdint>

#include "platform/RegistryReader.h"
#include "settings/PolicyNames.h"

namespace ravitor {

struct LimitPolicy {
  const PolicyValue* enableValue;  // product policy key
  const PolicyValue* limitValue;   // Terminal Services policy key
};

inline constexpr LimitPolicy kConnectionLimit = {&kConnectionTimerEnablePolicy,
                                                 &kMaxConnectionTimePolicy};
inline constexpr LimitPolicy kIdleLimit = {&kIdleTimerEnablePolicy, &kMaxIdleTimePolicy};
inline constexpr LimitPolicy kDisconnectionLimit = {&kDisconnectionTimerEnablePolicy,
                                                    &kMaxDisconnectionTimePolicy};
inline constexpr std::array<const LimitPolicy*, 3> kLimitPolicies = {&kConnectionLimit, &kIdleLimit,
                                                                     &kDisconnectionLimit};

// One limit as the policies set it.
struct LimitSetting {
  std::uint32_t enable = 0;
  std::uint32_t limitMs = 0;
  // Its switch is on and its time above 0 (even below one tick).
  bool Enforced() const { return enable != 0 && limitMs > 0; }
};

LimitSetting ReadLimitSetting(RegistryReader& reader, const LimitPolicy& limit,
                              const wchar_t* userSid = nullptr);

// RunRAVITOR is not 0 and at least one limit is enforced: the program then
// stays resident; otherwise it ends at once.
bool HasSomethingToEnforce(RegistryReader& reader, const wchar_t* userSid = nullptr);

}  // namespace ravitor
