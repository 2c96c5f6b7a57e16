// How the Win32 server connection dialog is drawn: its font, its background picture
// and its owner-drawn buttons. Kept apart from the view, which only lays the
// controls out and turns keys and clicks into the dialog's events.
#pragma once

#include <windows.h>

namespace upgrade {

// "宋体" (SimSun) with the GB2312 character set, at a height in pixels.
[[nodiscard]] HFONT songTi(int pixels, int weight);

// The background JPEG from the program's resources, decoded by Windows itself and
// stretched to width x height. Null when it cannot be.
[[nodiscard]] HBITMAP decodeDialogBackground(int width, int height);

// A push button in the dialog's face colour: lighter under the mouse (hot), darker
// while pressed, its edge showing the focus. The corners show background, aligned
// with the form's client area; the caption is drawn in font.
void drawDialogButton(const DRAWITEMSTRUCT& item, bool hot, HWND form, HBRUSH background,
                      HFONT font);

// The form's client area: the picture, or the button face where there is none.
void paintDialogBackground(HDC dc, HWND form, HBRUSH background);

// Sets up dc for a transparent label (the hint in red) and returns the brush behind
// it: the picture, aligned with the form, or the button face.
[[nodiscard]] HBRUSH prepareLabel(HDC dc, HWND label, bool hint, HWND form, HBRUSH background);

}  // namespace upgrade
