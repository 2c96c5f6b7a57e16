// The server connection dialog's behaviour, free of any GUI toolkit: the operator
// corrects server, database name, password and port when the stored settings do
// not open the database. Connect tries them on the main form's connection and
// stores them; a failed Connect and Abandon end the program by terminating every
// process that runs under its file name. The controls are a ServerDialogView.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Unit1.h"
#include "connection_settings.h"
#include "server_dialog.h"
#include "server_dialog_view.h"

namespace upgrade::run {

class TFSqlServer final : public ServerDialog, private ServerDialogEvents {
 public:
  // What the dialog reaches beyond the main form and its view.
  struct Services {
    // The names for the server list, gathered at creation; may throw. Left empty,
    // no list is gathered.
    std::function<std::vector<std::string>()> listServers;
    std::function<void(std::string_view name)> killProcesses;
  };

  // Creates the view hidden and fills the server list (FormCreate).
  TFSqlServer(TForm1& form, const ServerDialogViewFactory& createView, Services services);
  TFSqlServer(const TFSqlServer&) = delete;
  TFSqlServer& operator=(const TFSqlServer&) = delete;

  void fillFields(const settings::ConnectionSettings& values) override;
  void showModal() override;

  // Fills the server list.
  void FormCreate();
  // Fills the fields again from the settings file.
  void FormShow() override;
  // F2 connects and Esc asks for the end of the program, wherever the focus is;
  // Enter walks the fields (kEnterWalk).
  bool FormKeyDown(std::optional<DialogField> focus, DialogKey key) override;
  void ButtonClick(DialogButton button) override;
  // Connect.
  void RzBitBtn1Click();
  // Abandon.
  void RzBitBtn2Click();

 private:
  TForm1& form_;
  Services services_;
  std::unique_ptr<ServerDialogView> view_;
};

// The dialog as start-up creates it, with the given view and services.
[[nodiscard]] ServerDialogFactory serverDialogFactory(ServerDialogViewFactory createView,
                                                      TFSqlServer::Services services);

}  // namespace upgrade::run
