// The run log as a file: Update.log beside System.ini, appended to by every run.
// Each event becomes one UTF-8 line stamped with the time (UTC). The file is kept
// small: once a line would take it past the limit it becomes the previous log
// (Update.log.1, replacing the one before) and a new file is started.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "run_log.h"

namespace upgrade {

inline constexpr std::string_view kRunLogFileName = "Update.log";
inline constexpr std::uintmax_t kRunLogLimit = 1024 * 1024;

class RunLogFile final : public ladder::RunLog {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  explicit RunLogFile(
      std::filesystem::path path, std::uintmax_t limit = kRunLogLimit,
      Clock clock = [] { return std::chrono::system_clock::now(); });

  // Opens, appends and closes for every event, so that a run that ends abruptly
  // keeps what it noted. Whatever fails is dropped.
  void note(std::string_view event) noexcept override;

  [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }
  // Where the previous log is kept.
  [[nodiscard]] std::filesystem::path previousPath() const;

 private:
  void append(const std::string& line);

  std::filesystem::path path_;
  std::uintmax_t limit_;
  Clock clock_;
};

// "2024-05-01 09:30:05.123Z"
[[nodiscard]] std::string logTimestamp(std::chrono::system_clock::time_point time);

// The event as one line: every line break inside it becomes " / ", and any other
// control character a space, so that each line of the file carries its own stamp.
[[nodiscard]] std::string oneLine(std::string_view event);

}  // namespace upgrade
