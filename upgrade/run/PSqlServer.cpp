#include "PSqlServer.h"

#include <stdexcept>
#include <string>
#include <utility>

#include "ascii.h"
#include "settings_file.h"

namespace upgrade::run {
namespace {

constexpr std::string_view kErrorTitle = "系统提示";
constexpr std::string_view kConnectError = "服务器连接出错，请重新启动软件重试！";
// The file name whose processes are ended. The two spellings differ only in
// letter case, which the comparison ignores.
constexpr std::string_view kProgramOnFailedConnect = "Update.exe";
constexpr std::string_view kProgramOnAbandon = "update.exe";

// Enter in a field: the field that gets the focus next, or none to connect. Server,
// database name, password, port, then Connect, although the Tab order is server,
// password, port, Connect, Abandon, database name.
struct EnterStep {
  DialogField from;
  std::optional<DialogField> to;
};
constexpr EnterStep kEnterWalk[] = {
    {DialogField::RzComboBox1, DialogField::RzComboBox2},
    {DialogField::RzComboBox2, DialogField::RzEdit1},
    {DialogField::RzEdit1, DialogField::RzEdit2},
    {DialogField::RzEdit2, std::nullopt},
};

// The blanks that are trimmed from the values before they are used: every
// character up to and including the space, at either end.
std::string trimBlanks(std::string_view typed) {
  return std::string(
      text::trimmed(typed, [](char c) { return static_cast<unsigned char>(c) <= ' '; }));
}

}  // namespace

TFSqlServer::TFSqlServer(TForm1& form, const ServerDialogViewFactory& createView, Services services)
    : form_(form), services_(std::move(services)), view_(createView(*this)) {
  if (!view_) {
    throw std::logic_error("the front end made no server dialog view");
  }
  FormCreate();
}

void TFSqlServer::fillFields(const settings::ConnectionSettings& values) {
  view_->setText(DialogField::RzComboBox1, values.server);
  view_->setText(DialogField::RzEdit1, values.password);
  view_->setText(DialogField::RzComboBox2, values.database);
  view_->setText(DialogField::RzEdit2, std::to_string(values.port));
}

void TFSqlServer::showModal() {
  view_->runModal();
}

void TFSqlServer::FormCreate() {
  if (!services_.listServers) {
    view_->setServerList({});
    return;
  }
  std::vector<std::string> names;
  try {
    names = services_.listServers();
  } catch (...) {
    // No list: the operator types the server's name. Nothing is reported.
  }
  view_->setServerList(names);
}

void TFSqlServer::FormShow() {
  try {
    fillFields(settings::readConnectionSettings(form_.settings));
  } catch (...) {
    // The fields keep what start-up put into them.
  }
}

bool TFSqlServer::FormKeyDown(std::optional<DialogField> focus, DialogKey key) {
  switch (key) {
    case DialogKey::F2:
      RzBitBtn1Click();
      return true;
    case DialogKey::Escape:
      form_.control().endRun();
      // The end request closes the modal dialog without connecting.
      view_->close();
      return true;
    case DialogKey::Enter:
      break;
  }
  if (!focus) {
    return false;
  }
  for (const EnterStep& step : kEnterWalk) {
    if (step.from == *focus) {
      if (step.to) {
        view_->setFocus(*step.to);
      } else {
        RzBitBtn1Click();
      }
      return true;
    }
  }
  return false;
}

void TFSqlServer::ButtonClick(DialogButton button) {
  if (button == DialogButton::RzBitBtn1) {
    RzBitBtn1Click();
  } else {
    RzBitBtn2Click();
  }
}

void TFSqlServer::RzBitBtn1Click() {
  RunControl& control = form_.control();
  std::exception_ptr failure;
  bool tried = false;
  bool opened = false;
  try {
    const std::string server = trimBlanks(view_->text(DialogField::RzComboBox1));
    const std::string password = trimBlanks(view_->text(DialogField::RzEdit1));
    const std::string database = trimBlanks(view_->text(DialogField::RzComboBox2));
    form_.ADOCon.close();
    form_.ADOCon.setConnection(password, database, server);
    control.showBusyPointer();
    tried = true;
    form_.ADOCon.open();
    form_.connected = true;
    opened = true;
    ladder::noteConnectAttempt(form_.log(), "dialog", form_.ADOCon.target(), nullptr);
    // Server and database name as typed; the password as it was used.
    settings::SettingsFile& settings = form_.settings;
    settings.writeString(settings::kDatabaseKey.section, settings::kDatabaseKey.key,
                         view_->text(DialogField::RzComboBox2));
    settings.writeString(settings::kServerKey.section, settings::kServerKey.key,
                         view_->text(DialogField::RzComboBox1));
    settings.writeString(settings::kPasswordKey.section, settings::kPasswordKey.key, password);
    // The port as typed is read as the settings file reads it (decimal, "$" or "0x"
    // hexadecimal, leading blanks allowed), so that a port reads the same in both.
    const std::optional<int> port =
        settings::parseProfileInteger(view_->text(DialogField::RzEdit2));
    if (!port) {
      throw std::invalid_argument("the port is not a whole number");
    }
    settings.writeInteger(settings::kPortKey.section, settings::kPortKey.key, *port);
    view_->close();
  } catch (...) {
    failure = std::current_exception();
  }
  control.restorePointer();
  if (!failure) {
    return;
  }
  if (opened) {
    // The connection worked; what failed is keeping it, which the log must say.
    ladder::note(form_.log(), [&] {
      return "dialog: save the settings to System.ini: failed: " + ladder::reasonOf(failure);
    });
  } else if (tried) {
    ladder::noteConnectAttempt(form_.log(), "dialog", form_.ADOCon.target(), failure);
  }
  // Where the program survives the ending below (it runs under another file name),
  // the dialog stays open; a half-finished Connect must not pass for a connection
  // when it is closed some other way.
  form_.ADOCon.close();
  form_.connected = false;
  try {
    view_->showMessage(kErrorTitle, kConnectError);
  } catch (...) {
    // The ending below matters more than the message.
  }
  try {
    services_.killProcesses(kProgramOnFailedConnect);
  } catch (...) {
    // Then the dialog stays for another try.
  }
}

void TFSqlServer::RzBitBtn2Click() {
  form_.control().endRun();
  try {
    services_.killProcesses(kProgramOnAbandon);
  } catch (...) {
    // The end request below still ends the run.
  }
  // Still running: the end request closes the modal dialog, and start-up reports
  // the connection that was never made.
  view_->close();
}

ServerDialogFactory serverDialogFactory(ServerDialogViewFactory createView,
                                        TFSqlServer::Services services) {
  return [createView = std::move(createView), services = std::move(services)](TForm1& form) {
    return std::make_unique<TFSqlServer>(form, createView, services);
  };
}

}  // namespace upgrade::run
