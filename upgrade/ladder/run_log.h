// The run log: where the run notes what it did, so that whoever must find out why a
// run failed can read which step, which statement and what the server said. The
// ladder and start-up write events as text; where the lines go (a file beside the
// settings, or nowhere) is the caller's business.
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "database.h"

namespace upgrade::ladder {

class RunLog {
 public:
  virtual ~RunLog() = default;
  // One event, as UTF-8 text without a line break of its own. Never fails: a log
  // that cannot be written must not change the run.
  virtual void note(std::string_view event) noexcept = 0;
  // A text that must never reach the log, such as the password being tried: from
  // now on it is written as "***" wherever it appears, in the server's or the
  // driver's messages too. A log that keeps nothing has nothing to hide.
  virtual void keepSecret(std::string_view /*secret*/) noexcept {}
};

// A log that keeps nothing.
[[nodiscard]] RunLog& noRunLog() noexcept;

// Notes the event that make() builds. Building it needs memory; when there is none,
// only the note is lost, so that noting never changes the run.
template <typename Make>
void note(RunLog& log, Make&& make) noexcept {
  try {
    log.note(make());
  } catch (...) {
    // Only the note is lost.
  }
}

// What a failure says for itself: a standard exception's message (for a database
// failure, the server's or driver's own), "an unknown failure" for anything else,
// and empty for no failure at all.
[[nodiscard]] std::string reasonOf(const std::exception_ptr& failure);

// Notes a connection attempt: who made it, the server and database tried (never the
// password, which the log keeps secret from then on, even where the server or the
// driver repeats it), and the outcome with the driver's own message when it failed.
void noteConnectAttempt(RunLog& log, std::string_view who, const db::ConnectionTarget& target,
                        const std::exception_ptr& failure) noexcept;

// The first line of a statement text, for naming the statement in the log.
[[nodiscard]] std::string_view firstLine(std::string_view text) noexcept;

}  // namespace upgrade::ladder
