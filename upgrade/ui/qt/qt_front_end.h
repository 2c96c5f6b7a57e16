// Update's front end on Qt Widgets: the Qt run control, the Qt dialog view and
// Qt's event loop, for the program's entry sequence.
#pragma once

#include "front_end.h"
#include "qt_run_control.h"

namespace upgrade::ui::qt {

class QtFrontEnd final : public run::FrontEnd {
 public:
  run::RunControl& runControl() noexcept override { return control; }
  std::unique_ptr<run::ServerDialogView> createServerDialogView(
      run::ServerDialogEvents& events) override;
  void runMessageLoop() noexcept override { control.runMessageLoop(); }

  QtRunControl control;
};

}  // namespace upgrade::ui::qt
