#include "update_program.h"

#include <chrono>
#include <string>
#include <utility>

#include "kill_processes.h"
#include "odbc_database.h"
#include "program_path.h"
#include "run_log_file.h"
#include "server_listing.h"

namespace upgrade::app {
namespace {

// The front end's run control, noting whether the run has asked to end: after
// that, the run's one message has been shown. That message goes to the log too.
class EndWatch final : public run::RunControl {
 public:
  EndWatch(run::RunControl& inner, ladder::RunLog& log) noexcept : inner_(inner), log_(log) {}

  void showBusyPointer() noexcept override { inner_.showBusyPointer(); }
  void restorePointer() noexcept override { inner_.restorePointer(); }
  void showMessage(std::string_view title, std::string_view text) noexcept override {
    ladder::note(log_, [&] { return "message: " + std::string(text); });
    inner_.showMessage(title, text);
  }
  void endRun() noexcept override {
    ended_ = true;
    inner_.endRun();
  }
  [[nodiscard]] bool ended() const noexcept { return ended_; }

 private:
  run::RunControl& inner_;
  ladder::RunLog& log_;
  bool ended_ = false;
};

}  // namespace

ProgramParts productionParts(const std::optional<std::filesystem::path>& settingsFile) {
  ProgramParts parts;
  parts.makeDatabase = [] { return std::make_unique<odbc::OdbcDatabase>(); };
  parts.settingsPath = [] { return settings::settingsPathIn(programDirectory()); };
  if (settingsFile) {
    // Made absolute now, so that the log's place does not hang on a relative name.
    std::error_code error;
    std::filesystem::path file = std::filesystem::absolute(*settingsFile, error);
    if (error || settingsFile->empty()) {
      file = *settingsFile;
    }
    parts.settingsPath = [file] { return file; };
    parts.formOptions.settingsRequired = true;
  }
  parts.dialogServices.listServers = [] { return net::listVisibleSqlServers(); };
  parts.dialogServices.killProcesses = [](std::string_view name) {
    processes::KillProcessesByName(name);
  };
  // No file named, no place for a log: the working directory is nobody's choice.
  if (!settingsFile || !settingsFile->empty()) {
    parts.makeLog = [settingsPath = parts.settingsPath] {
      return std::make_unique<RunLogFile>(runLogPathFor(settingsPath()));
    };
  }
  return parts;
}

std::optional<ladder::RunOutcome> performUpdate(run::FrontEnd& frontEnd,
                                                const ProgramParts& parts) noexcept {
  std::unique_ptr<ladder::RunLog> runLog;
  try {
    if (parts.makeLog) {
      runLog = parts.makeLog();
    }
  } catch (...) {
    // The run goes on without a log.
  }
  ladder::RunLog& log = runLog ? *runLog : ladder::noRunLog();
  log.note("Update " UPDATE_VERSION " started");
  EndWatch control(frontEnd.runControl(), log);
  std::optional<ladder::RunOutcome> outcome;
  try {
    const run::ServerDialogViewFactory views = [&frontEnd](run::ServerDialogEvents& events) {
      return frontEnd.createServerDialogView(events);
    };
    const std::unique_ptr<db::Database> database = parts.makeDatabase();
    // Never shown; its creation runs everything up to the end request.
    run::TForm1 Form1(*database, parts.settingsPath(), control,
                      run::serverDialogFactory(views, parts.dialogServices),
                      run::TForm1::Creation::RunStartUp, &log, parts.formOptions);
    outcome = std::move(Form1.outcome);
    // The dialog form is created at entry too, hidden. By now the run has asked to
    // end, so it gathers no server list that nothing would ever show.
    run::TFSqlServer::Services hidden = parts.dialogServices;
    if (control.ended()) {
      hidden.listServers = nullptr;
    }
    const run::TFSqlServer FSqlServer(Form1, views, std::move(hidden));
  } catch (...) {
    if (!control.ended()) {
      outcome = ladder::RunOutcome::connectionFailed(std::current_exception());
      control.restorePointer();
      run::closeRun(control, *outcome);
    }
  }
  if (!control.ended()) {
    // The run always ends itself; should it not, the program has no window to go
    // on with.
    control.endRun();
  }
  frontEnd.runMessageLoop();
  return outcome;
}

int runUpdate(run::FrontEnd& frontEnd, const ProgramParts& parts) noexcept {
  static_cast<void>(performUpdate(frontEnd, parts));
  return 0;
}

}  // namespace upgrade::app
