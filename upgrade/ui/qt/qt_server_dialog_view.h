// The server connection dialog on Qt Widgets: its look and layout, and the
// translation of Qt's keys and clicks into the dialog's events. What the dialog does
// is the toolkit-free TFSqlServer.
#pragma once

#include <QDialog>

#include "server_dialog_look.h"
#include "server_dialog_view.h"

class QComboBox;
class QEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;

namespace upgrade::ui::qt {

class QtServerDialogView final : public QDialog, public run::ServerDialogView {
  Q_OBJECT

 public:
  explicit QtServerDialogView(run::ServerDialogEvents& events, QWidget* parent = nullptr);
  ~QtServerDialogView() override;
  QtServerDialogView(const QtServerDialogView&) = delete;
  QtServerDialogView& operator=(const QtServerDialogView&) = delete;

  void setText(run::DialogField field, std::string_view text) override;
  [[nodiscard]] std::string text(run::DialogField field) const override;
  void setFocus(run::DialogField field) override;
  void setServerList(const std::vector<std::string>& names) override;
  void showMessage(std::string_view title, std::string_view text) override;
  void runModal() override;
  void close() override;

  // The field a widget belongs to (an editable combo box stands for its line edit).
  [[nodiscard]] std::optional<run::DialogField> fieldOf(const QWidget* widget) const;

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
  // A control as the look gives it.
  template <typename Control>
  Control* make(run::DialogControl which);

  run::ServerDialogEvents& events_;
};

}  // namespace upgrade::ui::qt
