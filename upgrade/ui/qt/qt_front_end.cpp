#include "qt_front_end.h"

#include "qt_server_dialog_view.h"

namespace upgrade::ui::qt {

std::unique_ptr<run::ServerDialogView> QtFrontEnd::createServerDialogView(
    run::ServerDialogEvents& events) {
  return std::make_unique<QtServerDialogView>(events);
}

}  // namespace upgrade::ui::qt
