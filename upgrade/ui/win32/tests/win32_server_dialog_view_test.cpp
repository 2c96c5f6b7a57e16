// The Win32 view of the server connection dialog, under Wine without a display:
// its look and layout, its Tab order, and how keys, clicks and the close box reach
// the dialog's events through its own modal loop. What the dialog does with them is
// tested without any toolkit, in run/tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "server_dialog_look.h"
#include "win32_dialog_look.h"
#include "win32_front_end.h"
#include "win32_server_dialog_view.h"
#include "win32_text.h"

namespace upgrade::ui::win32 {
namespace {

using KeySeen = std::pair<std::optional<run::DialogField>, run::DialogKey>;

// Records what the view delivers. Claims the keys of a field, as the dialog does
// with Enter; closes the view once it has seen closeAfter keys and clicks.
class RecordingEvents final : public run::ServerDialogEvents {
 public:
  void FormShow() override { seen.emplace_back("show"); }
  bool FormKeyDown(std::optional<run::DialogField> focus, run::DialogKey key) override {
    keys.emplace_back(focus, key);
    closeWhenDone();
    return focus.has_value();
  }
  void ButtonClick(run::DialogButton button) override {
    seen.emplace_back(button == run::DialogButton::RzBitBtn1 ? "connect" : "abandon");
    closeWhenDone();
  }

  std::vector<std::string> seen;
  std::vector<KeySeen> keys;
  run::ServerDialogView* view = nullptr;
  std::size_t closeAfter = 0;

 private:
  void closeWhenDone() {
    if (--closeAfter == 0) {
      view->close();
    }
  }
};

class Win32ServerDialogViewTest : public ::testing::Test {
 protected:
  Win32ServerDialogViewTest() { events_.view = &d; }

  static RECT placeInForm(HWND control) {
    RECT place{};
    GetWindowRect(control, &place);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&place), 2);
    return {place.left, place.top, place.right - place.left, place.bottom - place.top};
  }

  static RECT rectOf(const run::DialogRect& place) {
    return {place.left, place.top, place.right(), place.bottom()};
  }

  // Shows the dialog, without taking the focus, and lets it paint.
  void showPainted() {
    ShowWindow(d.FSqlServer, SW_SHOWNA);
    UpdateWindow(d.FSqlServer);
  }

  // What the form painted of a label differs from the picture only within the
  // label's rectangle, begins at its left edge and has the label's colour.
  void expectPaintedByTheForm(const run::DialogControlLook& label) {
    const RECT place = rectOf(label.place);
    HDC screen = GetDC(d.FSqlServer);
    const OwnedMemoryDc picture(CreateCompatibleDC(nullptr));
    const Selection background(picture.get(), d.background());
    LONG firstInk = LONG_MAX;
    int inkOutside = 0;
    int inkColoured = 0;
    const COLORREF colour = colorRef(*label.colour);
    for (LONG y = place.top - 3; y < place.bottom + 3; ++y) {
      for (LONG x = place.left - 3; x < place.right + 3; ++x) {
        const POINT at{x, y};
        if (ChildWindowFromPoint(d.FSqlServer, at) != d.FSqlServer) {
          continue;  // a field's
        }
        const COLORREF shown = GetPixel(screen, x, y);
        if (shown == GetPixel(picture.get(), x, y)) {
          continue;
        }
        if (PtInRect(&place, at) == 0) {
          ++inkOutside;
          continue;
        }
        firstInk = std::min(firstInk, x);
        const int distance = std::abs(GetRValue(shown) - GetRValue(colour)) +
                             std::abs(GetGValue(shown) - GetGValue(colour)) +
                             std::abs(GetBValue(shown) - GetBValue(colour));
        inkColoured += distance < 96 ? 1 : 0;
      }
    }
    ReleaseDC(d.FSqlServer, screen);
    EXPECT_EQ(inkOutside, 0);
    EXPECT_LE(firstInk - place.left, 2) << "left-aligned";
    EXPECT_GT(inkColoured, 20) << "in its colour";
  }

