// What the server connection dialog's behaviour needs from a toolkit: a view that
// shows the controls and reports what the operator does. The behaviour
// (PSqlServer) is written once against it; each front end implements it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace upgrade::run {

// The four fields, by their control names.
enum class DialogField {
  RzComboBox1,  // server, an editable list
  RzComboBox2,  // database name
  RzEdit1,      // password, in clear text
  RzEdit2,      // port
};

// The keys the dialog acts on; a view delivers no others.
enum class DialogKey { Enter, F2, Escape };

enum class DialogButton {
  RzBitBtn1,  // Connect
  RzBitBtn2,  // Abandon
};

// What a view delivers, as the operator acts.
class ServerDialogEvents {
 public:
  // The dialog is about to be shown.
  virtual void FormShow() = 0;
  // A key, seen by the form before any control. focus is the field that has the
  // keyboard focus, none when a button has it. True when the key goes no further.
  virtual bool FormKeyDown(std::optional<DialogField> focus, DialogKey key) = 0;
  virtual void ButtonClick(DialogButton button) = 0;

 protected:
  ~ServerDialogEvents() = default;
};

class ServerDialogView {
 public:
  virtual ~ServerDialogView() = default;

  // Texts are UTF-8.
  virtual void setText(DialogField field, std::string_view text) = 0;
  [[nodiscard]] virtual std::string text(DialogField field) const = 0;
  virtual void setFocus(DialogField field) = 0;
  // Replaces the server list; a name is offered, none is picked.
  virtual void setServerList(const std::vector<std::string>& names) = 0;
  // A modal message box with the information icon, owned by the dialog.
  virtual void showMessage(std::string_view title, std::string_view text) = 0;
  // Shows the dialog modally and returns once it is closed: by close(), or by the
  // operator through the window's close box.
  virtual void runModal() = 0;
  virtual void close() = 0;
};

// Makes a front end's view, hidden, delivering to events.
using ServerDialogViewFactory =
    std::function<std::unique_ptr<ServerDialogView>(ServerDialogEvents& events)>;

}  // namespace upgrade::run
