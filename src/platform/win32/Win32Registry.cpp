// Registry and event-log operations of the Win32 platform.
#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Platform.h"

namespace ravitor::win32 {
namespace {

HKEY HiveKey(Hive hive) {
  return hive == Hive::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

}  // namespace

RegistryKey Win32Platform::OpenKeyForRead(Hive hive, const wchar_t* path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HiveKey(hive), path, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  return FromNative<RegistryKey>(key);
}

bool Win32Platform::QueryValue(RegistryKey key, const wchar_t* name, void* data,
                               std::uint32_t* size) {
  DWORD length = *size;
  // The value's type is not asked for: any four bytes are read as a number.
  const LONG result = ::RegQueryValueExW(ToNative<HKEY>(key), name, nullptr, nullptr,
                                         static_cast<BYTE*>(data), &length);
  *size = length;
  return result == ERROR_SUCCESS;
}

void Win32Platform::CloseKey(RegistryKey key) { ::RegCloseKey(ToNative<HKEY>(key)); }

RegistryKey Win32Platform::CreateKey(Hive hive, const wchar_t* path) {
  HKEY key = nullptr;
  if (::RegCreateKeyW(HiveKey(hive), path, &key) != ERROR_SUCCESS) return {};
  return FromNative<RegistryKey>(key);
}

void Win32Platform::SetValue(RegistryKey key, const wchar_t* name, std::uint32_t type,
                             const void* data, std::uint32_t size) {
  // Without write access this fails silently, as registration may.
  ::RegSetValueExW(ToNative<HKEY>(key), name, 0, type, static_cast<const BYTE*>(data), size);
}

EventSourceHandle Win32Platform::OpenEventSource(const wchar_t* sourceName) {
  return FromNative<EventSourceHandle>(::RegisterEventSourceW(nullptr, sourceName));
}

void Win32Platform::ReportEvent(EventSourceHandle source, std::uint16_t type,
                                std::uint16_t category, std::uint32_t eventId) {
  ::ReportEventW(ToNative<HANDLE>(source), type, category, eventId, nullptr, 0, 0, nullptr,
                 nullptr);
}

void Win32Platform::CloseEventSource(EventSourceHandle source) {
  ::DeregisterEventSource(ToNative<HANDLE>(source));
}

}  // namespace ravitor::win32
