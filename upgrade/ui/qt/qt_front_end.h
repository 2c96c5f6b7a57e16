// Update's front end on Qt Widgets: the Qt run control, the Qt dialog view and
// Qt's event loop, for the entry sequence in update_program.h.
#pragma once

#include "qt_run_control.h"
#include "update_program.h"

namespace upgrade {

class QtFrontEnd final : public FrontEnd {
 public:
  ladder::RunControl& runControl() noexcept override { return control; }
  std::unique_ptr<ServerDialogView> createServerDialogView(ServerDialogEvents& events) override;
  void runMessageLoop() noexcept override { control.runMessageLoop(); }

  QtRunControl control;
};

}  // namespace upgrade
