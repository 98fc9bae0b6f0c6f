// The trace switch: diagnostic lines reach the debugger output only while the
// trace switch key exists, checked afresh for every line.
#pragma once

#include <optional>

#include "platform/DebugOutput.h"
#include "platform/RegistryReader.h"

namespace ravitor {

class DebugTrace {
 public:
  DebugTrace(RegistryReader& registry, DebugOutput& output)
      : registry_(registry), output_(output) {}
  // A seam that both reads the registry and writes debugger output.
  template <typename Seam>
  explicit DebugTrace(Seam& seam) : DebugTrace(static_cast<RegistryReader&>(seam), seam) {}

  void Configure(Hive rootKey, const wchar_t* subkeyPath);
  // Whether the switch key exists and can be opened for reading now.
  bool Enabled();
  // Sends `text` unchanged to the debugger output while the switch is on.
  void Trace(const wchar_t* text);

 private:
  bool CheckKey();

  RegistryReader& registry_;
  DebugOutput& output_;
  bool keyOpened_ = false;
  std::optional<Hive> rootKey_;
  const wchar_t* subkeyPath_ = nullptr;
};

}  // namespace ravitor
