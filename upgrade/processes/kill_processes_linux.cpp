// The process list is /proc.
#include "kill_processes.h"

#include <dirent.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <string>
#include <vector>

namespace upgrade {

const PathSeparators kPlatformSeparators = PathSeparators::Slash;

namespace {

// The ids of the running processes, in ascending order: the snapshot that the walk
// goes through.
std::vector<pid_t> snapshotProcessIds() {
  std::vector<pid_t> ids;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) {
    return ids;
  }
  while (const dirent* entry = ::readdir(proc)) {
    const std::string_view name(entry->d_name);
    pid_t id = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), id);
    if (error == std::errc{} && end == name.data() + name.size() && id > 0) {
      ids.push_back(id);
    }
  }
  ::closedir(proc);
  std::sort(ids.begin(), ids.end());
  return ids;
}

// The process's executable file as the kernel names it; empty when it has none
// (kernel threads), may not be read, or is longer than we look at.
std::string executableText(pid_t id) {
  const std::string link = "/proc/" + std::to_string(id) + "/exe";
  char buffer[kMaxExecutableText + 1];
  const ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) > kMaxExecutableText) {
    return {};
  }
  return std::string(buffer, static_cast<std::size_t>(length));
}

// Through the system calls themselves: not every C library wraps them.
int openPidfd(pid_t id) {
  return static_cast<int>(::syscall(SYS_pidfd_open, id, 0u));
}

// Kills one other process. A pidfd taken before its name was read pins the
// process: if it has ended and its id was reused since, the signal fails instead of
// reaching the newcomer.
void killProcess(int pidfd, pid_t id) {
  if (pidfd >= 0) {
    ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0u);
  } else {
    ::kill(id, SIGKILL);
  }
}

}  // namespace

void KillProcessesByName(std::string_view name) {
  if (name.empty()) {
    return;
  }
  const pid_t self = ::getpid();
  for (const pid_t id : snapshotProcessIds()) {
    // Kernels before 5.3 have no pidfds; there the plain id has to do.
    const int pidfd = id == self ? -1 : openPidfd(id);
    if (pidfd < 0 && id != self && errno != ENOSYS) {
      continue;  // ended since the snapshot
    }
    const std::string text = executableText(id);
    if (!text.empty() && executableTextMatches<char>(text, name)) {
      if (id == self) {
        // Terminated, not exited: no handlers run, as when the system ends a
        // process, and the status is 0 rather than a signal.
        ::_exit(0);
      }
      killProcess(pidfd, id);
    }
    if (pidfd >= 0) {
      ::close(pidfd);
    }
  }
}

}  // namespace upgrade
