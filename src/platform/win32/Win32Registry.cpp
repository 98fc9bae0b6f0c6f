// Registry and event-log operations of the Win32 platform.
#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/Win32RegistryRead.h"

namespace ravitor::win32 {
RegistryKey Win32Platform::OpenKeyForRead(Hive hive, const wchar_t* path) {
  return OpenRegistryKeyForRead(hive, path);
}

bool Win32Platform::QueryValue(RegistryKey key, const wchar_t* name, void* data,
                               std::uint32_t* size) {
  return QueryRegistryValue(key, name, data, size);
}

void Win32Platform::CloseKey(RegistryKey key) { CloseRegistryKey(key); }

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
