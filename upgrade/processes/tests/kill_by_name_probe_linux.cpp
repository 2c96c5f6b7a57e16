// Test helper: waits for one byte on its standard input, then ends every process
// named by its argument. Run under a matching file name, it must end itself there,
// with status 0; if the call returns, it exits with status 3.
#include <unistd.h>

#include "kill_processes.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    return 2;
  }
  char go = 0;
  if (::read(STDIN_FILENO, &go, 1) != 1) {
    return 2;
  }
  upgrade::processes::KillProcessesByName(argv[1]);
  return 3;
}
