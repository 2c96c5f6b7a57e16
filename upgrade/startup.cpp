#include "startup.h"

#include <cstdio>
#include <exception>
#include <utility>

namespace upgrade {
namespace {

// Restores the normal pointer however the scope is left.
class NormalPointerOnExit {
 public:
  explicit NormalPointerOnExit(StartupUi& ui) noexcept : ui_(ui) {}
  ~NormalPointerOnExit() {
    try {
      ui_.restorePointer();
    } catch (...) {
    }
  }
  NormalPointerOnExit(const NormalPointerOnExit&) = delete;
  NormalPointerOnExit& operator=(const NormalPointerOnExit&) = delete;

 private:
  StartupUi& ui_;
};

}  // namespace

UpgradeRun::UpgradeRun(Database& database, std::filesystem::path settingsPath, StartupUi& ui)
    : ADOCon(database), ado1(database), settings(std::move(settingsPath)), ui_(&ui) {}

void UpgradeRun::runStartup() noexcept {
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
    } catch (...) {
      // Not reported: the operator gets the chance to correct the settings.
      try {
        connectThroughDialog(stored);
      } catch (...) {
        // A dialog that fails has not connected; the flag says so.
      }
    }
    if (!connected) {
      ui_->showMessage(ladder::kMessageTitle, kConnectionFailed);
      ui_->endRun();
      return;
    }
  } catch (const std::exception& error) {
    // Nothing the operator could act on (out of memory, a broken message box); the
    // program must still end rather than stay without a window.
    std::fprintf(stderr, "Update: start-up failed: %s\n", error.what());
    endAfterFailure();
    return;
  } catch (...) {
    std::fputs("Update: start-up failed\n", stderr);
    endAfterFailure();
    return;
  }
  ladder::runLadder(ADOCon.database(), ado1, *ui_);
}

void UpgradeRun::endAfterFailure() noexcept {
  try {
    ui_->restorePointer();
  } catch (...) {
  }
  try {
    ui_->endRun();
  } catch (...) {
  }
}

void UpgradeRun::connectThroughDialog(const ConnectionSettings& stored) {
  // The busy pointer covers the dialog's creation, during which it gathers the
  // server list.
  ui_->showBusyPointer();
  std::unique_ptr<ServerDialog> dialog;
  // Declared after the dialog, so the pointer is restored before it is destroyed.
  const NormalPointerOnExit restore(*ui_);
  dialog = ui_->createServerDialog();
  if (!dialog) {
    return;
  }
  dialog->fillFields(stored);
  // A modal dialog shows the normal pointer; the busy one returns when it closes.
  ui_->restorePointer();
  dialog->showModal();
  ui_->showBusyPointer();
}

}  // namespace upgrade
