// How a write makes the settings file's new bytes: one key replaced or added, every
// other line as it was, in the file's own encoding. Private to the settings library.
#pragma once

#include <filesystem>
#include <istream>
#include <string>
#include <string_view>

#include "settings_lines.h"

namespace upgrade::settings::detail {

// The file's bytes with the key written, read from `in` line by line (null for a
// file that is not there yet): every other line goes over as it was. Costs the size
// of the file, not a structure per line. Throws SettingsWriteError, naming file,
// when the new text has no place in the file's encoding or the file cannot be read.
[[nodiscard]] std::string rewrite(const std::filesystem::path& file, std::istream* in,
                                  const FileFacts& facts, std::string_view section,
                                  std::string_view key, std::string_view value);

// The whole text of a UTF-16 file again, with its byte order mark.
[[nodiscard]] std::string utf16LeBytes(std::string_view utf8);

}  // namespace upgrade::settings::detail
