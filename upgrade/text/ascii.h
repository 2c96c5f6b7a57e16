// ASCII rules for the names and values this program matches and cleans: ini sections
// and keys, column and parameter names, driver and instance names, typed settings.
// Only A to Z fold, and only ASCII blanks are trimmed; anything else (GBK or UTF-8
// bytes included) stays as it is, so no locale can change the outcome.
#pragma once

#include <algorithm>
#include <concepts>
#include <string_view>

namespace upgrade::text {

[[nodiscard]] constexpr char asciiLower(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

[[nodiscard]] constexpr bool equalsIgnoringAsciiCase(std::string_view a,
                                                     std::string_view b) noexcept {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return asciiLower(x) == asciiLower(y);
         });
}

// The C locale's white space: space, tab, CR, LF, vertical tab and form feed.
inline constexpr std::string_view kAsciiBlanks = " \t\r\n\v\f";

// The text without the characters that blank accepts at either end.
template <std::predicate<char> Blank>
[[nodiscard]] constexpr std::string_view trimmed(std::string_view text, Blank blank) noexcept {
  while (!text.empty() && blank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && blank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

// The text without any of blanks at either end.
[[nodiscard]] constexpr std::string_view trimmed(std::string_view text,
                                                 std::string_view blanks = kAsciiBlanks) noexcept {
  return trimmed(text, [blanks](char c) { return blanks.find(c) != std::string_view::npos; });
}

}  // namespace upgrade::text
