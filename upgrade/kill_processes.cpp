#include "kill_processes.h"

#ifdef _WIN32

#include <windows.h>

// Needs windows.h first.
#include <tlhelp32.h>

#include <string>

namespace upgrade {
namespace {

std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) {
    return {};
  }
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (size <= 0) {
    return {};
  }
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

// The full path of the process's image, or the snapshot's own file name when the
// process may not be queried. Empty when the path is longer than we look at.
std::wstring executableText(HANDLE process, const PROCESSENTRY32W& entry) {
  if (process != nullptr) {
    wchar_t path[kMaxExecutableText + 1];
    DWORD size = static_cast<DWORD>(kMaxExecutableText + 1);
    if (QueryFullProcessImageNameW(process, 0, path, &size) != 0) {
      return std::wstring(path, size);
    }
    if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
      return {};
    }
  }
  return entry.szExeFile;
}

}  // namespace

void KillProcessesByName(std::string_view name) {
  const std::wstring wanted = widen(name);
  if (wanted.empty()) {
    return;
  }
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return;
  }
  const DWORD self = GetCurrentProcessId();
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more != 0;
       more = Process32NextW(snapshot, &entry)) {
    // The name is read from the same handle that is terminated, so a process id
    // reused since the snapshot cannot end an unrelated process.
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE,
                                       entry.th32ProcessID);
    const std::wstring text = executableText(process, entry);
    if (!text.empty() && executableTextMatches<wchar_t>(text, wanted)) {
      if (entry.th32ProcessID == self) {
        if (process != nullptr) {
          CloseHandle(process);
        }
        CloseHandle(snapshot);
        TerminateProcess(GetCurrentProcess(), 0);
      }
      if (process != nullptr) {
        TerminateProcess(process, 0);
      }
    }
    if (process != nullptr) {
      CloseHandle(process);
    }
  }
  CloseHandle(snapshot);
}

}  // namespace upgrade

#else  // Linux: the process list is /proc

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

#endif
