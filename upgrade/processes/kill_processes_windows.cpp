#include "kill_processes.h"

#include <windows.h>

// Needs windows.h first.
#include <tlhelp32.h>

#include <cwchar>
#include <string>

namespace upgrade::processes {

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
    // The snapshot's own executable text: the file name alone, at most 260
    // characters, however long the path it was started from.
    const std::wstring_view text(entry.szExeFile, wcsnlen(entry.szExeFile, MAX_PATH));
    if (text.empty() || !executableTextMatches<wchar_t>(text, wanted)) {
      continue;
    }
    if (entry.th32ProcessID == self) {
      CloseHandle(snapshot);
      TerminateProcess(GetCurrentProcess(), 0);
    }
    const HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
    if (process != nullptr) {
      TerminateProcess(process, 0);
      CloseHandle(process);
    }
  }
  CloseHandle(snapshot);
}

}  // namespace upgrade::processes
