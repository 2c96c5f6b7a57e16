#include "win32_server_dialog_view.h"

#include <stdexcept>
#include <string>

#include "win32_dialog_look.h"
#include "win32_text.h"

namespace upgrade {
namespace {

constexpr wchar_t kFormClass[] = L"TFSqlServer";
constexpr int kClientWidth = 348;
constexpr int kClientHeight = 242;
constexpr int kFieldHeight = 20;

enum ControlId : int {
  kIdComboBox1 = 1001,
  kIdComboBox2,
  kIdEdit1,
  kIdEdit2,
  kIdBitBtn1,
  kIdBitBtn2,
};

HINSTANCE instance() {
  return GetModuleHandleW(nullptr);
}

void registerFormClass(WNDPROC formProc) {
  static const bool registered = [formProc] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = formProc;
    windowClass.hInstance = instance();
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kFormClass;
    return RegisterClassExW(&windowClass) != 0;
  }();
  if (!registered) {
    throw std::runtime_error("the server dialog's window class could not be registered");
  }
}

std::optional<DialogKey> dialogKey(WPARAM key) {
  switch (key) {
    case VK_RETURN:  // the keypad's too
      return DialogKey::Enter;
    case VK_F2:
      return DialogKey::F2;
    case VK_ESCAPE:
      return DialogKey::Escape;
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

Win32ServerDialogView::Win32ServerDialogView(ServerDialogEvents& events,
                                             const Win32RunControl& control)
    : events_(events), control_(control) {
  registerFormClass(&formProc);
  formFont_ = songTi(12, FW_NORMAL);
  boldFont_ = songTi(14, FW_BOLD);
  // A fixed-size window with only the close box among its title-bar buttons.
  constexpr DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS;
  constexpr DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  FSqlServer = CreateWindowExW(exStyle, kFormClass, L"服务器连接参数配置", style, CW_USEDEFAULT,
                               CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                               nullptr, nullptr, instance(), this);
  if (FSqlServer == nullptr) {
    DeleteObject(formFont_);
    DeleteObject(boldFont_);
    throw std::runtime_error("the server dialog's window could not be created, error " +
                             std::to_string(GetLastError()));
  }
  loadBackground();
  createControls();
}

Win32ServerDialogView::~Win32ServerDialogView() {
  DestroyWindow(FSqlServer);
  DeleteObject(formFont_);
  DeleteObject(boldFont_);
  if (backgroundBrush_ != nullptr) {
    DeleteObject(backgroundBrush_);
  }
  if (background_ != nullptr) {
    DeleteObject(background_);
  }
}

void Win32ServerDialogView::loadBackground() {
  background_ = decodeDialogBackground(kClientWidth, kClientHeight);
  if (background_ == nullptr) {
    OutputDebugStringW(L"Update: the background picture of the server dialog could not be decoded");
    return;
  }
  // The labels fill their background with this brush, aligned to where they sit,
  // so the picture shows through them.
  backgroundBrush_ = CreatePatternBrush(background_);
}

void Win32ServerDialogView::createControls() {
  const auto make = [this](DWORD exStyle, const wchar_t* windowClass, const wchar_t* text,
                           DWORD style, RECT place, int id, HFONT font) {
    HWND control =
        CreateWindowExW(exStyle, windowClass, text, WS_CHILD | WS_VISIBLE | style, place.left,
                        place.top, place.right, place.bottom, FSqlServer,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance(), nullptr);
    if (control == nullptr) {
      throw std::runtime_error("a control of the server dialog could not be created");
    }
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
  };
  constexpr DWORD label = SS_LEFTNOWORDWRAP | SS_CENTERIMAGE | SS_NOPREFIX;
  Label1 = make(0, L"STATIC", L"服务器名称 / IP：", label, {34, 35, 130, 14}, -1, boldFont_);
  Label4 = make(0, L"STATIC", L"服务器数据库名称：", label, {34, 67, 135, 14}, -1, boldFont_);
  Label2 = make(0, L"STATIC", L"服务器数据库密码：", label, {34, 101, 135, 14}, -1, boldFont_);
  Label3 = make(0, L"STATIC", L"服务器数据库端口：", label, {34, 133, 135, 14}, -1, boldFont_);
  RzLabel1 = make(0, L"STATIC", L"提示[数据库密码一般为空，数据库端口一般80]", label,
                  {37, 158, 252, 12}, -1, formFont_);

  // Created in the Tab order, which the dialog manager follows: server, password,
  // port, Connect, Abandon, database name (Enter walks in another order).
  const auto makeCombo = [&make](RECT place, int id, HFONT font) {
    // The height given is the list's when dropped down; the field's own height
    // follows from its item height, set below. A combo box is never lower than its
    // font's line: SimSun's 12-pixel line fits, fonts with more leading may not.
    HWND combo = make(0, L"COMBOBOX", L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL,
                      {place.left, place.top, place.right, 200}, id, font);
    RECT now{};
    GetWindowRect(combo, &now);
    const LRESULT item = SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
    SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1),
                 item + (place.bottom - (now.bottom - now.top)));
    return combo;
  };
  constexpr DWORD edit = WS_TABSTOP | ES_AUTOHSCROLL;
  constexpr DWORD button = WS_TABSTOP | BS_OWNERDRAW;
  RzComboBox1 = makeCombo({163, 32, 145, kFieldHeight}, kIdComboBox1, formFont_);
  // The password is shown in clear text.
  RzEdit1 =
      make(WS_EX_CLIENTEDGE, L"EDIT", L"", edit, {163, 96, 145, kFieldHeight}, kIdEdit1, formFont_);
  RzEdit2 = make(WS_EX_CLIENTEDGE, L"EDIT", L"80", edit, {163, 133, 145, kFieldHeight}, kIdEdit2,
                 formFont_);
  RzBitBtn1 = make(0, L"BUTTON", L"连接[F2]", button, {57, 183, 93, 31}, kIdBitBtn1, boldFont_);
  RzBitBtn2 = make(0, L"BUTTON", L"放弃[Esc]", button, {190, 183, 93, 31}, kIdBitBtn2, boldFont_);
  RzComboBox2 = makeCombo({163, 64, 145, kFieldHeight}, kIdComboBox2, formFont_);

  // The buttons light up under the mouse: they tell the form when it comes and goes.
  for (HWND b : {RzBitBtn1, RzBitBtn2}) {
    SetWindowLongPtrW(b, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    standardButtonProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(b, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&buttonProc)));
  }
}

