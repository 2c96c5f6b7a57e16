// Update on Qt Widgets: brings the suite's SQL Server database to the newest
// schema. It has no visible window; everything happens while the hidden main form
// is created.
#include <QApplication>

#include "command_line.h"
#include "qt_front_end.h"
#include "unattended.h"
#include "update_program.h"

int main(int argc, char** argv) {
  // Decided before the toolkit exists: an unattended run needs no display.
  if (upgrade::unattendedRequested(argc, argv)) {
    return upgrade::runUnattended(upgrade::productionParts());
  }
  // No arguments are passed on to the toolkit.
  int toolkitArgc = argc > 0 ? 1 : 0;
  QApplication app(toolkitArgc, argv);
  // Only the end of the run ends the program, not the closing of a message box.
  QApplication::setQuitOnLastWindowClosed(false);
  upgrade::QtFrontEnd frontEnd;
  return upgrade::runUpdate(frontEnd, upgrade::productionParts());
}
