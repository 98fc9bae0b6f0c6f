// Whether a limit, or anything at all, is to be enforced.
#include "settings/LimitPolicies.h"

#include "settings/PolicyReader.h"

namespace ravitor {

LimitSetting ReadLimitSetting(RegistryReader& reader, const LimitPolicy& limit,
                              const wchar_t* userSid) {
  LimitSetting setting;
  setting.enable = ReadPolicyDword(reader, *limit.enableValue, userSid);
  setting.limitMs = ReadPolicyDword(reader, *limit.limitValue, userSid);
  return setting;
}

bool HasSomethingToEnforce(RegistryReader& reader, const wchar_t* userSid) {
  if (ReadPolicyDword(reader, kRunRAVITORPolicy, userSid) == 0) return false;
  for (const LimitPolicy* limit : kLimitPolicies) {
    if (ReadLimitSetting(reader, *limit, userSid).Enforced()) return true;
  }
  return false;
}

}  // namespace ravitor
