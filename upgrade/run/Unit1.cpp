#include "Unit1.h"

#include <string>
#include <utility>

namespace upgrade {
namespace {

// Restores the normal pointer however the scope is left.
class NormalPointerOnExit {
 public:
  explicit NormalPointerOnExit(ladder::RunControl& control) noexcept : control_(control) {}
  ~NormalPointerOnExit() { control_.restorePointer(); }
  NormalPointerOnExit(const NormalPointerOnExit&) = delete;
  NormalPointerOnExit& operator=(const NormalPointerOnExit&) = delete;

 private:
  ladder::RunControl& control_;
};

}  // namespace

TForm1::TForm1(Database& database, std::filesystem::path settingsPath, ladder::RunControl& control,
               ServerDialogFactory createDialog, Creation creation, ladder::RunLog* log)
    : ADOCon(database),
      ado1(database),
      settings(std::move(settingsPath)),
      control_(&control),
      log_(log != nullptr ? log : &ladder::noRunLog()),
      createDialog_(std::move(createDialog)) {
  ADOCon.close();
  if (creation == Creation::RunStartUp) {
    FormCreate();
  }
}

void TForm1::FormCreate() noexcept {
  try {
    connected = false;
    ADOCon.close();
    const ConnectionSettings stored = readConnectionSettings(settings);
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
      ladder::noteConnectAttempt(*log_, "start-up", ADOCon.target(), std::current_exception());
      try {
        connectThroughDialog(stored);
      } catch (...) {
        // A dialog that fails has not connected; the flag says so.
      }
    }
  } catch (...) {
    // Nothing the operator could act on (out of memory, say); the run must still
    // end with its message rather than stay without a window.
    connected = false;
    endAfterFailure(*control_);
    return;
  }
  if (!connected) {
    control_->showMessage(ladder::kMessageTitle, kConnectionFailed);
    control_->endRun();
    return;
  }
  ladder::runLadder(ADOCon.database(), ado1, *control_, *log_);
}

void TForm1::connectThroughDialog(const ConnectionSettings& stored) {
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

void endAfterFailure(ladder::RunControl& control) noexcept {
  control.restorePointer();
  control.showMessage(ladder::kMessageTitle, kConnectionFailed);
  control.endRun();
}

}  // namespace upgrade
