// Owners of the Win32 handles the front end makes: each is released when its owner
// goes, on every way out, a failure half-way through building the dialog included.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace upgrade::ui::win32 {

struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const noexcept { DeleteObject(object); }
};

// A font, bitmap, brush or pen.
template <typename Handle>
using GdiObject = std::unique_ptr<std::remove_pointer_t<Handle>, GdiObjectDeleter>;
using OwnedFont = GdiObject<HFONT>;
using OwnedBitmap = GdiObject<HBITMAP>;
using OwnedBrush = GdiObject<HBRUSH>;
using OwnedPen = GdiObject<HPEN>;

// A device context of the program's own (CreateCompatibleDC), and the screen's.
struct MemoryDcDeleter {
  void operator()(HDC dc) const noexcept { DeleteDC(dc); }
};
using OwnedMemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, MemoryDcDeleter>;
struct ScreenDcReleaser {
  void operator()(HDC dc) const noexcept { ReleaseDC(nullptr, dc); }
};
using ScreenDc = std::unique_ptr<std::remove_pointer_t<HDC>, ScreenDcReleaser>;

// A window whose procedure finds its object through the window's user data. That
// link is cut before the window is destroyed, so none of the messages of its
// destruction reaches an object that may be half gone. Its children go with it.
struct WindowDestroyer {
  void operator()(HWND window) const noexcept {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
  }
};
using OwnedWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

// Selects object into dc for as long as it lives, then puts back what was there.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) noexcept : dc_(dc), old_(SelectObject(dc, object)) {}
  ~Selection() { SelectObject(dc_, old_); }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

}  // namespace upgrade::ui::win32
