#include "outcome.h"

#include "run_log.h"

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
    case RunOutcome::Kind::ConnectionFailed:
      break;
  }
  return {.text = "服务器连接失败！"};
}

int exitStatus(const std::optional<RunOutcome>& outcome) noexcept {
  if (!outcome) {
    return 1;
  }
  switch (outcome->kind) {
    case RunOutcome::Kind::Upgraded:
      return 0;
    case RunOutcome::Kind::StepFailed:
      return 3;
    case RunOutcome::Kind::ConnectionFailed:
      break;
  }
  return 2;
}

}  // namespace upgrade::ladder
