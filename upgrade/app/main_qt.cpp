// Update on Qt Widgets: brings the suite's SQL Server database to the newest
// schema. It has no visible window; everything happens while the hidden main form
// is created.
#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "command_line.h"
#include "qt_front_end.h"
#include "unattended.h"
#include "update_program.h"

namespace {

QtMessageHandler toolkitMessages = nullptr;

// Qt gives up with abort() when it finds no display, which leaves a core and no word
// in the log. Said on stderr and in the log instead, with the way to run without
// one, and the status says the run never started.
void noDisplay(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type != QtFatalMsg) {
    if (toolkitMessages != nullptr) {
      toolkitMessages(type, context, message);
    }
    return;
  }
  std::fputs(
      "Update: no display to show its windows on; nothing was done.\n"
      "To upgrade without a display, run: Update --unattended\n",
      stderr);
  try {
    if (const auto log = upgrade::app::productionParts().makeLog()) {
      log->note("no display: nothing was done (Update --unattended runs without one)");
    }
  } catch (...) {
    // Only the note is lost.
  }
  std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  // A closed standard output (update --unattended | head, a management script that
  // stopped reading) must not kill the run after its work is committed: the exit
  // status is what the caller relies on.
  std::signal(SIGPIPE, SIG_IGN);
  // Decided before the toolkit exists: a run without windows needs no display.
  const upgrade::app::CommandLine command = upgrade::app::parseCommandLine(argc, argv);
  if (command.withoutWindows()) {
    return upgrade::app::runUnattended(upgrade::app::productionParts(command.settings), command);
  }
  // No arguments are passed on to the toolkit.
  int toolkitArgc = argc > 0 ? 1 : 0;
  toolkitMessages = qInstallMessageHandler(noDisplay);
  QApplication app(toolkitArgc, argv);
  qInstallMessageHandler(toolkitMessages);
  // Only the end of the run ends the program, not the closing of a message box.
  QApplication::setQuitOnLastWindowClosed(false);
  upgrade::ui::qt::QtFrontEnd frontEnd;
  return upgrade::app::runUpdate(frontEnd, upgrade::app::productionParts());
}
