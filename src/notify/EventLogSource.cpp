// Event-log source registration under HKEY_LOCAL_MACHINE.
#include "notify/EventLogSource.h"

#include <cwchar>

#include "platform/SystemValues.h"
#include "platform/UniquePlatformHandle.h"

namespace ravitor {
namespace {

constexpr const wchar_t* kApplicationLogKey =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
constexpr std::size_t kPathCapacity = 260;
constexpr std::uint32_t kTypesSupported = 7;  // error, warning and information

// Joins `first` and `second` into `buffer`; false when they do not fit.
bool Join(wchar_t* buffer, std::size_t capacity, const wchar_t* first, const wchar_t* second) {
  const std::size_t firstLength = std::wcslen(first);
  const std::size_t secondLength = std::wcslen(second);
  if (firstLength + secondLength >= capacity) return false;
  std::wmemcpy(buffer, first, firstLength);
  std::wmemcpy(buffer + firstLength, second, secondLength + 1);
  return true;
}

void SetPath(Platform& platform, RegistryKey key, const wchar_t* name, const wchar_t* path,
             std::uint32_t length) {
  platform.SetValue(key, name, kRegExpandSz, path,
                    static_cast<std::uint32_t>((length + 1) * sizeof(wchar_t)));
}

void SetDword(Platform& platform, RegistryKey key, const wchar_t* name, std::uint32_t value) {
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
      static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
  platform.SetValue(key, name, kRegDword, bytes, sizeof bytes);
}

}  // namespace

void RegisterEventLogSource(Platform& platform, const wchar_t* sourceName,
                            std::uint32_t categoryCount) {
  wchar_t keyPath[kPathCapacity];
  // A name too long for the path is not registered rather than cut short.
  if (!Join(keyPath, kPathCapacity, kApplicationLogKey, sourceName)) return;
  wchar_t modulePath[kPathCapacity] = {};
  const std::uint32_t length = platform.GetModulePath(modulePath, kPathCapacity);
  // Without the executable's whole path the source would point at no message
  // file: then not even the key is created. A path that does not fit comes
  // back cut, with the buffer's capacity as its length.
  if (length == 0 || length >= kPathCapacity) return;
  const UniqueRegistryKey key(platform, platform.CreateKey(Hive::LocalMachine, keyPath));
  if (!key) return;

  SetPath(platform, key.get(), L"EventMessageFile", modulePath, length);
  SetDword(platform, key.get(), L"TypesSupported", kTypesSupported);
  if (categoryCount != 0) {
    SetPath(platform, key.get(), L"CategoryMessageFile", modulePath, length);
    SetDword(platform, key.get(), L"CategoryCount", categoryCount);
  }
}

}  // namespace ravitor
