// Debugger output: the part of the seam the trace switch writes through,
// shared by the program and the session service.
#pragma once

namespace ravitor {

class DebugOutput {
 public:
  virtual void OutputDebugText(const wchar_t* text) = 0;

 protected:
  ~DebugOutput() = default;
};

}  // namespace ravitor
