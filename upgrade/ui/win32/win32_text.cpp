#include "win32_text.h"

#include "utf16.h"

namespace upgrade::ui::win32 {

// wchar_t is UTF-16 on Windows, so the text library's conversion serves as it is.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring toWide(std::string_view utf8) {
  const std::u16string wide = text::toUtf16(utf8);
  return {wide.begin(), wide.end()};
}

std::string fromWide(std::wstring_view wide) {
  const std::u16string utf16(wide.begin(), wide.end());
  return text::toUtf8(utf16);
}

}  // namespace upgrade::ui::win32
