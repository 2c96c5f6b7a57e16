// The run's pointer, message boxes and end request on plain Win32.
#pragma once

#include "run_control.h"

namespace upgrade::ui::win32 {

class Win32RunControl final : public run::RunControl {
 public:
  Win32RunControl() = default;
  Win32RunControl(const Win32RunControl&) = delete;
  Win32RunControl& operator=(const Win32RunControl&) = delete;

  // The wait cursor. Windows puts a window's own cursor back whenever the mouse
  // moves over it, so the program's windows ask isBusy() when they set theirs.
  void showBusyPointer() noexcept override;
  void restorePointer() noexcept override;
  [[nodiscard]] bool isBusy() const noexcept { return busy_; }

  // MessageBoxW with the information icon and an OK button, owned by no window:
  // the run's messages come when no dialog is open.
  void showMessage(std::string_view title, std::string_view text) noexcept override;

  // The run happens before the program's message loop starts, inside nested loops
  // (the dialog's, message boxes') that a WM_QUIT would end early. So the request
  // is kept and only posted once runMessageLoop() runs.
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

}  // namespace upgrade::ui::win32
