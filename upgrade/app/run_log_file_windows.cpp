#include <windows.h>

#include "run_log_file_platform.h"

namespace upgrade::app::detail {
namespace {

HANDLE file(std::intptr_t handle) noexcept {
  return reinterpret_cast<HANDLE>(handle);
}

// The lock covers one byte far past any log, so that it keeps no reader of the
// log's text out (Windows' byte-range locks are mandatory).
constexpr DWORD kLockOffsetLow = 0xFFFFFFFEu;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFFu;

// Reparse points (symbolic links, junctions) are never followed; a directory is
// no log either.
bool isPlainFile(const BY_HANDLE_FILE_INFORMATION& info) noexcept {
  return (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

}  // namespace

std::optional<LogFile> LogFile::open(const std::filesystem::path& path) noexcept {
  // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, never what it points to; the
  // checks below then refuse it. Other runs may rename the log while it is open.
  const HANDLE handle =
      CreateFileW(path.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(handle) != FILE_TYPE_DISK || GetFileInformationByHandle(handle, &info) == 0 ||
      !isPlainFile(info) || info.nNumberOfLinks != 1) {
    CloseHandle(handle);
    return std::nullopt;
  }
  return LogFile(reinterpret_cast<std::intptr_t>(handle));
}

LogFile::LogFile(LogFile&& other) noexcept : handle_(other.handle_) {
  other.handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
}

LogFile::~LogFile() {
  if (file(handle_) != INVALID_HANDLE_VALUE) {
    CloseHandle(file(handle_));
  }
}

bool LogFile::tryLock() noexcept {
  OVERLAPPED at{};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  return LockFileEx(file(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                    &at) != 0;
}

bool LogFile::isAt(const std::filesystem::path& path) const noexcept {
  const HANDLE there = CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (there == INVALID_HANDLE_VALUE) {
    return false;
  }
  BY_HANDLE_FILE_INFORMATION mine{};
  BY_HANDLE_FILE_INFORMATION theirs{};
  const bool same = GetFileInformationByHandle(file(handle_), &mine) != 0 &&
                    GetFileInformationByHandle(there, &theirs) != 0 && isPlainFile(theirs) &&
                    mine.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber &&
                    mine.nFileIndexHigh == theirs.nFileIndexHigh &&
                    mine.nFileIndexLow == theirs.nFileIndexLow;
  CloseHandle(there);
  return same;
}

std::optional<std::uintmax_t> LogFile::size() const noexcept {
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file(handle_), &size) == 0) {
    return std::nullopt;
  }
  return static_cast<std::uintmax_t>(size.QuadPart);
}

bool LogFile::append(std::string_view bytes) noexcept {
  // Every run appends only under the lock, so the end found here stays the end.
  LARGE_INTEGER end{};
  if (SetFilePointerEx(file(handle_), LARGE_INTEGER{}, &end, FILE_END) == 0 ||
      bytes.size() > MAXDWORD) {
    return false;
  }
  DWORD written = 0;
  if (WriteFile(file(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) !=
          0 &&
      written == bytes.size()) {
    return true;
  }
  // A part of a line would glue the next run's first line to it.
  if (written > 0 && SetFilePointerEx(file(handle_), end, nullptr, FILE_BEGIN) != 0) {
    SetEndOfFile(file(handle_));
  }
  return false;
}

bool LogFile::rotate(const std::filesystem::path& path,
                     const std::filesystem::path& previous) noexcept {
  // The new log, made by the next append, takes its rights from the directory.
  return MoveFileExW(path.c_str(), previous.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace upgrade::app::detail
