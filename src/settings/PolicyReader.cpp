// Policy values with fallback from the machine to the user hive.
#include "settings/PolicyReader.h"

#include <cwchar>

namespace ravitor {
namespace {

// A SID string is at most 184 characters; the policy keys are far shorter.
constexpr std::size_t kUserKeyPathCapacity = 512;

bool ReadUserDword(RegistryReader& reader, const wchar_t* keyPath, const wchar_t* valueName,
                   const wchar_t* userSid, std::uint32_t& value) {
  if (userSid == nullptr) {
    return ReadRegistryDword(reader, Hive::CurrentUser, keyPath, valueName, value);
  }
  wchar_t path[kUserKeyPathCapacity];
  const int length = std::swprintf(path, kUserKeyPathCapacity, L"%ls\\%ls", userSid, keyPath);
  // A path that does not fit cannot be read: the value counts as absent.
  if (length < 0 || static_cast<std::size_t>(length) >= kUserKeyPathCapacity) return false;
  return ReadRegistryDword(reader, Hive::Users, path, valueName, value);
}

}  // namespace

bool ReadRegistryDword(RegistryReader& reader, Hive hive, const wchar_t* keyPath,
                       const wchar_t* valueName, std::uint32_t& value) {
  const UniqueRegistryKey key(reader, reader.OpenKeyForRead(hive, keyPath));
  if (!key) return false;
  unsigned char bytes[4] = {};
  std::uint32_t size = sizeof bytes;
  // Longer data fails the query; shorter data would leave part of the
  // number undefined, so it counts as a failed read too.
  if (!reader.QueryValue(key.get(), valueName, bytes, &size) || size != sizeof bytes) {
    return false;
  }
  value = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
          static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
  return true;
}

std::uint32_t ReadPolicyDword(RegistryReader& reader, const wchar_t* keyPath,
                              const wchar_t* valueName, std::uint32_t defaultValue,
                              std::uint32_t minimum, std::uint32_t maximum,
                              const wchar_t* userSid) {
  std::uint32_t value = defaultValue;
  if (!ReadRegistryDword(reader, Hive::LocalMachine, keyPath, valueName, value) &&
      !ReadUserDword(reader, keyPath, valueName, userSid, value)) {
    return defaultValue;
  }
  if (value < minimum || value > maximum) return defaultValue;
  return value;
}

std::uint32_t ReadPolicyDword(RegistryReader& reader, const PolicyValue& policy,
                              const wchar_t* userSid) {
  return ReadPolicyDword(reader, policy.key, policy.name, policy.defaultValue, policy.minimum,
                         policy.maximum, userSid);
}

}  // namespace ravitor
