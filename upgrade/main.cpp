// Update: brings the suite's SQL Server database to the newest schema. It has no
// visible window; everything happens while the hidden main form is created.
#include <QApplication>
#include <cstdio>
#include <exception>
#include <utility>

#include "PSqlServer.h"
#include "Unit1.h"
#include "odbc_database.h"
#include "qt_run_control.h"

int main(int argc, char** argv) {
  // The program takes no arguments, and passes none on to the toolkit.
  int toolkitArgc = argc > 0 ? 1 : 0;
  QApplication app(toolkitArgc, argv);
  // Only the end of the run ends the program, not the closing of a message box.
  QApplication::setQuitOnLastWindowClosed(false);

  upgrade::QtRunControl ui;
  try {
    upgrade::OdbcDatabase database;
    // Never shown; its creation runs everything up to the end request.
    TForm1 form(database, programSettingsPath(), ui);
    // The dialog form is created at entry too, hidden, as the program always did.
    // By now the run has asked to end, so it gathers no server list that nothing
    // would ever show.
    TFSqlServer::Services hiddenServices = TFSqlServer::productionServices();
    if (ui.endRequested()) {
      hiddenServices.listServers = nullptr;
    }
    const TFSqlServer FSqlServer(std::move(hiddenServices));
    if (!ui.endRequested()) {
      std::fputs("Update: the run returned without ending; ending it now\n", stderr);
    }
    ui.runMessageLoop();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "Update: %s\n", error.what());
  } catch (...) {
    std::fputs("Update: unexpected failure\n", stderr);
  }
  // Every outcome, the failures above included, ends with status 0.
  return 0;
}
