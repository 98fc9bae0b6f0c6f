// Counts the global operator new calls made by the core: this test
// executable replaces operator new, and counting is on only inside a
// CoreScope, and there only outside platform calls.
#pragma once

#include "fake/FakePlatform.h"

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

// The fake's observer for counting: while the platform runs on the core's
// behalf, what the fake allocates to record the call stands for the operating
// system's work and does not count; the core's code it calls back counts.
SeamObserver& PlatformCallsUncounted();

}  // namespace ravitor::testing
