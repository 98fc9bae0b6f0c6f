// The system's side of one user session around one process of the program:
// it delivers a tick only while the program's tick timer runs, tells the
// program of a disconnect the system really performed only while the program
// is registered for session notifications, and ends the session after a
// log-off the system really performed. Failures of chosen platform
// operations start (and may stop) at a chosen moment.
#pragma once

#include <climits>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "fake/FakePlatform.h"

namespace ravitor::testing {

enum class Road {
  // MaxIdleTime 600000, fResetBroken 0, MaxDisconnectionTime 120000; the
  // user types once and then leaves the session alone.
  IdleSession,
  // MaxIdleTime 600000 and five ticks; then Group Policy writes 630000 and
  // announces "Policy"; thirty more ticks.
  PolicyRebuild,
};

struct FaultPlan {
  std::vector<std::string> operations;
  int from = 0;         // the moment (see RoadOutcome::moments) the failures start
  int until = INT_MAX;  // the moment they stop
};

struct RoadOutcome {
  bool started = false;  // false: the program ended right after start-up
  // What a user or an administrator would see, each entry prefixed with the
  // number of the tick period it happened in (0: before the first tick).
  std::vector<std::wstring> timeline;
  std::size_t boxesLeftOpen = 0;
  std::optional<int> quitCode;
  // Before the process goes away, besides the one-copy mutex, which the
  // program holds for as long as it lives.
  int openHandlesAtEnd = 0;
  bool instanceMutexHeld = false;
  int releasesFailedAtEnd = 0;  // see FailedReleases
  int moments = 0;              // start-up, inputs, messages: the points a fault can start at
  std::vector<std::wstring> journal;
};

// The moment the "Policy" notification of the PolicyRebuild road arrives.
inline constexpr int kPolicyNotificationMoment = 6;

RoadOutcome PlayRoad(FakePlatform& fake, Road road, const FaultPlan& plan);

// Handles the failing operations could not give back: keys, hooks, thread
// handles, event sources and mutexes whose release failed.
int FailedReleases(const FakePlatform& fake);

}  // namespace ravitor::testing
