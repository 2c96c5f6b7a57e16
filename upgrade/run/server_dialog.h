// The server connection dialog as start-up drives it: create it (hidden), put the
// stored settings into its fields, show it modally, destroy it. The dialog reports
// success only through the main form: ADOCon open and the connected flag set.
#pragma once

#include "connection_settings.h"

namespace upgrade::run {

class ServerDialog {
 public:
  virtual ~ServerDialog() = default;

  // server -> RzComboBox1, password -> RzEdit1, database name -> RzComboBox2,
  // port as decimal text -> RzEdit2.
  virtual void fillFields(const settings::ConnectionSettings& values) = 0;

  // Shows the dialog modally and returns once it has closed. Start-up shows the
  // normal pointer for as long as this runs.
  virtual void showModal() = 0;
};

}  // namespace upgrade::run
