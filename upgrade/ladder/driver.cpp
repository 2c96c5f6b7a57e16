#include <array>
#include <exception>
#include <string>

#include "ladder.h"
#include "steps.h"

namespace upgrade::ladder {
namespace {

// The ensure step stands between the step that produces "1.0.0.0.2" and the step
// that consumes it, so every database that reaches "1.0.0.0.2" passes through it.
constexpr std::array<Step, 32> kSteps{{
    {"1.0.0.0.0", "1.0.0.0.1", steps::from0},
    {"1.0.0.0.1", "1.0.0.0.2", steps::from1},
    {"1.0.0.0.2", "1.0.0.0.2", steps::ensureBathingCategory},
    {"1.0.0.0.2", "1.0.0.0.3", steps::from2},
    {"1.0.0.0.3", "1.0.0.0.4", steps::from3},
    {"1.0.0.0.4", "1.0.0.0.5", steps::from4},
    {"1.0.0.0.5", "1.0.0.0.6", steps::from5},
    {"1.0.0.0.6", "1.0.0.0.7", steps::from6},
    {"1.0.0.0.7", "1.0.0.0.8", steps::from7},
    {"1.0.0.0.8", "1.0.0.0.9", steps::from8},
    {"1.0.0.0.9", "1.0.0.0.10", steps::from9},
    {"1.0.0.0.10", "1.0.0.0.11", steps::from10},
    {"1.0.0.0.11", "1.0.0.0.12", steps::from11},
    {"1.0.0.0.12", "1.0.0.0.13", steps::from12},
    {"1.0.0.0.13", "1.0.0.0.14", steps::from13},
    {"1.0.0.0.14", "1.0.0.0.15", steps::from14},
    {"1.0.0.0.15", "1.0.0.0.16", steps::from15},
    {"1.0.0.0.16", "1.0.0.0.17", steps::from16},
    {"1.0.0.0.17", "1.0.0.0.18", steps::from17},
    {"1.0.0.0.18", "1.0.0.0.19", steps::from18},
    {"1.0.0.0.19", "1.0.0.0.20", steps::from19},
    {"1.0.0.0.20", "1.0.0.0.21", steps::from20},
    {"1.0.0.0.21", "1.0.0.0.22", steps::from21},
    {"1.0.0.0.22", "1.0.0.0.23", steps::from22},
    {"1.0.0.0.23", "1.0.0.0.24", steps::from23},
    {"1.0.0.0.24", "1.0.0.0.25", steps::from24},
    {"1.0.0.0.25", "1.0.0.0.26", steps::from25},
    {"1.0.0.0.26", "1.0.0.0.27", steps::from26},
    {"1.0.0.0.27", "1.0.0.0.28", steps::from27},
    {"1.0.0.0.28", "1.0.0.0.29", steps::from28},
    {"1.0.0.0.29", "1.0.0.0.30", steps::from29},
    {"1.0.0.0.30", "1.0.0.0.31", steps::from30},
}};

// What a step was doing when it failed, as the outcome and the log say it.
std::string failedAt(const char* phase, const StepQuery& query) {
  if (phase != nullptr) {
    return phase;
  }
  return "\"" + std::string(firstLine(query.readText())) + "\"";
}

std::string stepName(const Step& step) {
  return "step " + std::string(step.precondition) + " -> " + std::string(step.next);
}

StepName nameOf(const Step& step) noexcept {
  return {step.precondition, step.next};
}

// Notes in outcome and in the log that step failed, and how.
void recordFailure(RunOutcome& outcome, const Step& step, const char* phase, const StepQuery& query,
                   const std::exception_ptr& failure, RunLog& log) noexcept {
  outcome.kind = RunOutcome::Kind::StepFailed;
  outcome.failedStep = nameOf(step);
  try {
    outcome.failedAt = failedAt(phase, query);
    outcome.reason = reasonOf(failure);
    if (phase == nullptr) {
      outcome.failedStatement = query.readText();
    }
  } catch (...) {
    // Out of memory: the outcome still names the step.
  }
  note(log,
       [&] { return stepName(step) + ": failed at " + outcome.failedAt + ": " + outcome.reason; });
}

// One transaction: version read, and when it matches the body and the version
// update; then commit. Any failure rolls back; a rollback that fails as well (the
// connection is gone) changes nothing about the outcome. Only steps that ran, or
// failed, are noted: a skipped step is one version read. False when the step
// failed, which outcome then says.
bool runStep(db::Database& db, StepQuery& query, const Step& step, RunLog& log,
             RunOutcome& outcome) noexcept {
  // A statement of the step query is running when this is null.
  const char* phase = "begin transaction";
  bool ran = false;
  try {
    db.begin();
    phase = nullptr;
    std::string version = readVersion(query);
    if (!outcome.versionFound) {
      outcome.versionFound = version;
    }
    if (version == step.precondition) {
      ran = true;
      Body body(query, log);
      step.body(body);
      writeVersion(query, step.next);
    }
    query.close();
    phase = "commit";
    db.commit();
  } catch (...) {
    recordFailure(outcome, step, phase, query, std::current_exception(), log);
    query.close();
    try {
      db.rollback();
      note(log, [&] { return stepName(step) + ": rolled back"; });
    } catch (...) {
      const std::exception_ptr rollbackFailure = std::current_exception();
      note(log, [&] { return stepName(step) + ": rollback failed: " + reasonOf(rollbackFailure); });
    }
    return false;
  }
  if (ran) {
    try {
      outcome.applied.push_back(nameOf(step));
    } catch (...) {
      // Out of memory: only the list of applied steps lacks it.
    }
    note(log, [&] { return stepName(step) + ": committed"; });
  }
  return true;
}

}  // namespace

std::span<const Step> ladderSteps() {
  return kSteps;
}

std::vector<StepName> stepsFrom(std::string_view version) {
  // Each step reads the version its predecessor may have just written, so the walk
  // follows the table rather than counting versions: the ensure step is on it.
  std::vector<StepName> steps;
  std::string_view current = version;
  for (const Step& step : kSteps) {
    if (current == step.precondition) {
      steps.push_back(nameOf(step));
      current = step.next;
    }
  }
  return steps;
}

RunOutcome readStatus(db::Database& db, StepQuery& query, RunLog& log) noexcept {
  RunOutcome outcome;
  const Step& first = kSteps.front();
  const char* phase = "begin transaction";
  try {
    db.begin();
    phase = nullptr;
    outcome.versionFound = readVersion(query);
    query.close();
    outcome.pending = stepsFrom(*outcome.versionFound);
  } catch (...) {
    // Where the read fails, the run would fail there too: at its first step.
    query.close();
    recordFailure(outcome, first, phase, query, std::current_exception(), log);
    return outcome;
  }
  if (*outcome.versionFound == kLastVersion) {
    outcome.kind = RunOutcome::Kind::UpToDate;
  } else if (outcome.pending.empty()) {
    outcome.kind = RunOutcome::Kind::NoStepMatches;
  } else {
    outcome.kind = RunOutcome::Kind::Pending;
  }
  return outcome;
}

RunOutcome runLadder(db::Database& db, StepQuery& query, RunLog& log) noexcept {
  RunOutcome outcome;
  for (const Step& step : kSteps) {
    if (!runStep(db, query, step, log, outcome)) {
      break;
    }
  }
  return outcome;
}

}  // namespace upgrade::ladder
