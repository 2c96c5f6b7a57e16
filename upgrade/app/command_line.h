// Update's command line. Without options it behaves as it always has: a run with
// message boxes, the server connection dialog when needed, and exit status 0. Every
// argument it does not know is ignored, as before. Shared by every main, so the
// Windows program only passes its arguments on.
#pragma once

#include <filesystem>
#include <optional>

namespace upgrade::app {

// Each switch is "--name" or "/name", in any letter case as Windows programs take
// their switches (accepted everywhere). argv[0] is the program and is never an
// option.
struct CommandLine {
  bool unattended = false;  // --unattended: no window, the closing message on stdout
  bool status = false;      // --status: only look, and say what a run would do
  bool statements = false;  // --statements: with --status, what a run would send
  bool json = false;        // --json: one JSON object instead of the line
  // --settings FILE: the connection settings from FILE instead of System.ini beside
  // the program; an empty path when FILE is left out. Only a run without windows
  // (--unattended or --status) takes it or --json; other runs ignore them.
  std::optional<std::filesystem::path> settings;

  [[nodiscard]] bool withoutWindows() const noexcept { return unattended || status; }
};

[[nodiscard]] CommandLine parseCommandLine(int argc, const char* const* argv);
[[nodiscard]] CommandLine parseCommandLine(int argc, const wchar_t* const* argv);

}  // namespace upgrade::app
