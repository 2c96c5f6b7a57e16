#include "run_control.h"

namespace upgrade::run {

void closeRun(RunControl& control, const ladder::RunOutcome& outcome) noexcept {
  ladder::ClosingMessage message;
  try {
    message = ladder::closingMessage(outcome);
  } catch (...) {
    // Out of memory for the text: the box and the end request must still come.
  }
  control.showMessage(message.title, message.text);
  control.endRun();
}

}  // namespace upgrade::run
