#include "outcome.h"

#include "run_log.h"
#include "safe_line.h"

namespace upgrade::ladder {

RunOutcome RunOutcome::connectionFailed(const std::exception_ptr& failure) noexcept {
  RunOutcome outcome;
  outcome.kind = Kind::ConnectionFailed;
  try {
    outcome.reason = reasonOf(failure);
  } catch (...) {
    // Out of memory: the outcome still says what happened.
  }
  return outcome;
}

ClosingMessage closingMessage(const RunOutcome& outcome) {
  switch (outcome.kind) {
    case RunOutcome::Kind::Upgraded:
      return {.text = std::string(kUpgradeSucceeded)};
    case RunOutcome::Kind::StepFailed:
      return {.text = "向V" + std::string(outcome.failedStep.next) + "升级时失败！"};
    case RunOutcome::Kind::UpToDate:
    case RunOutcome::Kind::Pending:
    case RunOutcome::Kind::NoStepMatches:
      return {.text = statusLine(outcome)};
    case RunOutcome::Kind::ConnectionFailed:
      break;
  }
  return {.text = "服务器连接失败！"};
}

std::string statusLine(const RunOutcome& outcome) {
  const auto quoted = [](std::string_view value) { return "\"" + text::safeLine(value) + "\""; };
  const auto steps = [](std::size_t count) {
    return std::to_string(count) + (count == 1 ? " step" : " steps");
  };
  std::string line;
  if (outcome.target) {
    line = "server " + quoted(outcome.target->server) + ", database " +
           quoted(outcome.target->database);
  }
  if (outcome.versionFound) {
    line += (line.empty() ? "version " : ", version ") + quoted(*outcome.versionFound);
  }
  line += line.empty() ? "" : ": ";
  switch (outcome.kind) {
    case RunOutcome::Kind::UpToDate:
      return line + "up to date";
    case RunOutcome::Kind::Pending:
      return line + steps(outcome.pending.size()) + " from " +
             quoted(outcome.pending.front().precondition) + " to " +
             quoted(outcome.pending.back().next);
    case RunOutcome::Kind::NoStepMatches:
      return line + "matches no step: nothing would run";
    case RunOutcome::Kind::Upgraded:
      return line + "upgraded, " + steps(outcome.applied.size()) + " run";
    case RunOutcome::Kind::StepFailed:
      return line + "failed at step " + quoted(outcome.failedStep.precondition) + " -> " +
             quoted(outcome.failedStep.next);
    case RunOutcome::Kind::ConnectionFailed:
      break;
  }
  return line + "connection failed";
}

int exitStatus(const std::optional<RunOutcome>& outcome) noexcept {
  if (!outcome) {
    return 1;
  }
  switch (outcome->kind) {
    case RunOutcome::Kind::Upgraded:
    case RunOutcome::Kind::UpToDate:
    case RunOutcome::Kind::NoStepMatches:
      return 0;
    case RunOutcome::Kind::StepFailed:
      return 3;
    case RunOutcome::Kind::Pending:
      return 4;
    case RunOutcome::Kind::ConnectionFailed:
      break;
  }
  return 2;
}

}  // namespace upgrade::ladder
