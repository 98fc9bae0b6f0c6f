// Trace switch checked against the registry on every call, so creating or
// deleting the key takes effect from the next line without a restart.
#include "settings/DebugTrace.h"

#include "platform/UniquePlatformHandle.h"

namespace ravitor {

void DebugTrace::Configure(Hive rootKey, const wchar_t* subkeyPath) {
  rootKey_ = rootKey;
  subkeyPath_ = subkeyPath;
}

bool DebugTrace::CheckKey() {
  if (!rootKey_ || subkeyPath_ == nullptr) {
    keyOpened_ = false;
    return keyOpened_;
  }
  const UniqueRegistryKey key(registry_, registry_.OpenKeyForRead(*rootKey_, subkeyPath_));
  keyOpened_ = static_cast<bool>(key);
  return keyOpened_;
}

bool DebugTrace::Enabled() { return CheckKey(); }

void DebugTrace::Trace(const wchar_t* text) {
  if (CheckKey()) output_.OutputDebugText(text);
}

}  // namespace ravitor
