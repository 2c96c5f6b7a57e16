// How the Win32 server connection dialog is drawn from its look (server_dialog_look.h):
// its fonts, its background picture, the labels the form paints itself and its
// owner-drawn buttons. Kept apart from the view, which makes the controls and turns
// keys and clicks into the dialog's events.
#pragma once

#include <windows.h>

#include "server_dialog_look.h"
#include "win32_handles.h"

namespace upgrade::ui::win32 {

// The resource id of the background JPEG (RCDATA), in server_dialog.rc.
inline constexpr int kServerDialogBackground = 101;

[[nodiscard]] constexpr COLORREF colorRef(run::DialogColour colour) noexcept {
  return RGB(colour.red, colour.green, colour.blue);
}

// The form's face with the GB2312 character set, at the font's height in pixels.
[[nodiscard]] OwnedFont songTi(run::DialogFont font);

// The background JPEG from the program's resources, decoded by Windows itself and
// stretched to width x height. Null when it cannot be.
[[nodiscard]] OwnedBitmap decodeDialogBackground(int width, int height);

// A push button in the dialog's face colour: lighter under the mouse (hot), darker
// while pressed, its edge showing the focus. The corners show background, aligned
// with the form's client area; the caption is drawn in font.
void drawDialogButton(const DRAWITEMSTRUCT& item, bool hot, HWND form, HBRUSH background,
                      HFONT font);

// The form's client area: the picture, or the button face where there is none.
void paintDialogBackground(HDC dc, HWND form, HBRUSH background);

// A label as the form paints it onto dc, over the background: its caption in its
// colour and font, cut at its rectangle.
void drawDialogLabel(HDC dc, const run::DialogControlLook& label, HFONT font);

}  // namespace upgrade::ui::win32
