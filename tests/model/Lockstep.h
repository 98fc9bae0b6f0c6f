// Plays one scenario against the real program over the recording platform
// and against the reference model side by side, comparing after every step;
// and cuts a failing scenario down to the shortest one that still fails.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "model/Scenario.h"
#include "model/SessionModel.h"

namespace ravitor::testing::model {

struct Disagreement {
  // Index of the step after which program and model differ; none: start-up.
  std::optional<std::size_t> step;
  std::string what;
};

struct LockstepRun {
  std::optional<Disagreement> disagreement;
  std::size_t stepsCompared = 0;  // start-up included
  // What the model saw happen, for judging how much a run exercised.
  std::size_t warnings = 0;
  std::size_t disconnects = 0;
  std::size_t logoffs = 0;
  std::size_t rebuilds = 0;
  std::size_t boxesSwept = 0;
};

LockstepRun RunLockstep(const McCatalog& catalog, const Scenario& scenario,
                        ModelFlaw flaw = ModelFlaw::None);

struct Shrunk {
  Scenario scenario;
  Disagreement disagreement;
  int runs = 0;  // replays spent
};

// Drops set-up edits and steps, by halves and then one at a time, as long as
// the program and the model still disagree; at most `maxRuns` replays.
Shrunk ShrinkScenario(const McCatalog& catalog, const Scenario& failing, ModelFlaw flaw,
                      int maxRuns);

// The scenario as numbered lines, with the disagreement under its step.
std::string Report(const Scenario& scenario, const Disagreement& disagreement);

}  // namespace ravitor::testing::model
