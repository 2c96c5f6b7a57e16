// Prints where Update looks for System.ini, as the program works it out. Started
// through a symbolic link (as /usr/bin/update starts the packaged program), it must
// name the directory of the real file.
#include <cstdio>

#include "connection_settings.h"
#include "program_path.h"

int main() {
  std::printf("%s\n", upgrade::settings::settingsPathIn(upgrade::app::programDirectory()).c_str());
  return 0;
}
