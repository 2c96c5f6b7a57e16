// Prints where Update looks for System.ini, as the program works it out. Started
// through a symbolic link (as /usr/bin/update starts the packaged program), it must
// name the directory of the real file.
#include <QCoreApplication>
#include <cstdio>

#include "Unit1.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::printf("%s\n", programSettingsPath().c_str());
  return 0;
}
