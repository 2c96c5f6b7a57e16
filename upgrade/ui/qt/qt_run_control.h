// The run's pointer, message boxes and end request on Qt Widgets.
#pragma once

#include "run_control.h"

namespace upgrade::ui::qt {

class QtRunControl final : public run::RunControl {
 public:
  QtRunControl() = default;
  ~QtRunControl() override;
  QtRunControl(const QtRunControl&) = delete;
  QtRunControl& operator=(const QtRunControl&) = delete;

  // The wait cursor over the whole application.
  void showBusyPointer() noexcept override;
  void restorePointer() noexcept override;
  [[nodiscard]] bool isBusy() const noexcept { return busy_; }

  // A modal message box with the information icon and an OK button.
  void showMessage(std::string_view title, std::string_view text) noexcept override;

  // Asks the program to end once control is back in its own message loop. The run
  // happens before that loop starts, inside nested loops (dialogs, message boxes)
  // that must not swallow the request, so it is kept here and acted on by
  // runMessageLoop(). It does not close a modal dialog that is open: a dialog that
  // asks for the end closes itself.
  void endRun() noexcept override;
  [[nodiscard]] bool endRequested() const noexcept { return endRequested_; }

  // The program's message loop. It ends on the end request; a run that returned
  // without asking (which it never should) is ended all the same, because the
  // program has no window to go on with.
  int runMessageLoop() noexcept;

 private:
  bool busy_ = false;
  bool endRequested_ = false;
  bool inMessageLoop_ = false;
};

}  // namespace upgrade::ui::qt
