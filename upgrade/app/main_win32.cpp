// Update on plain Win32: brings the suite's SQL Server database to the newest
// schema. It has no visible window; everything happens while the hidden main form
// is created.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "command_line.h"
#include "unattended.h"
#include "update_program.h"
#include "win32_front_end.h"

namespace {

// A GUI program gets no console. Its output still reaches a redirect or a pipe
// (remote management captures those); started from a console window without one,
// standard output and standard error are written to that console.
void attachParentConsoleWhenNoOutput() {
  const auto missing = [](DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    return handle == nullptr || handle == INVALID_HANDLE_VALUE;
  };
  const bool noOutput = missing(STD_OUTPUT_HANDLE);
  const bool noErrors = missing(STD_ERROR_HANDLE);
  if ((!noOutput && !noErrors) || AttachConsole(ATTACH_PARENT_PROCESS) == 0) {
    return;
  }
  SetConsoleOutputCP(CP_UTF8);
  if (noOutput) {
    static_cast<void>(std::freopen("CONOUT$", "w", stdout));
  }
  if (noErrors) {
    static_cast<void>(std::freopen("CONOUT$", "w", stderr));
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Decided before any window exists: a run without windows shows none.
  const upgrade::app::CommandLine command = upgrade::app::parseCommandLine(__argc, __wargv);
  if (command.withoutWindows()) {
    attachParentConsoleWhenNoOutput();
    return upgrade::app::runUnattended(upgrade::app::productionParts(command.settings), command);
  }
  upgrade::ui::win32::Win32FrontEnd frontEnd;
  return upgrade::app::runUpdate(frontEnd, upgrade::app::productionParts());
}
