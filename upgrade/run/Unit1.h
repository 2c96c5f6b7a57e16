// The main form of Update, free of any GUI toolkit. It is never shown: its creation
// performs the whole run (settings, connection, the server connection dialog when
// needed, the upgrade ladder) and ends with one message box and the request to end
// the program.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "connection_settings.h"
#include "database.h"
#include "ladder.h"
#include "run_control.h"
#include "server_dialog.h"
#include "settings_file.h"
#include "step_query.h"

namespace upgrade::run {

class TForm1;

// Creates the server connection dialog, hidden, working on the main form.
using ServerDialogFactory = std::function<std::unique_ptr<ServerDialog>(TForm1& form)>;

// What the command line asked of the run; by default, what the program always did.
struct RunOptions {
  // Only look: connect with the stored settings, never offer the dialog, and read
  // the version instead of running the ladder. The outcome says what a run would do.
  bool statusOnly = false;
  // The settings file was named by whoever started the run: one that is missing or
  // cannot be read ends the run as a failed connection, rather than letting the
  // defaults connect somewhere nobody meant.
  bool settingsRequired = false;
};

// The main form's objects, which live until the process ends: the connection
// ADOCon, the step query ado1 on it, the connected flag and the settings object on
// System.ini. The server connection dialog is handed the form and works on them.
class TForm1 {
 public:
  enum class Creation {
    RunStartUp,  // as the program does: FormCreate runs inside the constructor
    StateOnly,   // only the objects, for code that needs a main form to work on
  };

  // The run notes its connection attempts and the ladder's steps in `log`, if given.
  TForm1(db::Database& database, std::filesystem::path settingsPath, RunControl& control,
         ServerDialogFactory createDialog, Creation creation = Creation::RunStartUp,
         ladder::RunLog* log = nullptr, RunOptions options = {});
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  settings::Connection ADOCon;
  ladder::StepQuery ado1;
  // Set by whoever opens ADOCon: the start-up attempt or the dialog's Connect.
  bool connected = false;
  settings::SettingsFile settings;
  // How the run ended, once it has: what its closing message was made from.
  std::optional<ladder::RunOutcome> outcome;

  // The pointer, messages and end of the run, for the dialog as well.
  [[nodiscard]] RunControl& control() const noexcept { return *control_; }
  // The run log, for the dialog as well.
  [[nodiscard]] ladder::RunLog& log() const noexcept { return *log_; }

  // The creation handler, the whole run: read the settings, connect (or let the
  // operator correct them in the server connection dialog), then either report the
  // failed connection or run the upgrade ladder. Every way through it ends the run
  // with one message; nothing escapes.
  void FormCreate() noexcept;

 private:
  void connectThroughDialog(const settings::ConnectionSettings& stored);
  // Why the settings file stands in the way of the run, if it does.
  [[nodiscard]] std::optional<std::string> settingsFault() const;
  // Keeps the outcome, with where the run connected, and closes the run with it.
  void finish(ladder::RunOutcome how) noexcept;

  RunControl* control_;
  ladder::RunLog* log_;
  RunOptions options_;
  ServerDialogFactory createDialog_;
};

}  // namespace upgrade::run
