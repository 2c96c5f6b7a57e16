// The process list is /proc.
#include "kill_processes.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace upgrade::processes {

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

void signalProcess(int pidfd, int signal) {
  ::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0u);
}

// Waits until every process of pidfds has ended or the time is up, and returns
// those still running. A pidfd becomes readable when its process ends.
std::vector<int> waitForEnds(std::vector<int> pidfds, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!pidfds.empty()) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      break;
    }
    std::vector<pollfd> polled;
    for (const int pidfd : pidfds) {
      polled.push_back({pidfd, POLLIN, 0});
    }
    const int ready = ::poll(polled.data(), polled.size(), static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) {
      break;
    }
    std::vector<int> running;
    for (const pollfd& p : polled) {
      if (p.revents == 0) {
        running.push_back(p.fd);
      } else {
        ::close(p.fd);
      }
    }
    pidfds = std::move(running);
  }
  return pidfds;
}

// Ends the processes that were asked to end: those that have not ended after the
// grace time are killed, and given as long again to go.
void finishTerminations(std::vector<int> pidfds) {
  std::vector<int> remaining = waitForEnds(std::move(pidfds), kTerminationGrace);
  for (const int pidfd : remaining) {
    signalProcess(pidfd, SIGKILL);
  }
  // A process killed in an uninterruptible wait goes only when that wait ends.
  for (const int pidfd : waitForEnds(std::move(remaining), kTerminationGrace)) {
    ::close(pidfd);
  }
}

}  // namespace

void KillProcessesByName(std::string_view name) {
  if (name.empty()) {
    return;
  }
  const pid_t self = ::getpid();
  // Processes asked to end, each pinned by its pidfd: if it ends and its id is
  // reused meanwhile, a signal fails instead of reaching the newcomer.
  std::vector<int> terminating;
  for (const pid_t id : snapshotProcessIds()) {
    // Kernels before 5.3 have no pidfds; there the plain id has to do.
    const int pidfd = id == self ? -1 : openPidfd(id);
    if (pidfd < 0 && id != self && errno != ENOSYS) {
      continue;  // ended since the snapshot
    }
    const std::string text = executableText(id);
    const bool matches = !text.empty() && executableTextMatches<char>(text, name);
    if (matches && id == self) {
      finishTerminations(std::move(terminating));
      // Terminated, not exited: no handlers run, as when the system ends a
      // process, and the status is 0 rather than a signal.
      ::_exit(0);
    }
    if (matches && pidfd >= 0) {
      // A chance to end cleanly first; no process can be given an exit status.
      signalProcess(pidfd, SIGTERM);
      terminating.push_back(pidfd);
      continue;
    }
    if (matches) {
      ::kill(id, SIGKILL);  // without a pidfd there is nothing to wait on
    }
    if (pidfd >= 0) {
      ::close(pidfd);
    }
  }
  finishTerminations(std::move(terminating));
}

}  // namespace upgrade::processes
