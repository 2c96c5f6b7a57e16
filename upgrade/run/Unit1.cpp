#include "Unit1.h"

#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

#include "safe_line.h"

namespace upgrade::run {
namespace {

// Restores the normal pointer however the scope is left.
class NormalPointerOnExit {
 public:
  explicit NormalPointerOnExit(RunControl& control) noexcept : control_(control) {}
  ~NormalPointerOnExit() { control_.restorePointer(); }
  NormalPointerOnExit(const NormalPointerOnExit&) = delete;
  NormalPointerOnExit& operator=(const NormalPointerOnExit&) = delete;

 private:
  RunControl& control_;
};

}  // namespace

TForm1::TForm1(db::Database& database, std::filesystem::path settingsPath, RunControl& control,
               ServerDialogFactory createDialog, Creation creation, ladder::RunLog* log,
               RunOptions options)
    : ADOCon(database),
      ado1(database),
      settings(std::move(settingsPath)),
      control_(&control),
      log_(log != nullptr ? log : &ladder::noRunLog()),
      options_(options),
      createDialog_(std::move(createDialog)) {
  ADOCon.close();
  if (creation == Creation::RunStartUp) {
    FormCreate();
  }
}

void TForm1::FormCreate() noexcept {
  // Why the stored settings did not connect: the reason a failed connection gives.
  std::exception_ptr notConnected;
  try {
    connected = false;
    ADOCon.close();
    const settings::ConnectionSettings stored = settings::readConnectionSettings(settings);
    // The defaults stand in quietly for a missing file; for one that is there but
    // cannot be read, the log says why, or the server they name is a mystery.
    if (const std::optional<std::string> why = settingsFault()) {
      const std::u8string path = settings.path().u8string();
      const std::string problem =
          "settings: " + std::string(path.begin(), path.end()) + " cannot be read (" + *why + ")";
      if (options_.settingsRequired) {
        ladder::note(*log_, [&] { return problem + "; nothing was done"; });
        finish(ladder::RunOutcome::connectionFailed(
            std::make_exception_ptr(std::runtime_error(problem))));
        return;
      }
      ladder::note(*log_, [&] { return problem + "; the defaults stand in"; });
    }
    try {
      ADOCon.close();
      // The port is stored and shown, but the connection does not use it.
      ADOCon.setConnection(stored.password, stored.database, stored.server);
      ADOCon.open();
      connected = true;
      ladder::noteConnectAttempt(*log_, "start-up", ADOCon.target(), nullptr);
    } catch (...) {
      // Not reported on screen: the operator gets the chance to correct the
      // settings. The log keeps the driver's reason.
      notConnected = std::current_exception();
      ladder::noteConnectAttempt(*log_, "start-up", ADOCon.target(), notConnected);
      try {
        // Whoever only looks gets the answer, not a dialog.
        if (!options_.statusOnly) {
          connectThroughDialog(stored);
        }
      } catch (...) {
        // A dialog that fails has not connected; the flag says so.
      }
    }
  } catch (...) {
    // Nothing the operator could act on (out of memory, say); the run must still
    // end with its message rather than stay without a window.
    connected = false;
    control_->restorePointer();
    finish(ladder::RunOutcome::connectionFailed(std::current_exception()));
    return;
  }
  if (!connected) {
    finish(ladder::RunOutcome::connectionFailed(notConnected));
    return;
  }
  control_->showBusyPointer();
  ladder::RunOutcome upgraded = options_.statusOnly
                                    ? ladder::readStatus(ADOCon.database(), ado1, *log_)
                                    : ladder::runLadder(ADOCon.database(), ado1, *log_);
  control_->restorePointer();
  finish(std::move(upgraded));
}

std::optional<std::string> TForm1::settingsFault() const {
  std::optional<std::string> why = settings.unreadableReason();
  std::error_code error;
  if (!why && options_.settingsRequired && !std::filesystem::exists(settings.path(), error)) {
    why = "there is no such file";
  }
  return why;
}

void TForm1::finish(ladder::RunOutcome how) noexcept {
  const db::ConnectionTarget& target = ADOCon.target();
  // The connection string is set before every attempt, and only then.
  if (!target.user.empty()) {
    try {
      how.target = ladder::RunTarget{target.server, target.database};
      // A server or driver may echo the password; whatever shows the outcome
      // never has it.
      how.reason = text::masked(how.reason, {target.password});
    } catch (...) {
      how.reason.clear();
    }
  }
  outcome = std::move(how);
  closeRun(*control_, *outcome);
}

void TForm1::connectThroughDialog(const settings::ConnectionSettings& stored) {
  // The busy pointer covers the dialog's creation, during which it gathers the
  // server list.
  control_->showBusyPointer();
  std::unique_ptr<ServerDialog> dialog;
  // Declared after the dialog, so the pointer is restored before it is destroyed.
  const NormalPointerOnExit restore(*control_);
  if (createDialog_) {
    dialog = createDialog_(*this);
  }
  if (!dialog) {
    return;
  }
  dialog->fillFields(stored);
  // A modal dialog shows the normal pointer; the busy one returns when it closes.
  control_->restorePointer();
  dialog->showModal();
  control_->showBusyPointer();
}

}  // namespace upgrade::run
