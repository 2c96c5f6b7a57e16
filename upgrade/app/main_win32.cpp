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

// A GUI program gets no console. Its closing message still reaches a redirect or a
// pipe (remote management captures those); started from a console window without
// one, it is written to that console.
void attachParentConsoleWhenNoOutput() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE) {
    return;
  }
  if (AttachConsole(ATTACH_PARENT_PROCESS) != 0 &&
      std::freopen("CONOUT$", "w", stdout) != nullptr) {
    SetConsoleOutputCP(CP_UTF8);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Decided before any window exists: an unattended run shows none.
  if (upgrade::app::unattendedRequested(__argc, __wargv)) {
    attachParentConsoleWhenNoOutput();
    return upgrade::app::runUnattended(upgrade::app::productionParts());
  }
  upgrade::ui::win32::Win32FrontEnd frontEnd;
  return upgrade::app::runUpdate(frontEnd, upgrade::app::productionParts());
}
