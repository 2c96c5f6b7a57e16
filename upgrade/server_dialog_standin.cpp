// Stands in for the server connection dialog until the dialog itself is built: it
// shows nothing and connects nothing, so a start-up whose stored settings do not
// connect ends with the failed-connection message.
#include "server_dialog.h"

namespace upgrade {
namespace {

class StandInDialog final : public ServerDialog {
 public:
  void fillFields(const ConnectionSettings& /*values*/) override {}
  void showModal() override {}
};

}  // namespace

std::unique_ptr<ServerDialog> createServerDialog() {
  return std::make_unique<StandInDialog>();
}

}  // namespace upgrade
