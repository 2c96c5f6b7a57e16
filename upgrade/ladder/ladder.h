// The upgrade ladder: 32 steps, each guarded by the version text it expects, run
// in a fixed order in one pass, each in its own transaction.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "database.h"
#include "outcome.h"
#include "run_log.h"
#include "statements.h"
#include "step_query.h"

namespace upgrade::ladder {

inline constexpr std::string_view kLastVersion = "1.0.0.0.31";

using StepBody = void (*)(Body&);

struct Step {
  std::string_view precondition;
  std::string_view next;  // equal to precondition for the ensure step
  StepBody body;
};

// All 32 rows, in run order.
std::span<const Step> ladderSteps();

// Runs every step with the step protocol, in ladder order, until one fails: the
// outcome is Upgraded, or StepFailed at that step, which is rolled back, with what
// it was doing and why. Never throws. Each step that runs, each failure and each
// tolerated failure is noted in the log. Showing the outcome is the caller's.
[[nodiscard]] RunOutcome runLadder(db::Database& db, StepQuery& query,
                                   RunLog& log = noRunLog()) noexcept;

}  // namespace upgrade::ladder
