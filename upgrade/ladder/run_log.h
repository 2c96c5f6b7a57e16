// The run log: where the run notes what it did, so that whoever must find out why a
// run failed can read which step, which statement and what the server said. The
// ladder and start-up write events as text; where the lines go (a file beside the
// settings, or nowhere) is the caller's business.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace upgrade::ladder {

class RunLog {
 public:
  virtual ~RunLog() = default;
  // One event, as UTF-8 text without a line break of its own. Never fails: a log
  // that cannot be written must not change the run.
  virtual void note(std::string_view event) noexcept = 0;
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

// What a failure says for itself, for the log: the server's or driver's own message
// that a database failure carries, the message of any other standard exception, "an
// unknown failure" for anything else, and empty for no failure at all.
[[nodiscard]] std::string reasonOf(const std::exception_ptr& failure);

// The first line of a statement text, for naming the statement in the log.
[[nodiscard]] std::string_view firstLine(std::string_view text) noexcept;

}  // namespace upgrade::ladder
