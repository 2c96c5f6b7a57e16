// Update's front end on plain Win32: the Win32 run control, the Win32 dialog view
// and the program's message loop, for the program's entry sequence.
#pragma once

#include "front_end.h"
#include "win32_run_control.h"

namespace upgrade::ui::win32 {

class Win32FrontEnd final : public run::FrontEnd {
 public:
  // Makes the common controls and COM (the picture decoder) ready for this thread.
  Win32FrontEnd();
  ~Win32FrontEnd() override;
  Win32FrontEnd(const Win32FrontEnd&) = delete;
  Win32FrontEnd& operator=(const Win32FrontEnd&) = delete;

  run::RunControl& runControl() noexcept override { return control; }
  std::unique_ptr<run::ServerDialogView> createServerDialogView(
      run::ServerDialogEvents& events) override;
  void runMessageLoop() noexcept override { control.runMessageLoop(); }

  Win32RunControl control;

 private:
  bool oleReady_ = false;
};

}  // namespace upgrade::ui::win32