void Win32ServerDialogView::setText(DialogField field, std::string_view text) {
  SetWindowTextW(controlOf(field), toWide(text).c_str());
}

std::string Win32ServerDialogView::text(DialogField field) const {
  HWND control = controlOf(field);
  std::wstring wide(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  wide.resize(static_cast<std::size_t>(
      GetWindowTextW(control, wide.data(), static_cast<int>(wide.size()))));
  return fromWide(wide);
}

void Win32ServerDialogView::setFocus(DialogField field) {
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
  setFocus(DialogField::RzComboBox1);

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

std::optional<DialogField> Win32ServerDialogView::fieldOf(HWND window) const {
  for (const DialogField field : {DialogField::RzComboBox1, DialogField::RzComboBox2,
                                  DialogField::RzEdit1, DialogField::RzEdit2}) {
    HWND control = controlOf(field);
    if (window == control || IsChild(control, window) != 0) {
      return field;
    }
  }
  return std::nullopt;
}

HWND Win32ServerDialogView::controlOf(DialogField field) const {
  switch (field) {
    case DialogField::RzComboBox1:
      return RzComboBox1;
    case DialogField::RzComboBox2:
      return RzComboBox2;
    case DialogField::RzEdit1:
      return RzEdit1;
    case DialogField::RzEdit2:
      return RzEdit2;
  }
  return nullptr;
}

bool Win32ServerDialogView::preTranslateKey(const MSG& msg) {
  // Keys of this window only; message boxes are windows of their own.
  if (msg.hwnd != FSqlServer && IsChild(FSqlServer, msg.hwnd) == 0) {
    return false;
  }
  const std::optional<DialogKey> key = dialogKey(msg.wParam);
  if (!key) {
    return false;
  }
  const std::optional<DialogField> field = fieldOf(msg.hwnd);
  // An open drop-down list takes Enter and Esc itself, to pick or to fold up.
  if (field && *key != DialogKey::F2) {
    HWND control = controlOf(*field);
    if (isComboBox(control) && SendMessageW(control, CB_GETDROPPEDSTATE, 0, 0) != 0) {
      return false;
    }
  }
  if (events_.FormKeyDown(field, *key)) {
    return true;
  }
  // Enter on a focused button presses it, as in any dialog.
  if (*key == DialogKey::Enter && (msg.hwnd == RzBitBtn1 || msg.hwnd == RzBitBtn2)) {
    events_.ButtonClick(msg.hwnd == RzBitBtn1 ? DialogButton::RzBitBtn1 : DialogButton::RzBitBtn2);
    return true;
  }
  return false;
}

LRESULT CALLBACK Win32ServerDialogView::formProc(HWND window, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
  if (message == WM_NCCREATE) {
    // The view comes with the creation, and stays with the window.
    auto* view = static_cast<Win32ServerDialogView*>(
        reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
    view->FSqlServer = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
  }
  auto* view = reinterpret_cast<Win32ServerDialogView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (view == nullptr) {
    return DefWindowProcW(window, message, wParam, lParam);
  }
  return view->handle(message, wParam, lParam);
}

LRESULT CALLBACK Win32ServerDialogView::buttonProc(HWND window, UINT message, WPARAM wParam,
                                                   LPARAM lParam) {
  auto* view = reinterpret_cast<Win32ServerDialogView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_MOUSEMOVE && view->hotButton_ != window) {
    view->hotButton_ = window;
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window, 0};
    TrackMouseEvent(&track);
    InvalidateRect(window, nullptr, FALSE);
  } else if (message == WM_MOUSELEAVE && view->hotButton_ == window) {
    view->hotButton_ = nullptr;
    InvalidateRect(window, nullptr, FALSE);
  }
  return CallWindowProcW(view->standardButtonProc_, window, message, wParam, lParam);
}

LRESULT Win32ServerDialogView::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      paintDialogBackground(reinterpret_cast<HDC>(wParam), FSqlServer, backgroundBrush_);
      return 1;
    case WM_CTLCOLORSTATIC: {
      auto* label = reinterpret_cast<HWND>(lParam);
      return reinterpret_cast<LRESULT>(prepareLabel(
          reinterpret_cast<HDC>(wParam), label, label == RzLabel1, FSqlServer, backgroundBrush_));
    }
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      drawDialogButton(item, item.hwndItem == hotButton_, FSqlServer, backgroundBrush_, boldFont_);
      return TRUE;
    }
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == kIdBitBtn1) {
          events_.ButtonClick(DialogButton::RzBitBtn1);
        } else if (LOWORD(wParam) == kIdBitBtn2) {
          events_.ButtonClick(DialogButton::RzBitBtn2);
        }
      }
      return 0;
    case WM_SETCURSOR:
      // The run's wait cursor wins over the controls' own while a Connect runs.
      if (control_.isBusy()) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_ACTIVATE:
      // A plain window forgets its focused control when another window (a message
      // box) is activated; the dialog gives it back.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(FSqlServer, focus) != 0) {
          lastFocus_ = focus;
        }
      } else if (lastFocus_ != nullptr && IsWindow(lastFocus_) != 0) {
        SetFocus(lastFocus_);
        return 0;
      }
      break;
    case WM_CLOSE:
      // The close box: the dialog closes without connecting.
      close();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(FSqlServer, message, wParam, lParam);
}

}  // namespace upgrade