  static LOGFONTW fontOf(HWND control) {
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font,
               &font);
    return font;
  }

  // A combo box is never lower than its font's line and borders: SimSun's 12-pixel
  // line (12) fits 20 pixels, the CJK font that stands in for it under Wine (16) not.
  static LONG designedHeight(HWND control, LONG height) {
    wchar_t name[16] = {};
    GetClassNameW(control, name, 16);
    if (_wcsicmp(name, L"ComboBox") != 0) {
      return height;
    }
    HDC dc = GetDC(control);
    const HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return std::max(height, metrics.tmHeight + 6);
  }

  static void postKey(HWND window, WPARAM key) { PostMessageW(window, WM_KEYDOWN, key, 0); }

  // The button as the form draws it, into a bitmap of its own; the colour at a
  // point of its face where the caption does not reach.
  COLORREF buttonFace(HWND button, UINT state) {
    RECT client{};
    GetClientRect(button, &client);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
    const HGDIOBJ old = SelectObject(dc, bitmap);
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.CtlID = static_cast<UINT>(GetDlgCtrlID(button));
    item.itemAction = ODA_DRAWENTIRE;
    item.itemState = state;
    item.hwndItem = button;
    item.hDC = dc;
    item.rcItem = client;
    SendMessageW(d.FSqlServer, WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item));
    const COLORREF colour = GetPixel(dc, 6, 4);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return colour;
  }

  Win32FrontEnd frontEnd_;  // the common controls and COM, as in the program
  RecordingEvents events_;
  Win32ServerDialogView d{events_, frontEnd_.control};
};

// --- Look -------------------------------------------------------------------

TEST_F(Win32ServerDialogViewTest, LooksAsDesigned) {
  wchar_t title[64] = {};
  GetWindowTextW(d.FSqlServer, title, 64);
  EXPECT_EQ(title, toWide(run::kServerDialogForm.caption));
  RECT client{};
  GetClientRect(d.FSqlServer, &client);
  EXPECT_EQ(client.right, run::kServerDialogForm.clientWidth);
  EXPECT_EQ(client.bottom, run::kServerDialogForm.clientHeight);
  const auto style = static_cast<DWORD>(GetWindowLongW(d.FSqlServer, GWL_STYLE));
  EXPECT_TRUE(style & WS_SYSMENU) << "the close box";
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME)) << "fixed size";

  showPainted();
  for (const run::DialogControlLook& look : run::kServerDialogControls) {
    SCOPED_TRACE(look.name);
    if (look.kind == run::DialogControlKind::Label) {
      expectPaintedByTheForm(look);
      continue;
    }
    HWND control = d.windowOf(look.control);
    if (look.kind == run::DialogControlKind::Picture) {
      EXPECT_EQ(control, nullptr) << "painted by the form";
      continue;
    }
    const RECT at = placeInForm(control);
    EXPECT_EQ(at.left, look.place.left);
    EXPECT_EQ(at.top, look.place.top);
    EXPECT_EQ(at.right, look.place.width) << "width";
    EXPECT_EQ(at.bottom, designedHeight(control, look.place.height)) << "height";
    const LOGFONTW font = fontOf(control);
    EXPECT_EQ(font.lfFaceName, toWide(run::kServerDialogForm.fontFace));
    EXPECT_EQ(font.lfCharSet, GB2312_CHARSET);
    EXPECT_EQ(font.lfHeight, -look.font.pixels);
    EXPECT_EQ(font.lfWeight, look.font.bold ? FW_BOLD : FW_NORMAL);
    wchar_t caption[64] = {};
    GetWindowTextW(control, caption, 64);
    EXPECT_EQ(caption, toWide(look.caption));
  }
  EXPECT_EQ(GetWindowLongW(d.RzComboBox1, GWL_STYLE) & 3, CBS_DROPDOWN) << "editable";
  EXPECT_EQ(GetWindowLongW(d.RzComboBox2, GWL_STYLE) & 3, CBS_DROPDOWN) << "editable";
  EXPECT_FALSE(GetWindowLongW(d.RzEdit1, GWL_STYLE) & ES_PASSWORD) << "the password in clear";
}

