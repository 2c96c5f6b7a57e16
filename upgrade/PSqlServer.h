// The server connection dialog: the operator corrects server, database name,
// password and port when the stored settings do not open the database. Connect
// tries them on the main form's connection (through Form1) and stores them; a
// failed Connect and Abandon end the program by terminating every process that
// runs under its file name.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "connection_settings.h"
#include "server_dialog.h"

class QComboBox;
class QEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;

class TFSqlServer : public QDialog {
  Q_OBJECT

 public:
  // What the dialog reaches beyond the main form: the server listing, the ending of
  // processes and its message box.
  struct Services {
    // The names for the server list, gathered at creation; may throw. Left empty,
    // no list is gathered.
    std::function<std::vector<std::string>()> listServers;
    std::function<void(std::string_view name)> killProcesses;
    // A modal message box with the information icon, owned by owner.
    std::function<void(QWidget* owner, const QString& title, const QString& text)> showMessage;
  };
  // The SQL Server listing, KillProcessesByName and a QMessageBox.
  [[nodiscard]] static Services productionServices();

  explicit TFSqlServer(Services services, QWidget* parent = nullptr);
  ~TFSqlServer() override;
  TFSqlServer(const TFSqlServer&) = delete;
  TFSqlServer& operator=(const TFSqlServer&) = delete;

  // server -> RzComboBox1, password -> RzEdit1, database name -> RzComboBox2, port
  // as decimal text -> RzEdit2.
  void fillFields(const upgrade::ConnectionSettings& values);

  // Fills the server list.
  void FormCreate();
  // Fills the fields again from the settings file and centres the window.
  void FormShow();
  // Seen before the controls see the key: F2 connects, Esc asks for the end of the
  // program and closes the dialog. True when the key went no further.
  bool FormKeyDown(int key);
  // Enter walks server, database name, password, port, then connects.
  bool RzComboBox1KeyDown(int key);
  bool RzComboBox2KeyDown(int key);
  bool RzEdit1KeyDown(int key);
  bool RzEdit2KeyDown(int key);
  // Connect.
  void RzBitBtn1Click();
  // Abandon.
  void RzBitBtn2Click();

  QLabel* Image27;
  QLabel* Label1;
  QLabel* Label4;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* RzLabel1;
  QComboBox* RzComboBox1;
  QComboBox* RzComboBox2;
  QLineEdit* RzEdit1;
  QLineEdit* RzEdit2;
  QPushButton* RzBitBtn1;
  QPushButton* RzBitBtn2;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void requestEnd();

  Services services_;
};

namespace upgrade {

// The dialog as start-up drives it, with the given services.
[[nodiscard]] std::unique_ptr<ServerDialog> makeServerDialog(TFSqlServer::Services services);

// The blanks that are trimmed from the values before they are used: every
// character up to and including the space, at either end.
[[nodiscard]] QString trimBlanks(const QString& text);

// The port as typed, read as a whole number: decimal, or hexadecimal after "$" or
// "0x"; leading spaces are allowed. nullopt for anything else.
[[nodiscard]] std::optional<int> portFromText(const QString& text);

}  // namespace upgrade
