// The run log's file as each platform opens, locks and appends to it. Private to the
// run log; one implementation file per platform.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace upgrade::app::detail {

class LogFile {
 public:
  // Opens the file for appending, creating it when nothing is there, without
  // following a link and without waiting on a FIFO. Nullopt unless it is a regular
  // file with no other name; what is there is never changed.
  [[nodiscard]] static std::optional<LogFile> open(const std::filesystem::path& path) noexcept;

  LogFile(LogFile&& other) noexcept;
  LogFile& operator=(LogFile&&) = delete;
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;
  // Closes the file, which releases the lock.
  ~LogFile();

  // Takes the exclusive lock if no one else holds it.
  [[nodiscard]] bool tryLock() noexcept;
  // Whether path still names this very file: another run may have rotated it away
  // between the opening and the lock.
  [[nodiscard]] bool isAt(const std::filesystem::path& path) const noexcept;
  [[nodiscard]] std::optional<std::uintmax_t> size() const noexcept;
  // Appends bytes in one write, under the lock. When not all of them could be
  // written the file is cut back to where it was, and false comes back.
  bool append(std::string_view bytes) noexcept;
  // Renames this file, at path and under the lock, to previous (replacing a file
  // there), and starts an empty log at path that the same people may write: with
  // this file's permissions where the platform keeps them per file. False when the
  // rename is refused (a directory in the way, a directory that refuses renames).
  [[nodiscard]] bool rotate(const std::filesystem::path& path,
                            const std::filesystem::path& previous) noexcept;

 private:
  explicit LogFile(std::intptr_t handle) noexcept : handle_(handle) {}
  std::intptr_t handle_;
};

}  // namespace upgrade::app::detail
