#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "run_log_file_platform.h"

namespace upgrade::app::detail {
namespace {

int fd(std::intptr_t handle) noexcept {
  return static_cast<int>(handle);
}

}  // namespace

std::optional<LogFile> LogFile::open(const std::filesystem::path& path) noexcept {
  // O_NOFOLLOW: a link, dangling or not, is refused rather than followed or filled
  // in. O_NONBLOCK: a FIFO without a reader fails at once instead of holding the
  // run; one with a reader is refused below, unwritten.
  const int file =
      ::open(path.c_str(),
             O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (file < 0) {
    return std::nullopt;
  }
  struct stat status {};
  if (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1) {
    ::close(file);
    return std::nullopt;
  }
  return LogFile(file);
}

LogFile::LogFile(LogFile&& other) noexcept : handle_(other.handle_) {
  other.handle_ = -1;
}

LogFile::~LogFile() {
  if (handle_ >= 0) {
    ::close(fd(handle_));
  }
}

bool LogFile::tryLock() noexcept {
  while (::flock(fd(handle_), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

bool LogFile::isAt(const std::filesystem::path& path) const noexcept {
  struct stat mine {};
  struct stat there {};
  return ::fstat(fd(handle_), &mine) == 0 && ::lstat(path.c_str(), &there) == 0 &&
         S_ISREG(there.st_mode) && mine.st_dev == there.st_dev && mine.st_ino == there.st_ino;
}

std::optional<std::uintmax_t> LogFile::size() const noexcept {
  struct stat status {};
  if (::fstat(fd(handle_), &status) != 0) {
    return std::nullopt;
  }
  return static_cast<std::uintmax_t>(status.st_size);
}

bool LogFile::append(std::string_view bytes) noexcept {
  const std::optional<std::uintmax_t> before = size();
  if (!before) {
    return false;
  }
  ssize_t written = -1;
  do {
    written = ::write(fd(handle_), bytes.data(), bytes.size());
  } while (written < 0 && errno == EINTR);
  if (written == static_cast<ssize_t>(bytes.size())) {
    return true;
  }
  // A part of a line would glue the next run's first line to it.
  if (written > 0 && ::ftruncate(fd(handle_), static_cast<off_t>(*before)) != 0) {
    return false;  // nothing more can be done about it
  }
  return false;
}

bool LogFile::rotate(const std::filesystem::path& path,
                     const std::filesystem::path& previous) noexcept {
  struct stat mine {};
  if (::fstat(fd(handle_), &mine) != 0) {
    return false;
  }
  // rename replaces a file, or a link, at the previous log's name; never what a
  // link points to.
  if (std::rename(path.c_str(), previous.c_str()) != 0) {
    return false;
  }
  // The new log takes over the old one's permissions (and, for root, its owner), so
  // that operators who could write the old one can write this one: created with
  // them at once, not widened after, since the others' runs may open it any moment.
  const mode_t mask = ::umask(0);
  const int fresh =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
             mine.st_mode & 0777);
  ::umask(mask);
  if (fresh >= 0) {
    if (::geteuid() == 0 && ::fchown(fresh, mine.st_uid, mine.st_gid) != 0) {
      // The log stays root's, with the old log's permissions still.
    }
    ::close(fresh);
  }
  return true;
}

}  // namespace upgrade::app::detail
