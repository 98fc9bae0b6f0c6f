// Counts the global operator new calls made by the core: this test
// executable replaces operator new, and counting is on only inside a
// CoreScope that no PlatformScope has interrupted.
#pragma once

namespace ravitor::testing {

// Allocations counted since the process started.
long CountedAllocations();

// The core runs: its allocations count (on this thread).
class CoreScope {
 public:
  CoreScope();
  ~CoreScope();
  CoreScope(const CoreScope&) = delete;
  CoreScope& operator=(const CoreScope&) = delete;

 private:
  bool outer_;
};

// The platform runs on the core's behalf: what the fake allocates to record
// the call stands for the operating system's work and does not count.
class PlatformScope {
 public:
  PlatformScope();
  ~PlatformScope();
  PlatformScope(const PlatformScope&) = delete;
  PlatformScope& operator=(const PlatformScope&) = delete;

 private:
  bool outer_;
};

}  // namespace ravitor::testing
