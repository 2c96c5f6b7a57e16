// The Win32 view at work: its fields, its own modal loop, and the keys it hands to
// the dialog before the dialog manager sees them.
#include <windows.h>

#include "win32_server_dialog_view.h"
#include "win32_text.h"

namespace upgrade::ui::win32 {
namespace {

std::optional<run::DialogKey> dialogKey(WPARAM key) {
  switch (key) {
    case VK_RETURN:  // the keypad's too
      return run::DialogKey::Enter;
    case VK_F2:
      return run::DialogKey::F2;
    case VK_ESCAPE:
      return run::DialogKey::Escape;
    default:
      return std::nullopt;
  }
}

bool isComboBox(HWND window) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  return _wcsicmp(name, L"ComboBox") == 0;
}

void selectAll(HWND control) {
  if (isComboBox(control)) {
    SendMessageW(control, CB_SETEDITSEL, 0, MAKELPARAM(0, -1));
  } else {
    SendMessageW(control, EM_SETSEL, 0, -1);
  }
}

}  // namespace

void Win32ServerDialogView::setText(run::DialogField field, std::string_view text) {
  SetWindowTextW(controlOf(field), toWide(text).c_str());
}

std::string Win32ServerDialogView::text(run::DialogField field) const {
  HWND control = controlOf(field);
  std::wstring wide(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  wide.resize(static_cast<std::size_t>(
      GetWindowTextW(control, wide.data(), static_cast<int>(wide.size()))));
  return fromWide(wide);
}

void Win32ServerDialogView::setFocus(run::DialogField field) {
  HWND control = controlOf(field);
  SetFocus(control);
  selectAll(control);
}

void Win32ServerDialogView::setServerList(const std::vector<std::string>& names) {
  // Emptying the list empties the field too: listing offers names, it picks none.
  SendMessageW(RzComboBox1, CB_RESETCONTENT, 0, 0);
  for (const std::string& name : names) {
    const std::wstring wide = toWide(name);
    SendMessageW(RzComboBox1, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  }
}

void Win32ServerDialogView::showMessage(std::string_view title, std::string_view text) {
  MessageBoxW(FSqlServer, toWide(text).c_str(), toWide(title).c_str(), MB_OK | MB_ICONINFORMATION);
}

void Win32ServerDialogView::runModal() {
  events_.FormShow();
  // Centred on the desktop's work area.
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  RECT frame{};
  GetWindowRect(FSqlServer, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  SetWindowPos(FSqlServer, HWND_TOP, work.left + (work.right - work.left - width) / 2,
               work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE);
  open_ = true;
  ShowWindow(FSqlServer, SW_SHOW);
  SetForegroundWindow(FSqlServer);
  setFocus(run::DialogField::RzComboBox1);

  MSG msg;
  while (open_) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      // The program's end, meant for its own loop.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (got < 0) {
      break;
    }
    if (msg.message == WM_KEYDOWN && preTranslateKey(msg)) {
      continue;
    }
    if (IsDialogMessageW(FSqlServer, &msg) != 0) {
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  close();
}

void Win32ServerDialogView::close() {
  open_ = false;
  ShowWindow(FSqlServer, SW_HIDE);
  // Wakes the modal loop should it be waiting.
  PostMessageW(FSqlServer, WM_NULL, 0, 0);
}

std::optional<run::DialogField> Win32ServerDialogView::fieldOf(HWND window) const {
  for (const run::DialogField field : {run::DialogField::RzComboBox1, run::DialogField::RzComboBox2,
                                       run::DialogField::RzEdit1, run::DialogField::RzEdit2}) {
    HWND control = controlOf(field);
    if (window == control || IsChild(control, window) != 0) {
      return field;
    }
  }
  return std::nullopt;
}

HWND Win32ServerDialogView::controlOf(run::DialogField field) const {
  switch (field) {
    case run::DialogField::RzComboBox1:
      return RzComboBox1;
    case run::DialogField::RzComboBox2:
      return RzComboBox2;
    case run::DialogField::RzEdit1:
      return RzEdit1;
    case run::DialogField::RzEdit2:
      return RzEdit2;
  }
  return nullptr;
}

bool Win32ServerDialogView::preTranslateKey(const MSG& msg) {
  // Keys of this window only; message boxes are windows of their own.
  if (msg.hwnd != FSqlServer && IsChild(FSqlServer, msg.hwnd) == 0) {
    return false;
  }
  const std::optional<run::DialogKey> key = dialogKey(msg.wParam);
  if (!key) {
    return false;
  }
  const std::optional<run::DialogField> field = fieldOf(msg.hwnd);
  // An open drop-down list takes Enter and Esc itself, to pick or to fold up.
  if (field && *key != run::DialogKey::F2) {
    HWND control = controlOf(*field);
    if (isComboBox(control) && SendMessageW(control, CB_GETDROPPEDSTATE, 0, 0) != 0) {
      return false;
    }
  }
  if (events_.FormKeyDown(field, *key)) {
    return true;
  }
  // Enter on a focused button presses it, as in any dialog.
  if (*key == run::DialogKey::Enter && (msg.hwnd == RzBitBtn1 || msg.hwnd == RzBitBtn2)) {
    events_.ButtonClick(msg.hwnd == RzBitBtn1 ? run::DialogButton::RzBitBtn1
                                              : run::DialogButton::RzBitBtn2);
    return true;
  }
  return false;
}

}  // namespace upgrade::ui::win32
