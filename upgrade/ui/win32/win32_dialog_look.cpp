#include "win32_dialog_look.h"

// windows.h comes first (through the header).
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstring>

#include "win32_server_dialog_view.h"

namespace upgrade {
namespace {

// The buttons' face, lighter under the mouse, darker while pressed; the edge shows
// the focus.
constexpr COLORREF kButtonFace = RGB(236, 233, 216);
constexpr COLORREF kButtonFaceHot = RGB(252, 250, 240);
constexpr COLORREF kButtonFacePressed = RGB(214, 210, 190);
constexpr COLORREF kButtonEdge = RGB(128, 125, 110);
constexpr COLORREF kButtonEdgeHot = RGB(230, 150, 30);
constexpr COLORREF kButtonEdgeFocus = RGB(50, 90, 180);
constexpr COLORREF kHintColour = RGB(255, 0, 0);

// Aligns background's pattern with the form's client area when painting control.
void alignWithForm(HDC dc, HWND control, HWND form) {
  POINT origin{0, 0};
  MapWindowPoints(control, form, &origin, 1);
  SetBrushOrgEx(dc, -origin.x, -origin.y, nullptr);
}

}  // namespace

// "宋体" (SimSun) with the GB2312 character set; where Windows has no SimSun, the
// font mapper picks an installed font that covers GB2312.
HFONT songTi(int pixels, int weight) {
  return CreateFontW(-pixels, 0, 0, 0, weight, FALSE, FALSE, FALSE, GB2312_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, L"宋体");
}

// The JPEG resource decoded by OLE (on current Windows through WIC), drawn
// stretched into a bitmap of the given size. Null when it cannot be.
HBITMAP decodeDialogBackground(int width, int height) {
  HRSRC resource =
      FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kServerDialogBackground),
                    MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (resource == nullptr) {
    return nullptr;
  }
  const DWORD size = SizeofResource(GetModuleHandleW(nullptr), resource);
  const void* data = LockResource(LoadResource(GetModuleHandleW(nullptr), resource));
  if (data == nullptr || size == 0) {
    return nullptr;
  }
  // The stream takes a movable memory block of its own.
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
  if (copy == nullptr) {
    return nullptr;
  }
  std::memcpy(GlobalLock(copy), data, size);
  GlobalUnlock(copy);
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(copy, TRUE, &stream))) {
    GlobalFree(copy);
    return nullptr;
  }
  // The decoder is a COM object; this thread may not have COM yet.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IPicture* picture = nullptr;
  HBITMAP bitmap = nullptr;
  if (SUCCEEDED(OleLoadPicture(stream, static_cast<LONG>(size), FALSE, IID_IPicture,
                               reinterpret_cast<void**>(&picture)))) {
    OLE_XSIZE_HIMETRIC pictureWidth = 0;
    OLE_YSIZE_HIMETRIC pictureHeight = 0;
    picture->get_Width(&pictureWidth);
    picture->get_Height(&pictureHeight);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    bitmap = CreateCompatibleBitmap(screen, width, height);
    const HGDIOBJ old = SelectObject(memory, bitmap);
    SetStretchBltMode(memory, HALFTONE);
    SetBrushOrgEx(memory, 0, 0, nullptr);
    // HIMETRIC runs upwards: start at the picture's top, go down by its height.
    if (FAILED(picture->Render(memory, 0, 0, width, height, 0, pictureHeight, pictureWidth,
                               -pictureHeight, nullptr))) {
      SelectObject(memory, old);
      DeleteObject(bitmap);
      bitmap = nullptr;
    } else {
      SelectObject(memory, old);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    picture->Release();
  }
  stream->Release();
  if (SUCCEEDED(com)) {
    CoUninitialize();
  }
  return bitmap;
}

void drawDialogButton(const DRAWITEMSTRUCT& item, bool hot, HWND form, HBRUSH background,
                      HFONT font) {
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  const bool focused = (item.itemState & ODS_FOCUS) != 0;
  HDC dc = item.hDC;
  HBRUSH face = CreateSolidBrush(pressed ? kButtonFacePressed : hot ? kButtonFaceHot : kButtonFace);
  HPEN edge = CreatePen(PS_SOLID, 1,
                        focused ? kButtonEdgeFocus
                        : hot   ? kButtonEdgeHot
                                : kButtonEdge);
  // The corners outside the rounded edge show the picture behind the button.
  if (background != nullptr) {
    alignWithForm(dc, item.hwndItem, form);
    FillRect(dc, &item.rcItem, background);
  }
  const HGDIOBJ oldBrush = SelectObject(dc, face);
  const HGDIOBJ oldPen = SelectObject(dc, edge);
  RoundRect(dc, item.rcItem.left, item.rcItem.top, item.rcItem.right, item.rcItem.bottom, 6, 6);
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  DeleteObject(edge);
  DeleteObject(face);

  wchar_t caption[32] = {};
  GetWindowTextW(item.hwndItem, caption, 32);
  const HGDIOBJ oldFont = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 0));
  RECT text = item.rcItem;
  if (pressed) {
    OffsetRect(&text, 1, 1);
  }
  DrawTextW(dc, caption, -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, oldFont);
}

void paintDialogBackground(HDC dc, HWND form, HBRUSH background) {
  RECT client{};
  GetClientRect(form, &client);
  if (background != nullptr) {
    SetBrushOrgEx(dc, 0, 0, nullptr);
    FillRect(dc, &client, background);
  } else {
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  }
}

HBRUSH prepareLabel(HDC dc, HWND label, bool hint, HWND form, HBRUSH background) {
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, hint ? kHintColour : RGB(0, 0, 0));
  if (background == nullptr) {
    return GetSysColorBrush(COLOR_BTNFACE);
  }
  alignWithForm(dc, label, form);
  return background;
}

}  // namespace upgrade
