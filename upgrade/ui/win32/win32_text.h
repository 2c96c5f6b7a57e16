// UTF-8, the run's text, to and from the UTF-16 of the wide Windows calls.
#pragma once

#include <string>
#include <string_view>

namespace upgrade::ui::win32 {

[[nodiscard]] std::wstring toWide(std::string_view utf8);
[[nodiscard]] std::string fromWide(std::wstring_view wide);

}  // namespace upgrade::ui::win32
