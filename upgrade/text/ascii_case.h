// Case-insensitive comparison for the names this program matches: ini sections and
// keys, column and parameter names, driver and instance names. Only A to Z fold;
// anything else (GBK or UTF-8 bytes included) must match exactly, so no locale can
// change the outcome.
#pragma once

#include <algorithm>
#include <string_view>

namespace upgrade {

[[nodiscard]] constexpr char asciiLower(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

[[nodiscard]] constexpr bool equalsIgnoringAsciiCase(std::string_view a,
                                                     std::string_view b) noexcept {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return asciiLower(x) == asciiLower(y);
         });
}

}  // namespace upgrade
