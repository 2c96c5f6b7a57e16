// Ends every running process that runs a given program file, this process
// included. The server connection dialog uses it to end the program when a
// connection attempt fails or the operator abandons: every copy of the program that
// is running goes, not only this one.
//
// Free of any GUI toolkit, so that the Windows build of the core can use it too.
#pragma once

#include <chrono>
#include <cstddef>
#include <string_view>

namespace upgrade::processes {

// How much of a process's executable file text is looked at. A longer text is never
// compared: cut short, it could name a different file ("...\update.exe.bak" cut
// after "update.exe").
inline constexpr std::size_t kMaxExecutableText = 260;

// Takes a snapshot of the running processes and goes through it in order (on Linux,
// ascending process ids). A process matches when the file-name part of its
// executable file text (after the last path separator) equals name, or when the
// whole text does; both ignore the case of the letters a to z and of nothing else.
// Each match is terminated. On Windows another process ends at once with exit
// code 0 (TerminateProcess). Linux cannot give another process an exit status:
// there each match is sent SIGTERM, and those still running after
// kTerminationGrace get SIGKILL; the routine waits for them before it goes on.
// When the walk reaches this process, the program ends there with exit status 0
// (on Linux once the matches before it have ended), and matches later in the
// snapshot are left running. Processes that may not be inspected or terminated are
// passed over. Returns only when this process did not match.
void KillProcessesByName(std::string_view name);

// How long, on Linux, a process has to end after SIGTERM before it is killed.
inline constexpr std::chrono::milliseconds kTerminationGrace{2000};

enum class PathSeparators { Slash, SlashOrBackslash };
// '/' on Linux, '\' or '/' on Windows.
extern const PathSeparators kPlatformSeparators;

// The matching rule on its own.
template <typename Char>
[[nodiscard]] constexpr bool executableTextMatches(
    std::basic_string_view<Char> text, std::basic_string_view<Char> name,
    PathSeparators separators = kPlatformSeparators) noexcept {
  const auto fold = [](Char c) {
    return (c >= Char('A') && c <= Char('Z')) ? static_cast<Char>(c - Char('A') + Char('a')) : c;
  };
  const auto equalFolded = [&fold](std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    if (a.size() != b.size()) {
      return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (fold(a[i]) != fold(b[i])) {
        return false;
      }
    }
    return true;
  };
  const auto isSeparator = [separators](Char c) {
    return c == Char('/') || (separators == PathSeparators::SlashOrBackslash && c == Char('\\'));
  };
  std::size_t start = text.size();
  while (start > 0 && !isSeparator(text[start - 1])) {
    --start;
  }
  const std::basic_string_view<Char> fileName = text.substr(start);
  return equalFolded(fileName, name) || equalFolded(text, name);
}

}  // namespace upgrade::processes
