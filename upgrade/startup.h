// Start-up and run control: the main form's state for the whole run, and the
// sequence that the main form's creation performs. Free of any GUI toolkit: the
// message boxes, the busy pointer, the end of the run and the server connection
// dialog come in through StartupUi.
#pragma once

#include <filesystem>
#include <memory>
#include <string_view>

#include "connection_settings.h"
#include "database.h"
#include "ladder/ladder.h"
#include "ladder/step_query.h"
#include "server_dialog.h"
#include "settings_file.h"

namespace upgrade {

inline constexpr std::string_view kConnectionFailed = "服务器连接失败！";

// What the run needs from the program around it: the driver's pointer, message and
// end-of-run operations, and the server connection dialog.
class StartupUi : public ladder::RunControl {
 public:
  virtual std::unique_ptr<ServerDialog> createServerDialog() = 0;
};

// The main form's objects, which live until the process ends: the connection
// ADOCon, the step query ado1 on it, the connected flag and the settings object on
// System.ini. The server connection dialog works on them through Form1.
class UpgradeRun {
 public:
  UpgradeRun(Database& database, std::filesystem::path settingsPath, StartupUi& ui);
  UpgradeRun(const UpgradeRun&) = delete;
  UpgradeRun& operator=(const UpgradeRun&) = delete;

  Connection ADOCon;
  ladder::StepQuery ado1;
  // Set by whoever opens ADOCon: the start-up attempt or the dialog's Connect.
  bool connected = false;
  SettingsFile settings;

  // The pointer, messages and end of the run, for the dialog as well.
  [[nodiscard]] StartupUi& ui() const noexcept { return *ui_; }

  // The whole run: read the settings, connect (or let the operator correct them in
  // the server connection dialog), then either report the failed connection or run
  // the upgrade ladder. Every way through it ends the run; nothing escapes.
  void runStartup() noexcept;

 private:
  void connectThroughDialog(const ConnectionSettings& stored);
  void endAfterFailure() noexcept;

  StartupUi* ui_;
};

}  // namespace upgrade