// Labels that were windows of their own, over the fields' left ends, wiped the
// fields' frames whenever only they were repainted.
TEST_F(Win32ServerDialogViewTest, LabelsRepaintBeneathTheFields) {
  showPainted();
  RECT labels{};
  for (const run::DialogControlLook& look : run::kServerDialogControls) {
    if (look.kind == run::DialogControlKind::Label) {
      const RECT place = rectOf(look.place);
      UnionRect(&labels, &labels, &place);
    }
  }
  const auto frames = [this] {
    // The left and top edge of each field, read from the screen.
    std::vector<COLORREF> pixels;
    for (HWND field : {d.RzComboBox1, d.RzComboBox2, d.RzEdit1, d.RzEdit2}) {
      RECT place{};
      GetWindowRect(field, &place);
      HDC dc = GetWindowDC(field);
      for (int y = 0; y < place.bottom - place.top; ++y) {
        pixels.push_back(GetPixel(dc, 0, y));
      }
      for (int x = 0; x < place.right - place.left; ++x) {
        pixels.push_back(GetPixel(dc, x, 0));
      }
      ReleaseDC(field, dc);
    }
    return pixels;
  };
  const std::vector<COLORREF> before = frames();
  ASSERT_EQ(std::count(before.begin(), before.end(), CLR_INVALID), 0) << "unreadable";
  RedrawWindow(d.FSqlServer, &labels, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_NOCHILDREN | RDW_UPDATENOW);
  EXPECT_EQ(frames(), before);
}

// Windows refuses the last of the dialog's controls, as it may when it runs out of
// handles; a click on Connect is already on its way to the form.
HWND refusedForm = nullptr;
LRESULT CALLBACK refuseTheLastControl(int code, WPARAM window, LPARAM create) {
  static int children = 0;
  if (code == HCBT_CREATEWND) {
    HWND parent = reinterpret_cast<const CBT_CREATEWNDW*>(create)->lpcs->hwndParent;
    if (parent != nullptr && ++children == static_cast<int>(run::kDialogTabStops)) {
      refusedForm = parent;
      HWND connect = FindWindowExW(parent, nullptr, L"Button", nullptr);
      PostMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(connect), BN_CLICKED),
                   reinterpret_cast<LPARAM>(connect));
      return 1;
    }
  }
  return CallNextHookEx(nullptr, code, window, create);
}

// A dialog that cannot be built completely leaves no window behind, so nothing
// that comes for it later can reach the view that is gone.
TEST(Win32ServerDialogViewFailureTest, AFailedBuildLeavesNoWindowForTheViewThatIsGone) {
  Win32FrontEnd frontEnd;
  RecordingEvents events;
  HHOOK hook = SetWindowsHookExW(WH_CBT, refuseTheLastControl, nullptr, GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  EXPECT_THROW(Win32ServerDialogView(events, frontEnd.control), std::runtime_error);
  UnhookWindowsHookEx(hook);

  ASSERT_NE(refusedForm, nullptr);
  EXPECT_FALSE(IsWindow(refusedForm));
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    DispatchMessageW(&msg);
  }
  EXPECT_TRUE(events.seen.empty()) << "a message reached the view that is gone";
}

