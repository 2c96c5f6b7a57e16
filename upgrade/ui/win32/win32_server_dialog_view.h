// The server connection dialog on plain Win32: its look and layout, its own modal
// loop, and the translation of keys and clicks into the dialog's events. What the
// dialog does is the toolkit-free TFSqlServer.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "server_dialog_look.h"
#include "server_dialog_view.h"
#include "win32_handles.h"
#include "win32_run_control.h"

namespace upgrade::ui::win32 {

class Win32ServerDialogView final : public run::ServerDialogView {
 public:
  Win32ServerDialogView(run::ServerDialogEvents& events, const Win32RunControl& control);
  ~Win32ServerDialogView() override;
  Win32ServerDialogView(const Win32ServerDialogView&) = delete;
  Win32ServerDialogView& operator=(const Win32ServerDialogView&) = delete;

  void setText(run::DialogField field, std::string_view text) override;
  [[nodiscard]] std::string text(run::DialogField field) const override;
  // Keyboard focus selects the field's text, so typing replaces it.
  void setFocus(run::DialogField field) override;
  void setServerList(const std::vector<std::string>& names) override;
  void showMessage(std::string_view title, std::string_view text) override;
  void runModal() override;
  void close() override;

  // The field a window belongs to (a combo box's edit stands for the combo box).
  [[nodiscard]] std::optional<run::DialogField> fieldOf(HWND window) const;
  [[nodiscard]] HWND controlOf(run::DialogField field) const;
  // A control's window; none for the picture and the labels, which the form paints.
  [[nodiscard]] HWND windowOf(run::DialogControl control) const;
  // The background as drawn: the JPEG stretched over the client area, or null when
  // Windows could not decode it.
  [[nodiscard]] HBITMAP background() const noexcept { return background_.get(); }
  [[nodiscard]] bool isOpen() const noexcept { return open_; }

  // The form and its controls. The background picture and the labels are painted
  // by the form itself, beneath its controls, so they have no windows of their own.
  HWND FSqlServer = nullptr;
  HWND RzComboBox1 = nullptr;
  HWND RzComboBox2 = nullptr;
  HWND RzEdit1 = nullptr;
  HWND RzEdit2 = nullptr;
  HWND RzBitBtn1 = nullptr;
  HWND RzBitBtn2 = nullptr;

 private:
  static LRESULT CALLBACK formProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  void createControls();
  void loadBackground();
  void paintLabels();
  // The font made for a row of the look.
  [[nodiscard]] HFONT font(run::DialogFont look) const noexcept;
  // Hands a key of the form to the dialog before the dialog manager sees it; true
  // when it went no further.
  bool preTranslateKey(const MSG& msg);

  run::ServerDialogEvents& events_;
  const Win32RunControl& control_;
  std::vector<std::pair<run::DialogFont, OwnedFont>> fonts_;
  OwnedBitmap background_;
  OwnedBrush backgroundBrush_;
  HWND lastFocus_ = nullptr;
  bool open_ = false;
  // Last, so that it goes first: the controls go with it, before the fonts and
  // the picture they are drawn with.
  OwnedWindow form_;
};

}  // namespace upgrade::ui::win32
