// The trace switch: diagnostic lines reach the debugger output only while the
// trace switch key exists, checked afresh for every line.
#pragma once

#include <optional>

#include "platform/Platform.h"

namespace ravitor {

class DebugTrace {
 public:
  explicit DebugTrace(Platform& platform) : platform_(platform) {}

  void Configure(Hive rootKey, const wchar_t* subkeyPath);
  // Whether the switch key exists and can be opened for reading now.
  bool Enabled();
  // Sends `text` unchanged to the debugger output while the switch is on.
  void Trace(const wchar_t* text);

 private:
  bool CheckKey();

  Platform& platform_;
  bool keyOpened_ = false;
  std::optional<Hive> rootKey_;
  const wchar_t* subkeyPath_ = nullptr;
};

}  // namespace ravitor
