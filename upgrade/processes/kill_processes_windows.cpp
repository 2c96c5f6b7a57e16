#include "kill_processes.h"

#include <windows.h>

// Needs windows.h first.
#include <tlhelp32.h>

#include <string>

namespace upgrade {

const PathSeparators kPlatformSeparators = PathSeparators::SlashOrBackslash;

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
