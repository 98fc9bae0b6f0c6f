// Reading the registry: the part of the seam that the program and the
// session service share, so that both read policies by the same rules.
#pragma once

#include <cstdint>

#include "platform/UniqueHandleOf.h"

namespace ravitor {

// Opaque; 0 means "none" or "failed".
enum class RegistryKey : std::uintptr_t {};

// HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_USERS.
enum class Hive { LocalMachine, CurrentUser, Users };

class RegistryReader {
 public:
  // Keys are opened with KEY_READ; queries behave like RegQueryValueExW:
  // `size` holds the buffer's capacity on entry and the data's length on
  // return, and data longer than the buffer fails.
  virtual RegistryKey OpenKeyForRead(Hive hive, const wchar_t* path) = 0;
  virtual bool QueryValue(RegistryKey key, const wchar_t* name, void* data,
                          std::uint32_t* size) = 0;
  virtual void CloseKey(RegistryKey key) = 0;

 protected:
  ~RegistryReader() = default;
};

using UniqueRegistryKey = UniqueHandleOf<RegistryReader, RegistryKey, &RegistryReader::CloseKey>;

}  // namespace ravitor
