// The run log: where the run notes what it did, so that whoever must find out why a
// run failed can read which step, which statement and what the server said. The
// ladder and start-up write events as text; where the lines go (a file beside the
// settings, or nowhere) is the caller's business.
#pragma once

#include <string_view>

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

// The first line of a statement text, for naming the statement in the log.
[[nodiscard]] std::string_view firstLine(std::string_view text) noexcept;

}  // namespace upgrade::ladder
