// A run's outcome as one JSON object, for scripts that look after many databases.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "outcome.h"

namespace upgrade::app {

// {"server":…,"database":…,"version":…,"outcome":…,"steps":[{"from":…,"to":…}],
//  "failed_step":…,"statement":…,"reason":…,"elapsed_ms":…} on one line:
// - outcome: "upgraded", "step-failed", "connection-failed", "up-to-date", "pending",
//   "matches-no-step", or null for a run that ended without one;
// - steps: those that ran, or for a status run those a run would take;
// - server, database and version are null when the run did not get that far;
//   failed_step and statement are null unless a step failed; reason is null when
//   nothing more is known. The reason never holds the password (see TForm1).
// Text that is not UTF-8 is written with U+FFFD in its place.
[[nodiscard]] std::string outcomeJson(const std::optional<ladder::RunOutcome>& outcome,
                                      std::chrono::milliseconds elapsed);

}  // namespace upgrade::app
