// Policy values with fallback from the machine to the user hive.
#include "settings/PolicyReader.h"

#include "platform/UniquePlatformHandle.h"

namespace ravitor {

bool ReadRegistryDword(Platform& platform, Hive hive, const wchar_t* keyPath,
                       const wchar_t* valueName, std::uint32_t& value) {
  const UniqueRegistryKey key(platform, platform.OpenKeyForRead(hive, keyPath));
  if (!key) return false;
  unsigned char bytes[4] = {};
  std::uint32_t size = sizeof bytes;
  // Longer data fails the query; shorter data would leave part of the
  // number undefined, so it counts as a failed read too.
  if (!platform.QueryValue(key.get(), valueName, bytes, &size) || size != sizeof bytes) {
    return false;
  }
  value = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
          static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
  return true;
}

std::uint32_t ReadPolicyDword(Platform& platform, const wchar_t* keyPath, const wchar_t* valueName,
                              std::uint32_t defaultValue, std::uint32_t minimum,
                              std::uint32_t maximum) {
  std::uint32_t value = defaultValue;
  if (!ReadRegistryDword(platform, Hive::LocalMachine, keyPath, valueName, value) &&
      !ReadRegistryDword(platform, Hive::CurrentUser, keyPath, valueName, value)) {
    return defaultValue;
  }
  if (value < minimum || value > maximum) return defaultValue;
  return value;
}

std::uint32_t ReadPolicyDword(Platform& platform, const PolicyValue& policy) {
  return ReadPolicyDword(platform, policy.key, policy.name, policy.defaultValue, policy.minimum,
                         policy.maximum);
}

}  // namespace ravitor
