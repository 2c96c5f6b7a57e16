// What the settings file does differently per platform. Private to the settings
// library; one implementation file per platform.
#pragma once

#include <filesystem>
#include <string_view>

namespace upgrade::settings::detail {

// The line break of a file that has none yet: what the platform's editors write.
extern const std::string_view kPlatformNewline;

// Whether new text in a file of plain ASCII goes in GBK. On Windows the suite's
// other programs read it in the ANSI code page; elsewhere UTF-8 is the norm.
extern const bool kAsciiFilesTakeAnsiCodePage;

// A fresh name beside target for the file that will replace it.
[[nodiscard]] std::filesystem::path temporaryName(const std::filesystem::path& target);

// Writes bytes to a new file beside target, then moves it over target, so that a
// reader sees the old file or the new one and never a part of either. False when
// the file system refuses.
[[nodiscard]] bool replaceFile(const std::filesystem::path& target, std::string_view bytes);

}  // namespace upgrade::settings::detail
