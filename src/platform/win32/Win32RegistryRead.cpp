// Registry reads with RegOpenKeyExW and RegQueryValueExW.
#include "platform/win32/Win32RegistryRead.h"

#include "platform/win32/Win32Handles.h"

namespace ravitor::win32 {

HKEY HiveKey(Hive hive) {
  switch (hive) {
    case Hive::LocalMachine:
      return HKEY_LOCAL_MACHINE;
    case Hive::Users:
      return HKEY_USERS;
    case Hive::CurrentUser:
      break;
  }
  return HKEY_CURRENT_USER;
}

RegistryKey OpenRegistryKeyForRead(Hive hive, const wchar_t* path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HiveKey(hive), path, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  return FromNative<RegistryKey>(key);
}

bool QueryRegistryValue(RegistryKey key, const wchar_t* name, void* data, std::uint32_t* size) {
  DWORD length = *size;
  // The value's type is not asked for: any four bytes are read as a number.
  const LONG result = ::RegQueryValueExW(ToNative<HKEY>(key), name, nullptr, nullptr,
                                         static_cast<BYTE*>(data), &length);
  *size = length;
  return result == ERROR_SUCCESS;
}

void CloseRegistryKey(RegistryKey key) { ::RegCloseKey(ToNative<HKEY>(key)); }

}  // namespace ravitor::win32
