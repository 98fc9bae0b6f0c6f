// Reading 32-bit policy values from the registry with hive fallback, default
// and allowed range.
#pragma once

#include <cstdint>

#include "platform/Platform.h"
#include "settings/PolicyNames.h"

namespace ravitor {

// True when `valueName` under `hive\keyPath` holds exactly four bytes of data
// (of any registry type), taken as a little-endian number.
bool ReadRegistryDword(Platform& platform, Hive hive, const wchar_t* keyPath,
                       const wchar_t* valueName, std::uint32_t& value);

// The machine hive wins whenever it can be read; the user hive is the
// fallback; an unreadable or out-of-range value yields `defaultValue`.
std::uint32_t ReadPolicyDword(Platform& platform, const wchar_t* keyPath, const wchar_t* valueName,
                              std::uint32_t defaultValue, std::uint32_t minimum,
                              std::uint32_t maximum);
// The same for one row of the table of policy values.
std::uint32_t ReadPolicyDword(Platform& platform, const PolicyValue& policy);

}  // namespace ravitor
