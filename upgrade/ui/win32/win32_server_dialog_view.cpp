#include "win32_server_dialog_view.h"

// windows.h comes first (through the header).
#include <commctrl.h>

#include <stdexcept>
#include <string>

#include "win32_dialog_look.h"
#include "win32_text.h"

namespace upgrade::ui::win32 {
namespace {

constexpr wchar_t kFormClass[] = L"TFSqlServer";

// A control's id is its row in the look.
constexpr int kFirstId = 1000;

int idOf(run::DialogControl control) {
  return kFirstId + static_cast<int>(control);
}

run::DialogControl controlWithId(UINT id) {
  return static_cast<run::DialogControl>(static_cast<int>(id) - kFirstId);
}

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

// The buttons light up under the mouse. Whether one is lit is kept in its own user
// data, where the form finds it when drawing the button.
LRESULT CALLBACK buttonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                            DWORD_PTR /*unused*/) {
  const bool hot = GetWindowLongPtrW(button, GWLP_USERDATA) != 0;
  if (message == WM_MOUSEMOVE && !hot) {
    SetWindowLongPtrW(button, GWLP_USERDATA, 1);
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, button, 0};
    TrackMouseEvent(&track);
    InvalidateRect(button, nullptr, FALSE);
  } else if (message == WM_MOUSELEAVE && hot) {
    SetWindowLongPtrW(button, GWLP_USERDATA, 0);
    InvalidateRect(button, nullptr, FALSE);
  } else if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(button, &buttonProc, id);
  }
  return DefSubclassProc(button, message, wParam, lParam);
}

}  // namespace

Win32ServerDialogView::Win32ServerDialogView(run::ServerDialogEvents& events,
                                             const Win32RunControl& control)
    : events_(events), control_(control) {
  registerFormClass(&formProc);
  for (const run::DialogControlLook& look : run::kServerDialogControls) {
    if (font(look.font) == nullptr) {
      fonts_.emplace_back(look.font, songTi(look.font));
    }
  }
  // A fixed-size window with only the close box among its title-bar buttons. The
  // form paints the picture and the labels beneath its controls, never over them.
  constexpr DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
  constexpr DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  const run::DialogFormLook& look = run::kServerDialogForm;
  RECT frame{0, 0, look.clientWidth, look.clientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  // Its procedure learns FSqlServer with the first message.
  form_.reset(CreateWindowExW(exStyle, kFormClass, toWide(look.caption).c_str(), style,
                              CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                              frame.bottom - frame.top, nullptr, nullptr, instance(), this));
  if (!form_) {
    throw std::runtime_error("the server dialog's window could not be created, error " +
                             std::to_string(GetLastError()));
  }
  loadBackground();
  createControls();
}

Win32ServerDialogView::~Win32ServerDialogView() = default;

HFONT Win32ServerDialogView::font(run::DialogFont look) const noexcept {
  for (const auto& [made, font] : fonts_) {
    if (made == look) {
      return font.get();
    }
  }
  return nullptr;
}

void Win32ServerDialogView::loadBackground() {
  const run::DialogRect& picture = run::lookOf(run::DialogControl::Image27).place;
  background_ = decodeDialogBackground(picture.width, picture.height);
  if (!background_) {
    OutputDebugStringW(L"Update: the background picture of the server dialog could not be decoded");
    return;
  }
  // The buttons fill their corners with this brush, aligned to where they sit, so
  // the picture shows through them.
  backgroundBrush_.reset(CreatePatternBrush(background_.get()));
}

void Win32ServerDialogView::createControls() {
  // Made in the Tab order, which the dialog manager follows.
  for (const run::DialogControl control : run::dialogTabOrder()) {
    const run::DialogControlLook& look = run::lookOf(control);
    const wchar_t* windowClass = L"BUTTON";
    DWORD exStyle = 0;
    DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
    int height = look.place.height;
    switch (look.kind) {
      case run::DialogControlKind::ComboBox:
        windowClass = L"COMBOBOX";
        style |= WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL;
        // The height given is the list's when dropped down; the field's own
        // height is set below.
        height = 200;
        break;
      case run::DialogControlKind::Edit:
        windowClass = L"EDIT";
        exStyle = WS_EX_CLIENTEDGE;
        style |= ES_AUTOHSCROLL;
        break;
      case run::DialogControlKind::Button:
        style |= BS_OWNERDRAW;
        break;
      default:
        throw std::logic_error("the server dialog has a tab stop it cannot make");
    }
    HWND window = CreateWindowExW(
        exStyle, windowClass, toWide(look.caption).c_str(), style, look.place.left, look.place.top,
        look.place.width, height, FSqlServer,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(idOf(control))), instance(), nullptr);
    if (window == nullptr) {
      throw std::runtime_error("the server dialog's control " + std::string(look.name) +
                               " could not be created");
    }
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font(look.font)), FALSE);
    if (look.kind == run::DialogControlKind::ComboBox) {
      // A combo box sets its field's height from its item height, and is never
      // lower than its font's line and borders: SimSun's 12-pixel line fits the
      // look's 20 pixels, the CJK face that stands in for it under Wine does not,
      // and the field is 22 pixels high there. The one place the look gives way.
      RECT now{};
      GetWindowRect(window, &now);
      const LRESULT item = SendMessageW(window, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
      SendMessageW(window, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1),
                   item + (look.place.height - (now.bottom - now.top)));
    } else if (look.kind == run::DialogControlKind::Button) {
      SetWindowSubclass(window, &buttonProc, 0, 0);
    }
  }
  RzComboBox1 = windowOf(run::DialogControl::RzComboBox1);
  RzComboBox2 = windowOf(run::DialogControl::RzComboBox2);
  RzEdit1 = windowOf(run::DialogControl::RzEdit1);
  RzEdit2 = windowOf(run::DialogControl::RzEdit2);
  RzBitBtn1 = windowOf(run::DialogControl::RzBitBtn1);
  RzBitBtn2 = windowOf(run::DialogControl::RzBitBtn2);
}

HWND Win32ServerDialogView::windowOf(run::DialogControl control) const {
  return GetDlgItem(FSqlServer, idOf(control));
}

void Win32ServerDialogView::paintLabels() {
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(FSqlServer, &paint);
  for (const run::DialogControlLook& look : run::kServerDialogControls) {
    if (look.kind == run::DialogControlKind::Label) {
      drawDialogLabel(dc, look, font(look.font));
    }
  }
  EndPaint(FSqlServer, &paint);
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

LRESULT Win32ServerDialogView::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      paintDialogBackground(reinterpret_cast<HDC>(wParam), FSqlServer, backgroundBrush_.get());
      return 1;
    case WM_PAINT:
      paintLabels();
      return 0;
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      const bool hot = GetWindowLongPtrW(item.hwndItem, GWLP_USERDATA) != 0;
      drawDialogButton(item, hot, FSqlServer, backgroundBrush_.get(),
                       font(run::lookOf(controlWithId(item.CtlID)).font));
      return TRUE;
    }
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == idOf(run::DialogControl::RzBitBtn1)) {
          events_.ButtonClick(run::DialogButton::RzBitBtn1);
        } else if (LOWORD(wParam) == idOf(run::DialogControl::RzBitBtn2)) {
          events_.ButtonClick(run::DialogButton::RzBitBtn2);
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

}  // namespace upgrade::ui::win32
