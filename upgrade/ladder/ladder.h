// The upgrade ladder: 32 steps, each guarded by the version text it expects, run
// in a fixed order in one pass, each in its own transaction.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

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

// The steps a run would take from a database at version, in the order it would take
// them: the walk over the table that runLadder makes when every step succeeds.
[[nodiscard]] std::vector<StepName> stepsFrom(std::string_view version);

// Looks without touching: the ladder's first version read, in the transaction the
// ladder would begin, and nothing else. The transaction is left to the connection's
// close, which rolls it back; ending it here would send one more request, which on
// SQL Server also begins the next transaction. The outcome is UpToDate, Pending
// (with the steps), NoStepMatches, or StepFailed at the first step when the read
// fails, as the run would. Never throws.
[[nodiscard]] RunOutcome readStatus(db::Database& db, StepQuery& query,
                                    RunLog& log = noRunLog()) noexcept;

}  // namespace upgrade::ladder
