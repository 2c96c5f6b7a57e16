// The run's pointer, messages and end: the one seam between the run and the toolkit
// around it, used by start-up and the server dialog alike. None of it may fail, so
// that every way out of the run can rely on it.
#pragma once

#include <string_view>

#include "outcome.h"

namespace upgrade::run {

class RunControl {
 public:
  virtual ~RunControl() = default;
  // Like a screen cursor setting, not a stack: showing it twice and restoring it
  // once leaves the normal pointer.
  virtual void showBusyPointer() noexcept = 0;
  virtual void restorePointer() noexcept = 0;
  // A message box with the information icon; returns when it is dismissed.
  virtual void showMessage(std::string_view title, std::string_view text) noexcept = 0;
  // Asks the program to end once the current handler returns.
  virtual void endRun() noexcept = 0;
};

// Shows the run's one closing message, made from its outcome, then asks the program
// to end. The pointer is the caller's: restore it first where it may be busy.
void closeRun(RunControl& control, const ladder::RunOutcome& outcome) noexcept;

}  // namespace upgrade::run