TEST_F(Win32ServerDialogViewTest, BackgroundIsTheJpegDecodedByWindows) {
  ASSERT_NE(d.background(), nullptr) << "OLE could not decode the JPEG resource";
  BITMAP info{};
  GetObjectW(d.background(), sizeof info, &info);
  EXPECT_EQ(info.bmWidth, 348);
  EXPECT_EQ(info.bmHeight, 242);
  // A picture, not a flat fill: many different colours along the diagonal.
  HDC dc = CreateCompatibleDC(nullptr);
  const HGDIOBJ old = SelectObject(dc, d.background());
  std::set<COLORREF> colours;
  for (int i = 0; i < 240; i += 4) {
    colours.insert(GetPixel(dc, i * 348 / 242, i));
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  EXPECT_GT(colours.size(), 10u);
}

TEST_F(Win32ServerDialogViewTest, ButtonsHaveTheirFaceColourAndLightUpUnderTheMouse) {
  const run::DialogButtonColours& colours = run::kDialogButtonColours;
  EXPECT_EQ(buttonFace(d.RzBitBtn1, 0), colorRef(colours.face));
  EXPECT_EQ(buttonFace(d.RzBitBtn2, ODS_SELECTED), colorRef(colours.facePressed));
  SendMessageW(d.RzBitBtn2, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(buttonFace(d.RzBitBtn2, 0), colorRef(colours.faceHot));
  EXPECT_EQ(buttonFace(d.RzBitBtn1, 0), colorRef(colours.face));
  SendMessageW(d.RzBitBtn2, WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(buttonFace(d.RzBitBtn2, 0), colorRef(colours.face));
}

// --- Behaviour --------------------------------------------------------------

TEST_F(Win32ServerDialogViewTest, TabGoesServerPasswordPortConnectAbandonDatabase) {
  const HWND order[] = {d.RzComboBox1, d.RzEdit1,   d.RzEdit2,
                        d.RzBitBtn1,   d.RzBitBtn2, d.RzComboBox2};
  for (std::size_t i = 0; i < std::size(order); ++i) {
    EXPECT_EQ(GetNextDlgTabItem(d.FSqlServer, order[i], FALSE), order[(i + 1) % std::size(order)])
        << i;
  }
}

TEST_F(Win32ServerDialogViewTest, KeysReachTheDialogBeforeTheDialogManager) {
  HWND comboEdit = GetWindow(d.RzComboBox2, GW_CHILD);
  ASSERT_NE(comboEdit, nullptr);
  postKey(d.RzEdit1, VK_RETURN);
  postKey(comboEdit, VK_F2);
  postKey(d.RzEdit2, 'A');  // not the dialog's
  postKey(d.RzBitBtn2, VK_ESCAPE);
  postKey(d.RzBitBtn1, VK_RETURN);  // left to the view: it presses the button
  events_.closeAfter = 5;
  d.runModal();

  EXPECT_FALSE(d.isOpen());
  EXPECT_FALSE(IsWindowVisible(d.FSqlServer));
  const std::vector<KeySeen> expected = {{run::DialogField::RzEdit1, run::DialogKey::Enter},
                                         {run::DialogField::RzComboBox2, run::DialogKey::F2},
                                         {std::nullopt, run::DialogKey::Escape},
                                         {std::nullopt, run::DialogKey::Enter}};
  EXPECT_EQ(events_.keys, expected);
  EXPECT_EQ(events_.seen, (std::vector<std::string>{"show", "connect"}));
}

TEST_F(Win32ServerDialogViewTest, CloseBoxEndsTheModalLoopAndAQuitIsPassedOn) {
  PostMessageW(d.FSqlServer, WM_CLOSE, 0, 0);
  d.runModal();
  EXPECT_EQ(events_.seen, std::vector<std::string>{"show"});
  EXPECT_TRUE(events_.keys.empty());

  // A quit that reaches the dialog's loop ends it and is left for the program's.
  PostQuitMessage(7);
  d.runModal();
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 7u);
}

TEST_F(Win32ServerDialogViewTest, FieldsAndTheServerListGoThroughTheView) {
  d.setText(run::DialogField::RzComboBox1, "服务器\\SQL");
  d.setText(run::DialogField::RzEdit1, " 密码 ");
  EXPECT_EQ(d.text(run::DialogField::RzComboBox1), "服务器\\SQL");
  EXPECT_EQ(d.text(run::DialogField::RzEdit1), " 密码 ");

  d.setServerList({"B-SERVER", "A-SERVER"});
  EXPECT_EQ(SendMessageW(d.RzComboBox1, CB_GETCOUNT, 0, 0), 2);
  wchar_t first[16] = {};
  SendMessageW(d.RzComboBox1, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(first));
  EXPECT_STREQ(first, L"B-SERVER") << "in the order given";
  EXPECT_EQ(d.text(run::DialogField::RzComboBox1), "") << "a name is offered, none is picked";

  // Keyboard focus selects the whole text, so typing replaces it.
  d.setText(run::DialogField::RzEdit2, "1433");
  d.setFocus(run::DialogField::RzEdit2);
  DWORD start = 1;
  DWORD end = 0;
  SendMessageW(d.RzEdit2, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
               reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(start, 0u);
  EXPECT_EQ(end, 4u);
}

// --- Run control ------------------------------------------------------------

TEST(Win32RunControlTest, PointerIsASettingNotACount) {
  Win32RunControl control;
  control.showBusyPointer();
  control.showBusyPointer();
  EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_WAIT));
  control.restorePointer();
  EXPECT_FALSE(control.isBusy());
  EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_ARROW));
}

TEST(Win32RunControlTest, MessageLoopEndsWithOrWithoutAnEndRequest) {
  Win32RunControl control;
  EXPECT_EQ(control.runMessageLoop(), 0);
  control.endRun();
  EXPECT_TRUE(control.endRequested());
  EXPECT_EQ(control.runMessageLoop(), 0);
  // Made outside the loop, the request posts nothing that a nested loop would take.
  MSG msg;
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

}  // namespace
}  // namespace upgrade::ui::win32
