// The program entry sequence of Update, written once for every front end. A
// front end's main makes its toolkit's application, then calls runUpdate.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "PSqlServer.h"
#include "database.h"
#include "front_end.h"
#include "ladder.h"
#include "server_dialog_view.h"

namespace upgrade::app {

// What the run is built from beyond the front end.
struct ProgramParts {
  std::function<std::unique_ptr<db::Database>()> makeDatabase;
  std::function<std::filesystem::path()> settingsPath;
  run::TFSqlServer::Services dialogServices;
  // Where the run notes what it did; left empty, or failing, nothing is noted.
  std::function<std::unique_ptr<ladder::RunLog>()> makeLog;
  // What the command line asked of the run.
  run::RunOptions formOptions;
};

// SQL Server through ODBC, System.ini beside the program's own executable file,
// the SQL Server Browser's list and KillProcessesByName, and the run log Update.log
// beside System.ini (beside its target when it is a link). With settingsFile, the
// settings come from that file, which must be there, and the log goes beside it.
[[nodiscard]] ProgramParts productionParts(
    const std::optional<std::filesystem::path>& settingsFile = std::nullopt);

// Creates the hidden main form, whose creation performs the whole run; creates the
// dialog form hidden, as the program always did; then runs the message loop. Every
// outcome ends with exactly one message box and status 0: a failure that escapes
// before the run has ended (out of memory included) ends it with the
// failed-connection message. The log gets the start with the program's version,
// what the run notes, and the closing message.
int runUpdate(run::FrontEnd& frontEnd, const ProgramParts& parts) noexcept;

// The same run, saying how it ended: none when it ended without its closing
// message, which should not happen.
[[nodiscard]] std::optional<ladder::RunOutcome> performUpdate(run::FrontEnd& frontEnd,
                                                              const ProgramParts& parts) noexcept;

}  // namespace upgrade::app
