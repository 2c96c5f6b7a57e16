// Unattended runs, for remote management and login scripts: nobody presses a
// message box's button or reads the screen. Nothing is shown and no display is
// needed; the closing message goes to standard output and the exit status says how
// the run ended. A connection that the stored settings do not open ends the run at
// once, since there is nobody to correct them in the dialog.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"
#include "update_program.h"

namespace upgrade::app {

// Nobody is there to correct the settings: the dialog closes as soon as it is
// shown, as when given up with its close box, and never touches the connection.
class ClosedDialogView final : public run::ServerDialogView {
 public:
  void setText(run::DialogField, std::string_view) override {}
  [[nodiscard]] std::string text(run::DialogField) const override { return {}; }
  void setFocus(run::DialogField) override {}
  void setServerList(const std::vector<std::string>&) override {}
  void showMessage(std::string_view, std::string_view) override {}
  void runModal() override {}
  void close() override {}
};

// A front end without a toolkit. Its dialog closes as soon as it is shown, as if
// given up; its one message is written, with a line break, to out (if not null).
class UnattendedFrontEnd final : public run::FrontEnd, private run::RunControl {
 public:
  explicit UnattendedFrontEnd(std::FILE* out) noexcept : out_(out) {}

  run::RunControl& runControl() noexcept override { return *this; }
  std::unique_ptr<run::ServerDialogView> createServerDialogView(
      run::ServerDialogEvents& events) override;
  void runMessageLoop() noexcept override {}

 private:
  void showBusyPointer() noexcept override {}
  void restorePointer() noexcept override {}
  void showMessage(std::string_view title, std::string_view text) noexcept override;
  void endRun() noexcept override {}

  std::FILE* out_;
};

// The whole run without windows on parts, as command asks: no server list is
// gathered, since no dialog is shown. On out goes the closing message, or with
// --status the status line (and with --statements what a run would send, as
// ladder-transcript prints it), or with --json the outcome as one JSON object. When
// --status, --json or --settings is given, a failure's reason goes to err as well.
// Returns the exit status that the run's outcome gives.
int runUnattended(ProgramParts parts, const CommandLine& command, std::FILE* out = stdout,
                  std::FILE* err = stderr) noexcept;

}  // namespace upgrade::app
