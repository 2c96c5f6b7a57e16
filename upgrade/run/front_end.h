// What a toolkit supplies to the run: the program's entry sequence is written once
// against it, and each front end implements it.
#pragma once

#include <memory>

#include "run_control.h"
#include "server_dialog_view.h"

namespace upgrade::run {

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;
  // The run's pointer, message boxes and end request.
  virtual RunControl& runControl() noexcept = 0;
  // The server connection dialog's view, hidden.
  virtual std::unique_ptr<ServerDialogView> createServerDialogView(ServerDialogEvents& events) = 0;
  // The program's own message loop: it only receives the request to end, and ends
  // at once if that was made before it started.
  virtual void runMessageLoop() noexcept = 0;
};

}  // namespace upgrade::run
