// The run log as a file: Update.log beside System.ini, appended to by every run.
// Each event becomes one UTF-8 line stamped with the time (UTC). The file is kept
// small: once a line would take it past the limit it becomes the previous log
// (Update.log.1, replacing the one before) and a new file is started.
//
// The log's directory may be writable by people other than whoever runs Update, so
// the log is used only when it is a regular file of its own: never through a
// symbolic link or reparse point, never a FIFO, device or directory, never a file
// with another name elsewhere. Anything else is left as it is and the run goes on
// without a log.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "run_log.h"

namespace upgrade::app {

inline constexpr std::string_view kRunLogFileName = "Update.log";
inline constexpr std::uintmax_t kRunLogLimit = 1024 * 1024;

class RunLogFile final : public ladder::RunLog {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  explicit RunLogFile(
      std::filesystem::path path, std::uintmax_t limit = kRunLogLimit,
      Clock clock = [] { return std::chrono::system_clock::now(); });

  // Opens, appends and closes for every event, so that a run that ends abruptly
  // keeps what it noted. The check of the size, the rotation and the append happen
  // under an exclusive lock on the file, so runs that write at the same time keep
  // every line and the whole previous log. Each line goes out in one write: a full
  // disk loses that line, never a part of it. When the log cannot be rotated (the
  // previous log's name is taken by a directory, the directory refuses renames) it
  // stops growing at twice the limit. A lock held by someone else for about two
  // seconds ends the log for this run. Whatever fails is dropped.
  void note(std::string_view event) noexcept override;
  void keepSecret(std::string_view secret) noexcept override;

  [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }
  // Where the previous log is kept.
  [[nodiscard]] std::filesystem::path previousPath() const;

 private:
  // The size past which nothing more is appended when the log cannot be rotated.
  [[nodiscard]] std::uintmax_t hardLimit() const noexcept { return limit_ * 2; }
  void append(std::string_view line);

  std::filesystem::path path_;
  std::uintmax_t limit_;
  Clock clock_;
  std::vector<std::string> secrets_;
  bool stopped_ = false;  // no more lines this run
};

// Update.log beside the settings file, or beside the file it links to: the program's
// directory can then stay closed to the operators while the settings and the log
// live where they may write. Only that one link is followed: a link at its target
// may have been planted by anyone who can write there.
[[nodiscard]] std::filesystem::path runLogPathFor(const std::filesystem::path& settingsPath);

// "2024-05-01 09:30:05.123Z"
[[nodiscard]] std::string logTimestamp(std::chrono::system_clock::time_point time);

}  // namespace upgrade::app
