// A profile (ini) file read and written the way the usual profile functions do, so
// that a System.ini shared with the suite's other programs means the same to all.
//
// - "[name]" opens a section and "key=value" gives a key its value; section and key
//   names match without regard to letter case.
// - Only the first section of a name counts, and within it only the first key of a
//   name; lines before the first section and lines without '=' are not keys.
// - A value is the text after the first '=', without leading and trailing blanks and
//   without one pair of enclosing single or double quotes; at most 2047 characters
//   of it are used.
// - Writing replaces the key's value, or adds the key at the end of its section, or
//   adds the section at the end of the file. Every other line stays as it was, byte
//   for byte, so sections and keys of other programs and their order are kept.
//
// The file is read afresh on every call, line by line, and never kept open: a read
// needs memory for the longest line, a write for the file. A file in GBK (written by
// the suite's Windows programs) is recognised by not being valid UTF-8; one that
// Notepad saved as "Unicode" (UTF-16 little-endian with its byte order mark) is read
// as the profile functions read it. Written lines use the encoding the file already
// has: a GBK file stays GBK (see writeString), a UTF-16 file stays UTF-16 with its
// byte order mark. Writes replace the file atomically (a temporary file beside it,
// then a rename), so a crash never leaves it truncated.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace upgrade::settings {

// A write that the file system refused; what() is "Unable to write to <file>".
class SettingsWriteError : public std::runtime_error {
 public:
  explicit SettingsWriteError(const std::filesystem::path& file);
};

class SettingsFile {
 public:
  static constexpr std::size_t kMaxValueLength = 2047;

  // Never fails and never creates the file.
  explicit SettingsFile(std::filesystem::path path) : path_(std::move(path)) {}

  [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }

  // Never fail: a missing or unreadable file, section or key gives the default.
  [[nodiscard]] std::string readString(std::string_view section, std::string_view key,
                                       std::string_view defaultValue) const;
  [[nodiscard]] int readInteger(std::string_view section, std::string_view key,
                                int defaultValue) const;
  // Why a file that is there gives only defaults: it is a directory, it may not be
  // read, its encoding (UTF-16 big-endian) is not read. Nullopt when the file can be
  // read or is missing, which is no fault.
  [[nodiscard]] std::optional<std::string> unreadableReason() const;

  // Create the file, section or key as needed. A symbolic link at the path is written
  // through, but not a second link where it leads. Throw SettingsWriteError when the
  // file cannot be read back or written (a UTF-16 file that is not UTF-16 throughout
  // would not keep its other lines), and std::invalid_argument for a name or
  // value that the format cannot hold (a line break, '=' in a key, ']' in a
  // section, a name that begins or ends with a blank, a key that begins with '[',
  // text that is not UTF-8). A GBK file stays GBK: when the lines written would leave
  // nothing in it that is not valid UTF-8, a comment line in GBK goes before the first
  // section, so that every other line reads as it did.
  void writeString(std::string_view section, std::string_view key, std::string_view value);
  void writeInteger(std::string_view section, std::string_view key, int value);

 private:
  std::filesystem::path path_;
};

// A profile integer, after any leading spaces and tabs: "0x"/"0X" followed by
// hexadecimal digits, or an optional sign followed by decimal digits or by "$" and
// hexadecimal digits. Hexadecimal values up to FFFFFFFF wrap into the negative
// range, as the profile functions do; anything else, including an empty text or
// trailing blanks, gives nullopt.
[[nodiscard]] std::optional<int> parseProfileInteger(std::string_view text) noexcept;

// Where the symbolic link at path leads, taken from the link's own directory; empty
// when path is no link or the link cannot be read. The settings are written there
// and the run log is kept beside it, so that the program's directory can stay closed
// to the operators. Only that one link counts: a link found where it leads may have
// been planted by anyone who can write there.
[[nodiscard]] std::filesystem::path settingsLinkTarget(const std::filesystem::path& path);

}  // namespace upgrade::settings
