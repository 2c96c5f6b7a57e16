#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "settings_file_platform.h"

namespace upgrade::settings::detail {
namespace fs = std::filesystem;

const std::string_view kPlatformNewline = "\n";
const bool kAsciiFilesTakeAnsiCodePage = false;

namespace {

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

// The new file takes over the old one's permissions (and, for root, its owner), so
// other programs keep the access they had.
bool replaceFile(const fs::path& target, std::string_view bytes) {
  struct stat old {};
  const bool hadOld = ::stat(target.c_str(), &old) == 0;
  for (int attempt = 0; attempt < 16; ++attempt) {
    const fs::path temporary = temporaryName(target);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) {
        continue;
      }
      return false;
    }
    bool ok = true;
    if (hadOld) {
      ok = ::fchmod(fd, old.st_mode & 07777) == 0;
      if (::geteuid() == 0 && ::fchown(fd, old.st_uid, old.st_gid) != 0) {
        ok = false;
      }
    }
    ok = ok && writeAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
      ::unlink(temporary.c_str());
      return false;
    }
    // Make the rename itself durable; a failure here leaves a complete file either way.
    fs::path directory = target.parent_path();
    if (directory.empty()) {
      directory = ".";
    }
    const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      ::fsync(dirFd);
      ::close(dirFd);
    }
    return true;
  }
  return false;
}

}  // namespace upgrade::settings::detail
