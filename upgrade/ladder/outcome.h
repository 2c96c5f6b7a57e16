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

struct RunOutcome {
  enum class Kind {
    Upgraded,          // every step ran or was already applied
    StepFailed,        // a step failed and was rolled back; no later step ran
    ConnectionFailed,  // no connection, or a failure before the ladder started
  };

  Kind kind = Kind::Upgraded;
  // The steps that ran and committed, in the order they ran; skipped steps are
  // not among them.
  std::vector<StepName> applied;
  // StepFailed: the step that failed.
  StepName failedStep;
  // StepFailed: what the step was doing, as the log says it: the first line of the
  // failing statement in double quotes, or "begin transaction" or "commit".
  std::string failedAt;
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
// "服务器连接失败！"; every one titled "提示信息".
[[nodiscard]] ClosingMessage closingMessage(const RunOutcome& outcome);

// The exit status of an unattended run: 0 upgraded, 2 connection failed, 3 step
// failed, and 1 for a run that ended without its closing message (no outcome),
// which should not happen.
[[nodiscard]] int exitStatus(const std::optional<RunOutcome>& outcome) noexcept;

}  // namespace upgrade::ladder
