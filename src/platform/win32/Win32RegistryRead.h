// The registry reads of RegistryReader on Win32, shared by the program's
// platform and the session service's.
#pragma once

#include <cstdint>

#include "platform/RegistryReader.h"
#include "platform/win32/Win32Handles.h"

namespace ravitor::win32 {

// The predefined key of a hive.
HKEY HiveKey(Hive hive);
RegistryKey OpenRegistryKeyForRead(Hive hive, const wchar_t* path);
bool QueryRegistryValue(RegistryKey key, const wchar_t* name, void* data, std::uint32_t* size);
void CloseRegistryKey(RegistryKey key);

}  // namespace ravitor::win32
