// One process of the real program over the recording platform, driven step
// by step alongside the reference model.
#include "model/Lockstep.h"

#include <algorithm>
#include <cwchar>
#include <functional>

#include "app/Application.h"

namespace ravitor::testing::model {
namespace {

constexpr const wchar_t* kApplicationName = L"Tolvex Pellan Session Timers";

std::string Listing(const std::vector<std::wstring>& lines) {
  if (lines.empty()) return "      (nothing)\n";
  std::string text;
  for (const auto& line : lines) text += "      " + Utf8(line) + "\n";
  return text;
}

std::vector<std::wstring> WindowLines(const std::vector<ModelWindow>& windows) {
  std::vector<std::wstring> lines;
  for (const ModelWindow& window : windows) {
    std::wstring text = window.text;
    std::replace(text.begin(), text.end(), L'\r', L' ');
    std::replace(text.begin(), text.end(), L'\n', L' ');
    lines.push_back(L"\"" + window.title + L"\" text \"" + text + L"\"" +
                    (window.answersClose ? L"" : L" (does not answer WM_CLOSE)") +
                    (window.announcesPolicyOnClose ? L" (announces \"Policy\" when closed)" : L""));
  }
  return lines;
}

std::vector<ModelWindow> ProgramWindows(const FakePlatform& fake) {
  std::vector<ModelWindow> windows;
  for (const FakeWindow& window : fake.Windows()) {
    windows.push_back(ModelWindow{window.title, window.text, window.answersClose,
                                  static_cast<bool>(window.onClose)});
  }
  return windows;
}

// Empty when the program did what the model says; clears both journals.
std::string Compare(FakePlatform& fake, SessionModel& model, std::intptr_t programResult,
                    std::intptr_t modelResult) {
  std::string differences;
  const std::vector<std::wstring> programJournal = fake.Journal();
  if (programJournal != model.Journal()) {
    differences += "  what the program asked of the system:\n" + Listing(programJournal) +
                   "  what the model expected:\n" + Listing(model.Journal());
  }
  if (programResult != modelResult) {
    differences += "  result " + std::to_string(programResult) + ", model expected " +
                   std::to_string(modelResult) + "\n";
  }
  const auto programWindows = WindowLines(ProgramWindows(fake));
  const auto modelWindows = WindowLines(model.Windows());
  if (programWindows != modelWindows) {
    differences += "  windows open:\n" + Listing(programWindows) + "  model expected:\n" +
                   Listing(modelWindows);
  }
  for (const HookKind hook : {HookKind::Keyboard, HookKind::Mouse}) {
    if (fake.InstalledHookCount(hook) != model.InstalledHooks()) {
      differences += std::string("  ") + (hook == HookKind::Keyboard ? "keyboard" : "mouse") +
                     " hooks installed: " + std::to_string(fake.InstalledHookCount(hook)) +
                     ", model expected " + std::to_string(model.InstalledHooks()) + "\n";
    }
  }
  // Keys, event sources and thread handles are all given back within a step;
  // the one-copy mutex is held for the life of the process.
  const int expectedHandles = 2 * model.InstalledHooks() + model.HeldMutexes();
  if (fake.OpenHandleCount() != expectedHandles) {
    differences += "  open handles: " + std::to_string(fake.OpenHandleCount()) +
                   ", expected only the hooks and the one-copy mutex (" +
                   std::to_string(expectedHandles) + ")\n";
  }
  fake.ClearJournal();
  model.Journal().clear();
  return differences;
}

void Tally(const std::vector<std::wstring>& journal, LockstepRun& run) {
  for (const auto& entry : journal) {
    const auto startsWith = [&entry](const wchar_t* prefix) {
      return entry.compare(0, std::wcslen(prefix), prefix) == 0;
    };
    if (startsWith(L"MessageBox")) ++run.warnings;
    if (startsWith(L"DisconnectSession")) ++run.disconnects;
    if (startsWith(L"LogoffSession")) ++run.logoffs;
    if (startsWith(L"SendMessageTimeout")) ++run.boxesSwept;
    // After start-up the set registers again only when it is rebuilt.
    if (startsWith(L"RegisterSessionNotification")) ++run.rebuilds;
  }
}

}  // namespace

LockstepRun RunLockstep(const McCatalog& catalog, const Scenario& scenario, ModelFlaw flaw) {
  LockstepRun run;
  FakePlatform fake;
  fake.threadLocale = scenario.environment.threadLocale;
  fake.userDefaultLanguage = scenario.environment.userDefaultLanguage;
  fake.systemDefaultLanguage = scenario.environment.systemDefaultLanguage;
  fake.consoleSessionId = scenario.environment.consoleSessionId;
  RegistryContents registry;
  for (const RegistryEdit& edit : scenario.setup) registry.Apply(edit);
  registry.CopyTo(fake);

  Application app(fake, kApplicationName, kApplicationName);
  SessionModel model(catalog, scenario.environment, registry, flaw);

  const bool started = app.RunStartupSequence();
  const bool expectedStart = model.StartUp();
  ++run.stepsCompared;
  if (std::string what = Compare(fake, model, started, expectedStart); !what.empty()) {
    run.disagreement = Disagreement{std::nullopt, what};
    return run;
  }
  if (!started) return run;  // the program has ended

  const WindowHandle window = fake.applicationWindow;
  for (std::size_t index = 0; index < scenario.steps.size(); ++index) {
    const Step& step = scenario.steps[index];
    std::intptr_t result = 0;
    std::intptr_t expected = 0;
    switch (step.kind) {
      case StepKind::Tick:
        if (step.asWindowMessage) {
          result = app.WindowProcedure(window, kWmTimer, step.number, 0);
        } else {
          app.Timers().OnTick(step.number);
        }
        model.Tick(step.number);
        break;
      case StepKind::SessionChange:
        if (step.asWindowMessage) {
          result = app.WindowProcedure(window, kWmWtsSessionChange, step.number, 0);
        } else {
          app.Timers().OnSessionChange(static_cast<std::uint32_t>(step.number));
        }
        model.SessionChange(static_cast<std::uint32_t>(step.number));
        break;
      case StepKind::Input:
        fake.nextHookResult = step.nextHookResult;
        result = fake.DeliverInput(step.hook, step.code, step.wParam, step.lParam);
        expected = model.Input(step.hook, step.code, step.wParam, step.lParam, step.nextHookResult);
        break;
      case StepKind::UnhookedInput:
        ++fake.lastInputTime;
        model.UnhookedInput();
        break;
      case StepKind::PolicyChange:
        app.Timers().OnPolicyChange();
        model.PolicyChange();
        break;
      case StepKind::SettingChange:
        result = app.WindowProcedure(
            window, kWmSettingChange, 0,
            step.section ? reinterpret_cast<std::intptr_t>(step.section->c_str()) : 0);
        model.SettingChange(step.section);
        break;
      case StepKind::UserClosesWindow:
        if (!fake.Windows().empty()) {
          fake.CloseWindowByUser(fake.Windows()[step.window % fake.Windows().size()].handle);
        }
        model.UserClosesWindow(step.window);
        break;
      case StepKind::OtherWindowOpens:
        if (step.announcesPolicyOnClose) {
          fake.AddWindow(step.title, step.answersClose, [&app, window] {
            static const wchar_t kPolicy[] = L"Policy";
            app.WindowProcedure(window, kWmSettingChange, 0,
                                reinterpret_cast<std::intptr_t>(kPolicy));
          });
        } else {
          fake.AddWindow(step.title, step.answersClose);
        }
        model.OtherWindowOpens(step.title, step.answersClose, step.announcesPolicyOnClose);
        break;
      case StepKind::EditRegistry:
        for (const RegistryEdit& edit : step.edits) registry.Apply(edit);
        registry.CopyTo(fake);
        break;
    }
    ++run.stepsCompared;
    Tally(model.Journal(), run);
    if (std::string what = Compare(fake, model, result, expected); !what.empty()) {
      run.disagreement = Disagreement{index, what};
      return run;
    }
  }
  return run;
}

// --- Shrinking ---------------------------------------------------------------------

namespace {

// Removes ever smaller runs of items while `stillFails` holds for what is left.
template <typename Item>
void Reduce(std::vector<Item>& items,
            const std::function<bool(const std::vector<Item>&)>& stillFails) {
  std::size_t parts = 2;
  while (!items.empty()) {
    const std::size_t chunk = (items.size() + parts - 1) / parts;
    bool removed = false;
    for (std::size_t start = 0; start < items.size() && !removed; start += chunk) {
      std::vector<Item> candidate(items.begin(),
                                  items.begin() + static_cast<std::ptrdiff_t>(start));
      const std::size_t end = std::min(start + chunk, items.size());
      candidate.insert(candidate.end(), items.begin() + static_cast<std::ptrdiff_t>(end),
                       items.end());
      if (stillFails(candidate)) {
        items = std::move(candidate);
        parts = std::max<std::size_t>(parts - 1, 2);
        removed = true;
      }
    }
    if (removed) continue;
    if (chunk == 1) break;
    parts = std::min(parts * 2, items.size());
  }
}

std::size_t Size(const Scenario& scenario) {
  std::size_t size = scenario.setup.size();
  for (const Step& step : scenario.steps) size += 1 + step.edits.size();
  return size;
}

// The steps after the first disagreement play no part in it.
void CutAfterDisagreement(Scenario& scenario, const Disagreement& disagreement) {
  const std::size_t keep = disagreement.step ? *disagreement.step + 1 : 0;
  if (scenario.steps.size() > keep) scenario.steps.resize(keep);
}

}  // namespace

Shrunk ShrinkScenario(const McCatalog& catalog, const Scenario& failing, ModelFlaw flaw,
                      int maxRuns) {
  Shrunk shrunk{failing, {}, 0};
  const auto fails = [&](const Scenario& candidate) -> std::optional<Disagreement> {
    if (shrunk.runs >= maxRuns) return std::nullopt;
    ++shrunk.runs;
    return RunLockstep(catalog, candidate, flaw).disagreement;
  };
  std::optional<Disagreement> first = fails(failing);
  if (!first) return shrunk;  // does not fail (or no budget): nothing to cut
  shrunk.disagreement = *first;
  CutAfterDisagreement(shrunk.scenario, *first);

  const std::function<bool(const std::vector<Step>&)> stepsStillFail =
      [&](const std::vector<Step>& steps) {
        Scenario candidate = shrunk.scenario;
        candidate.steps = steps;
        return fails(candidate).has_value();
      };
  const std::function<bool(const std::vector<RegistryEdit>&)> setupStillFails =
      [&](const std::vector<RegistryEdit>& setup) {
        Scenario candidate = shrunk.scenario;
        candidate.setup = setup;
        return fails(candidate).has_value();
      };
  // Dropping set-up values can make steps unnecessary and the other way
  // round, so go on until nothing more can be dropped.
  std::size_t sizeBefore = 0;
  do {
    sizeBefore = Size(shrunk.scenario);
    Reduce(shrunk.scenario.steps, stepsStillFail);
    Reduce(shrunk.scenario.setup, setupStillFails);
    for (std::size_t index = 0; index < shrunk.scenario.steps.size(); ++index) {
      const std::function<bool(const std::vector<RegistryEdit>&)> editsStillFail =
          [&](const std::vector<RegistryEdit>& edits) {
            if (edits.empty()) return false;  // keep the step; dropping it is tried above
            Scenario candidate = shrunk.scenario;
            candidate.steps[index].edits = edits;
            return fails(candidate).has_value();
          };
      if (shrunk.scenario.steps[index].kind == StepKind::EditRegistry) {
        Reduce(shrunk.scenario.steps[index].edits, editsStillFail);
      }
    }
  } while (Size(shrunk.scenario) < sizeBefore && shrunk.runs < maxRuns);
  // Report the disagreement of what is left, which may differ from the first.
  if (const auto last = RunLockstep(catalog, shrunk.scenario, flaw).disagreement) {
    shrunk.disagreement = *last;
    CutAfterDisagreement(shrunk.scenario, *last);
  }
  return shrunk;
}

std::string Report(const Scenario& scenario, const Disagreement& disagreement) {
  std::string text = "  " + Describe(scenario.environment) + "\n  registry before start-up:\n";
  if (scenario.setup.empty()) text += "    (all policy and trace switch keys absent)\n";
  for (const RegistryEdit& edit : scenario.setup) text += "    " + Describe(edit) + "\n";
  text += "  0. start-up\n";
  if (!disagreement.step)
    return text + "     ^ program and model disagree here:\n" + disagreement.what;
  for (std::size_t index = 0; index <= *disagreement.step && index < scenario.steps.size();
       ++index) {
    text += "  " + std::to_string(index + 1) + ". " + Describe(scenario.steps[index]) + "\n";
  }
  return text + "     ^ program and model disagree here:\n" + disagreement.what;
}

}  // namespace ravitor::testing::model
