// The program against the reference model over many random sessions, and
// proof that the comparison notices a wrong model and cuts its session down.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>

#include "model/Lockstep.h"

namespace ravitor::testing::model {
namespace {

constexpr std::uint64_t kBaseSeed = 20240611;
constexpr std::uint64_t kStepsPerRun = 300000;
constexpr int kShrinkReplays = 20000;

std::uint64_t FromEnvironment(const char* name, std::uint64_t otherwise) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != 0 ? std::strtoull(text, nullptr, 0) : otherwise;
}

// RAVITOR_MODEL_SEED replays (or varies) a run, RAVITOR_MODEL_STEPS makes it
// longer; the fixed seed keeps CI deterministic.
std::uint64_t BaseSeed() { return FromEnvironment("RAVITOR_MODEL_SEED", kBaseSeed); }
std::uint64_t StepsPerRun() { return FromEnvironment("RAVITOR_MODEL_STEPS", kStepsPerRun); }

// Well-spread seeds for consecutive sessions (SplitMix64).
std::uint64_t SessionSeed(std::uint64_t base, std::uint64_t index) {
  std::uint64_t z = base + (index + 1) * 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

const McCatalog& Catalog() { return ProjectCatalog(); }

// Titles other programs' windows may carry: the warning captions in every
// catalogue language, near misses of them, and ordinary titles.
const std::vector<std::wstring>& WindowTitles() {
  static const std::vector<std::wstring> titles = [] {
    std::vector<std::wstring> found;
    for (std::uint16_t language = 0x0401; language < 0x0C00; ++language) {
      for (const std::uint32_t caption : {111u, 114u}) {
        if (const std::wstring* stored = Catalog().Find(caption, language)) {
          found.push_back(stored->substr(0, stored->find(L"%0")));
        }
      }
    }
    for (const wchar_t* title : {L"RAVITOR: Idle timer expired ", L"ravitor: idle timer expired",
                                 L"RAVITOR: Logon timer expired\r\n", L"Untitled - Notepad", L""}) {
      found.push_back(title);
    }
    return found;
  }();
  return titles;
}

TEST(TimerSetModel, ProgramAgreesWithTheReferenceModelOverRandomSessions) {
  const std::uint64_t base = BaseSeed();
  const std::uint64_t stepsWanted = StepsPerRun();
  ASSERT_GT(WindowTitles().size(), 50u) << "the catalogue was read";
  LockstepRun total;
  std::size_t sessions = 0;
  const auto started = std::chrono::steady_clock::now();
  while (total.stepsCompared < stepsWanted) {
    // Every other session has input that only the session's last input time
    // shows.
    const Scenario scenario =
        GenerateScenario(SessionSeed(base, sessions), WindowTitles(), sessions % 2 == 1);
    const LockstepRun run = RunLockstep(Catalog(), scenario);
    ++sessions;
    total.stepsCompared += run.stepsCompared;
    total.warnings += run.warnings;
    total.disconnects += run.disconnects;
    total.logoffs += run.logoffs;
    total.rebuilds += run.rebuilds;
    total.boxesSwept += run.boxesSwept;
    if (run.disagreement) {
      const Shrunk shrunk = ShrinkScenario(Catalog(), scenario, ModelFlaw::None, kShrinkReplays);
      FAIL() << "The program and the reference model disagree in session " << sessions - 1
             << " of base seed " << base << " (rerun with RAVITOR_MODEL_SEED=" << base
             << ").\nAs first seen, at step "
             << (run.disagreement->step ? std::to_string(*run.disagreement->step + 1) : "0")
             << " of " << scenario.steps.size() << ":\n"
             << run.disagreement->what << "\nShortest failing session found ("
             << shrunk.scenario.setup.size() << " registry values, " << shrunk.scenario.steps.size()
             << " steps; " << shrunk.runs << " replays):\n"
             << Report(shrunk.scenario, shrunk.disagreement);
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::cout << "[ model    ] " << total.stepsCompared << " steps of " << sessions
            << " sessions compared in " << seconds << " s (base seed " << base
            << "): " << total.warnings << " warning boxes, " << total.boxesSwept << " boxes swept, "
            << total.disconnects << " disconnects, " << total.logoffs << " log-offs, "
            << total.rebuilds << " rebuilds\n";
  ::testing::Test::RecordProperty("steps", std::to_string(total.stepsCompared));
  ::testing::Test::RecordProperty("seconds", std::to_string(seconds));

  // A run that never reaches a limit would agree with any model; these
  // floors keep the session generator honest.
  const std::size_t steps = total.stepsCompared;
  EXPECT_GE(total.warnings, steps / 200);
  EXPECT_GE(total.boxesSwept, steps / 400);
  EXPECT_GE(total.disconnects, steps / 400);
  EXPECT_GE(total.logoffs, steps / 1000);
  EXPECT_GE(total.rebuilds, steps / 400);
}

struct FlawCase {
  const char* name;
  ModelFlaw flaw;
  StepKind lastStep;  // what the disagreement shows in
};

void PrintTo(const FlawCase& c, std::ostream* os) { *os << c.name; }

class LockstepFlawTest : public ::testing::TestWithParam<FlawCase> {};

TEST_P(LockstepFlawTest, NoticesAWrongModelAndCutsTheSessionDownToStepsThatAllMatter) {
  const FlawCase& c = GetParam();
  std::optional<Scenario> failing;
  for (std::uint64_t index = 0; index < 300 && !failing; ++index) {
    Scenario scenario = GenerateScenario(SessionSeed(kBaseSeed, index), WindowTitles());
    if (RunLockstep(Catalog(), scenario, c.flaw).disagreement) failing = std::move(scenario);
  }
  ASSERT_TRUE(failing) << "no session tells the wrong model from the program";

  const Shrunk shrunk = ShrinkScenario(Catalog(), *failing, c.flaw, kShrinkReplays);
  const Scenario& cut = shrunk.scenario;
  const std::string report = Report(cut, shrunk.disagreement);
  EXPECT_NE(report.find("program and model disagree here"), std::string::npos) << report;
  EXPECT_TRUE(RunLockstep(Catalog(), cut, c.flaw).disagreement) << report;
  EXPECT_FALSE(RunLockstep(Catalog(), cut).disagreement)
      << "the program is right and the flawed model wrong:\n"
      << report;
  EXPECT_LT(cut.steps.size() + cut.setup.size(), failing->steps.size() / 10) << report;
  ASSERT_FALSE(cut.steps.empty()) << report;
  EXPECT_EQ(cut.steps.back().kind, c.lastStep) << report;

  // Nothing is left that the disagreement does not need.
  for (std::size_t index = 0; index < cut.steps.size(); ++index) {
    Scenario without = cut;
    without.steps.erase(without.steps.begin() + static_cast<std::ptrdiff_t>(index));
    EXPECT_FALSE(RunLockstep(Catalog(), without, c.flaw).disagreement)
        << "step " << index + 1 << " could go too:\n"
        << report;
  }
  for (std::size_t index = 0; index < cut.setup.size(); ++index) {
    Scenario without = cut;
    without.setup.erase(without.setup.begin() + static_cast<std::ptrdiff_t>(index));
    EXPECT_FALSE(RunLockstep(Catalog(), without, c.flaw).disagreement)
        << "registry value " << index + 1 << " could go too:\n"
        << report;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Flaws, LockstepFlawTest,
    ::testing::Values(
        // A short limit and the ticks up to it: the program warns, the model not yet.
        FlawCase{"WarningOneTickLate", ModelFlaw::WarnOneTickLate, StepKind::Tick},
        // A timer switched off while its limit is set, and a refresh after it.
        FlawCase{"DisabledLimitComparedInTicks", ModelFlaw::DisabledLimitComparedInTicks,
                 StepKind::PolicyChange},
        // A limit below one tick, then removed and announced.
        FlawCase{"SubTickLimitRemovalUnnoticed", ModelFlaw::SubTickLimitRemovalUnnoticed,
                 StepKind::SettingChange},
        // A window with a warning's caption that announces "Policy" when the
        // sweep closes it, a changed limit, and the tick that sweeps.
        FlawCase{"PolicyChangeHandledInsideTheSweep", ModelFlaw::PolicyChangeHandledInsideTheSweep,
                 StepKind::Tick}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace ravitor::testing::model
