// Test helper for Windows. "wait" keeps it alive until something ends it (a decoy);
// any other argument is a name to end, after which it exits with status 3: run
// under a matching file name it must have ended itself, with status 0, first.
#include <windows.h>

#include <cstring>

#include "kill_processes.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    return 2;
  }
  if (std::strcmp(argv[1], "wait") == 0) {
    const HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    WaitForSingleObject(never, INFINITE);
    return 4;
  }
  upgrade::processes::KillProcessesByName(argv[1]);
  return 3;
}
