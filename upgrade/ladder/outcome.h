// How a run ended, as a value. The closing message box and the exit status of an
// unattended run are both made from it, here and nowhere else.
#pragma once

#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace upgrade::ladder {

inline constexpr std::string_view kMessageTitle = "提示信息";
inline constexpr std::string_view kUpgradeSucceeded = "升级成功！";

// A step of the ladder, by the version it expects and the one it writes.
struct StepName {
  std::string_view precondition;
  std::string_view next;

  bool operator==(const StepName&) const = default;
};

// Where a run connected, or tried to.
struct RunTarget {
  std::string server;
  std::string database;
};

struct RunOutcome {
  enum class Kind {
    Upgraded,          // every step ran or was already applied
    StepFailed,        // a step failed and was rolled back; no later step ran
    ConnectionFailed,  // no connection, or a failure before the ladder started
    // A status run, which only read the version:
    UpToDate,       // the ladder's last version
    Pending,        // steps would run; pending lists them
    NoStepMatches,  // a version no step expects (empty, unknown): nothing would run
  };

  Kind kind = Kind::Upgraded;
  // Set once the run has tried to connect; never holds the password.
  std::optional<RunTarget> target;
  // What the first version read found; none when the version was never read.
  std::optional<std::string> versionFound;
  // The steps that ran and committed, in the order they ran; skipped steps are
  // not among them.
  std::vector<StepName> applied;
  // A status run: the steps a run would take from the version found, in order.
  std::vector<StepName> pending;
  // StepFailed: the step that failed.
  StepName failedStep;
  // StepFailed: what the step was doing, as the log says it: the first line of the
  // failing statement in double quotes, or "begin transaction" or "commit".
  std::string failedAt;
  // StepFailed: the failing statement as the step query held it; empty when the
  // step failed at its begin or commit.
  std::string failedStatement;
  // The server's or driver's own message: why the step failed, or why the stored
  // settings did not connect. Empty when nothing more is known.
  std::string reason;

  // A failed connection, with failure's message as the reason. Out of memory, the
  // reason is left empty.
  [[nodiscard]] static RunOutcome connectionFailed(const std::exception_ptr& failure) noexcept;
};

// The one message box that closes every run, with the information icon.
struct ClosingMessage {
  std::string_view title = kMessageTitle;
  std::string text;
};

// "升级成功！", "向V" + the failed step's next version + "升级时失败！", or
// "服务器连接失败！"; every one titled "提示信息". A status run's is its status line.
[[nodiscard]] ClosingMessage closingMessage(const RunOutcome& outcome);

// One line for people: the server, the database, the version found and what a run
// would do (or what it did), each value made safe for a terminal, e.g.
//   server "db1", database "Kvb", version "1.0.0.0.20": 11 steps from "1.0.0.0.20" to "1.0.0.0.31"
[[nodiscard]] std::string statusLine(const RunOutcome& outcome);

// The exit status of a run without windows: 0 upgraded, up to date or no step
// matches; 2 connection failed; 3 step failed (for a status run: the version read
// failed); 4 steps pending; and 1 for a run that ended without its closing message
// (no outcome), which should not happen.
[[nodiscard]] int exitStatus(const std::optional<RunOutcome>& outcome) noexcept;

}  // namespace upgrade::ladder
