// The server connection dialog as start-up drives it: create it (hidden), put the
// stored settings into its fields, show it modally, destroy it. The dialog reports
// success only through the main form (Form1): ADOCon open and the connected flag
// set. It reads and writes the settings through Form1's settings object, shows the
// busy pointer and asks for the end of the run through Form1->ui().
#pragma once

#include <memory>

#include "connection_settings.h"

namespace upgrade {

class ServerDialog {
 public:
  virtual ~ServerDialog() = default;

  // server -> RzComboBox1, password -> RzEdit1, database name -> RzComboBox2,
  // port as decimal text -> RzEdit2.
  virtual void fillFields(const ConnectionSettings& values) = 0;

  // Shows the dialog modally and returns once it has closed. Start-up shows the
  // normal pointer for as long as this runs.
  virtual void showModal() = 0;
};

// Creates the dialog without showing it; its creation gathers the server list, so
// it may take a moment. Defined by the GUI program's dialog unit.
[[nodiscard]] std::unique_ptr<ServerDialog> createServerDialog();

}  // namespace upgrade
