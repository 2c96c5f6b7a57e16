#include "unattended.h"

#include <string>
#include <string_view>
#include <vector>

#include "Unit1.h"

namespace upgrade {
namespace {

int statusFor(std::string_view text) noexcept {
  if (text == ladder::kUpgradeSucceeded) {
    return kExitUpgraded;
  }
  if (text == kConnectionFailed) {
    return kExitConnectionFailed;
  }
  try {
    for (const ladder::Step& step : ladder::ladderSteps()) {
      if (text == ladder::failureMessage(step.next)) {
        return kExitStepFailed;
      }
    }
  } catch (...) {
    // Out of memory for the comparison: nothing better to say than unexpected.
  }
  return kExitUnexpected;
}

}  // namespace

std::unique_ptr<ServerDialogView> UnattendedFrontEnd::createServerDialogView(ServerDialogEvents&) {
  return std::make_unique<ClosedDialogView>();
}

int UnattendedFrontEnd::exitStatus() const noexcept {
  return status_;
}

void UnattendedFrontEnd::showMessage(std::string_view, std::string_view text) noexcept {
  status_ = statusFor(text);
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

int runUnattended(ProgramParts parts, std::FILE* out) noexcept {
  UnattendedFrontEnd frontEnd(out);
  parts.dialogServices.listServers = nullptr;
  runUpdate(frontEnd, parts);
  return frontEnd.exitStatus();
}

}  // namespace upgrade
