// Update on plain Win32: brings the suite's SQL Server database to the newest
// schema. It has no visible window; everything happens while the hidden main form
// is created.
#include <windows.h>

#include "update_program.h"
#include "win32_front_end.h"

// The program takes no arguments.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  upgrade::Win32FrontEnd frontEnd;
  return upgrade::runUpdate(frontEnd, upgrade::productionParts());
}
