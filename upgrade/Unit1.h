// The main form of Update. It is never shown: its creation performs the whole run
// (settings, connection, the server connection dialog when needed, the upgrade
// ladder) and ends with a message box and the request to end the program.
#pragma once

#include <QWidget>
#include <filesystem>

#include "startup.h"

class TForm1 : public QWidget, public upgrade::UpgradeRun {
 public:
  enum class Creation {
    RunStartUp,  // as the program does: FormCreate runs inside the constructor
    StateOnly,   // only the objects, for code that needs a main form to work on
  };

  TForm1(upgrade::Database& database, std::filesystem::path settingsPath, upgrade::StartupUi& ui,
         Creation creation = Creation::RunStartUp, QWidget* parent = nullptr);
  ~TForm1() override;

  // The creation handler: the whole run.
  void FormCreate();
};

// The main form, set before its creation handler runs, so that the server
// connection dialog reaches its connection, flag and settings while start-up waits
// on it.
extern TForm1* Form1;

// System.ini beside the program's own executable file; the working directory plays
// no part.
[[nodiscard]] std::filesystem::path programSettingsPath();
