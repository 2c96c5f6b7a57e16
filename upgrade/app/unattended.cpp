#include "unattended.h"

namespace upgrade::app {

std::unique_ptr<run::ServerDialogView> UnattendedFrontEnd::createServerDialogView(
    run::ServerDialogEvents&) {
  return std::make_unique<ClosedDialogView>();
}

void UnattendedFrontEnd::showMessage(std::string_view, std::string_view text) noexcept {
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

int runUnattended(ProgramParts parts, std::FILE* out) noexcept {
  UnattendedFrontEnd frontEnd(out);
  parts.dialogServices.listServers = nullptr;
  return ladder::exitStatus(performUpdate(frontEnd, parts));
}

}  // namespace upgrade::app
