#include "win32_dialog_look.h"

// windows.h comes first (through the header).
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstring>
#include <string>

#include "win32_text.h"

namespace upgrade::ui::win32 {
namespace {

struct ComReleaser {
  void operator()(IUnknown* object) const noexcept { object->Release(); }
};
template <typename Interface>
using ComObject = std::unique_ptr<Interface, ComReleaser>;

// Aligns background's pattern with the form's client area when painting control.
void alignWithForm(HDC dc, HWND control, HWND form) {
  POINT origin{0, 0};
  MapWindowPoints(control, form, &origin, 1);
  SetBrushOrgEx(dc, -origin.x, -origin.y, nullptr);
}

// The resource as a stream of its own, which OLE reads.
ComObject<IStream> backgroundStream() {
  HMODULE program = GetModuleHandleW(nullptr);
  HRSRC resource = FindResourceW(program, MAKEINTRESOURCEW(kServerDialogBackground),
                                 MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (resource == nullptr) {
    return nullptr;
  }
  const DWORD size = SizeofResource(program, resource);
  const void* data = LockResource(LoadResource(program, resource));
  if (data == nullptr || size == 0) {
    return nullptr;
  }
  // The stream takes a movable memory block of its own, and frees it.
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
  return ComObject<IStream>(stream);
}

}  // namespace

// Where Windows has no SimSun, the font mapper picks an installed font that covers
// GB2312.
OwnedFont songTi(run::DialogFont font) {
  return OwnedFont(CreateFontW(-font.pixels, 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                               FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                               DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                               toWide(run::kServerDialogForm.fontFace).c_str()));
}

// Decoded by OLE (on current Windows through WIC), drawn stretched into a bitmap of
// the given size.
OwnedBitmap decodeDialogBackground(int width, int height) {
  const ComObject<IStream> stream = backgroundStream();
  if (!stream) {
    return nullptr;
  }
  // The decoder is a COM object; this thread may not have COM yet.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  OwnedBitmap bitmap;
  IPicture* loaded = nullptr;
  if (SUCCEEDED(OleLoadPicture(stream.get(), 0, FALSE, IID_IPicture,
                               reinterpret_cast<void**>(&loaded)))) {
    const ComObject<IPicture> picture(loaded);
    OLE_XSIZE_HIMETRIC pictureWidth = 0;
    OLE_YSIZE_HIMETRIC pictureHeight = 0;
    picture->get_Width(&pictureWidth);
    picture->get_Height(&pictureHeight);
    const ScreenDc screen(GetDC(nullptr));
    const OwnedMemoryDc memory(CreateCompatibleDC(screen.get()));
    bitmap.reset(CreateCompatibleBitmap(screen.get(), width, height));
    HRESULT drawn = E_FAIL;
    if (memory && bitmap) {
      const Selection into(memory.get(), bitmap.get());
      SetStretchBltMode(memory.get(), HALFTONE);
      SetBrushOrgEx(memory.get(), 0, 0, nullptr);
      // HIMETRIC runs upwards: start at the picture's top, go down by its height.
      drawn = picture->Render(memory.get(), 0, 0, width, height, 0, pictureHeight, pictureWidth,
                              -pictureHeight, nullptr);
    }
    if (FAILED(drawn)) {
      bitmap.reset();
    }
  }
  if (SUCCEEDED(com)) {
    CoUninitialize();
  }
  return bitmap;
}

void drawDialogButton(const DRAWITEMSTRUCT& item, bool hot, HWND form, HBRUSH background,
                      HFONT font) {
  const run::DialogButtonColours& colours = run::kDialogButtonColours;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  const bool focused = (item.itemState & ODS_FOCUS) != 0;
  HDC dc = item.hDC;
  // The corners outside the rounded edge show the picture behind the button.
  if (background != nullptr) {
    alignWithForm(dc, item.hwndItem, form);
    FillRect(dc, &item.rcItem, background);
  }
  {
    const OwnedBrush face(CreateSolidBrush(colorRef(pressed ? colours.facePressed
                                                    : hot   ? colours.faceHot
                                                            : colours.face)));
    const OwnedPen edge(CreatePen(PS_SOLID, 1,
                                  colorRef(focused ? colours.edgeFocus
                                           : hot   ? colours.edgeHot
                                                   : colours.edge)));
    const Selection faceIn(dc, face.get());
    const Selection edgeIn(dc, edge.get());
    RoundRect(dc, item.rcItem.left, item.rcItem.top, item.rcItem.right, item.rcItem.bottom, 6, 6);
  }

  wchar_t caption[32] = {};
  GetWindowTextW(item.hwndItem, caption, 32);
  const Selection fontIn(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, colorRef(run::kDialogBlack));
  RECT text = item.rcItem;
  if (pressed) {
    OffsetRect(&text, 1, 1);
  }
  DrawTextW(dc, caption, -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
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

void drawDialogLabel(HDC dc, const run::DialogControlLook& label, HFONT font) {
  RECT place{label.place.left, label.place.top, label.place.right(), label.place.bottom()};
  const Selection fontIn(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, colorRef(label.colour.value_or(run::kDialogBlack)));
  const std::wstring caption = toWide(label.caption);
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &place,
            DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

}  // namespace upgrade::ui::win32
