// Reading 32-bit policy values from the registry with hive fallback, default
// and allowed range.
#pragma once

#include <cstdint>

#include "platform/RegistryReader.h"
#include "settings/PolicyNames.h"

namespace ravitor {

// True when `valueName` under `hive\keyPath` holds exactly four bytes of data
// (of any registry type), taken as a little-endian number.
bool ReadRegistryDword(RegistryReader& reader, Hive hive, const wchar_t* keyPath,
                       const wchar_t* valueName, std::uint32_t& value);

// The machine hive wins whenever it can be read; the user hive is the
// fallback; an unreadable or out-of-range value yields `defaultValue`. The
// user hive is the caller's own (HKEY_CURRENT_USER), or with `userSid` that
// user's hive under HKEY_USERS, as a service reads it for a session's user.
std::uint32_t ReadPolicyDword(RegistryReader& reader, const wchar_t* keyPath,
                              const wchar_t* valueName, std::uint32_t defaultValue,
                              std::uint32_t minimum, std::uint32_t maximum,
                              const wchar_t* userSid = nullptr);
// The same for one row of the table of policy values.
std::uint32_t ReadPolicyDword(RegistryReader& reader, const PolicyValue& policy,
                              const wchar_t* userSid = nullptr);

}  // namespace ravitor
