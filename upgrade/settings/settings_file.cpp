#include "settings_file.h"

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <memory>
#include <system_error>

#include "ascii.h"
#include "settings_file_platform.h"
#include "settings_lines.h"
#include "settings_rewrite.h"
#include "text_encoding.h"

namespace upgrade::settings {
namespace fs = std::filesystem;

using detail::Encoding;
using detail::Line;
using text::trimmed;

namespace {

std::string pathText(const fs::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

enum class OpenStatus { Ok, Missing, Unreadable };

struct Opened {
  OpenStatus status = OpenStatus::Ok;
  std::string reason;  // why a file that is there cannot be read
};

Opened open(const fs::path& path, std::ifstream& in) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec || !fs::exists(status)) {
    // A parent that is not a directory means the file cannot exist either.
    if (!ec || ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory) {
      return {OpenStatus::Missing, {}};
    }
    return {OpenStatus::Unreadable, ec.message()};
  }
  if (fs::is_directory(status)) {
    return {OpenStatus::Unreadable, "it is a directory"};
  }
  if (!fs::is_regular_file(status)) {
    return {OpenStatus::Unreadable, "it is not a regular file"};
  }
  errno = 0;
  in.open(path, std::ios::binary);
  if (!in) {
    return {OpenStatus::Unreadable,
            errno != 0 ? std::generic_category().message(errno) : "it cannot be opened"};
  }
  return {};
}

// The text of an open file, line by line, as UTF-8 or GBK: a UTF-16 file is decoded
// on the way, and its lines are then those of a UTF-8 file.
class FileText {
 public:
  explicit FileText(std::ifstream& file) : file_(file) {
    std::optional<detail::FileFacts> examined = detail::examine(file_);
    if (examined && examined->encoding == Encoding::Utf16Le) {
      // New lines in it are UTF-8 before they are encoded.
      decode();
      examined = detail::examine(*decoded_, Encoding::Utf8);
      decode();
    } else if (examined && examined->encoding == Encoding::Utf16Be) {
      reason_ = "it is in UTF-16 big-endian, which is not read";
      return;
    }
    if (!examined) {
      reason_ = "reading it failed";
      return;
    }
    facts_ = *examined;
    // Back to the first line after the encoding was told from the whole file.
    std::istream& in = lines();
    in.clear();
    if (decoded_) {
      in.ignore(static_cast<std::streamsize>(facts_.bomLength));
    } else {
      in.seekg(static_cast<std::streamoff>(facts_.bomLength));
    }
    if (!in) {
      reason_ = "reading it failed";
    }
  }

  // Empty when the text can be read.
  [[nodiscard]] const std::string& unreadable() const noexcept { return reason_; }
  [[nodiscard]] std::istream& lines() { return decoded_ ? *decoded_ : file_; }
  [[nodiscard]] const detail::FileFacts& facts() const noexcept { return facts_; }
  [[nodiscard]] bool utf16() const noexcept { return decoder_ != nullptr; }
  // Whether the UTF-16 read so far would not come back the same from its UTF-8.
  [[nodiscard]] bool lossy() const noexcept { return decoder_ && decoder_->lossy(); }

 private:
  // Decodes from just after the UTF-16 byte order mark.
  void decode() {
    file_.clear();
    file_.seekg(2);
    decoder_ = std::make_unique<detail::Utf16LeDecoder>(file_);
    decoded_ = std::make_unique<std::istream>(decoder_.get());
  }

  std::ifstream& file_;
  std::unique_ptr<detail::Utf16LeDecoder> decoder_;
  std::unique_ptr<std::istream> decoded_;
  detail::FileFacts facts_;
  std::string reason_;
};

bool hasLineBreak(std::string_view s) noexcept {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

SettingsWriteError::SettingsWriteError(const fs::path& file)
    : std::runtime_error("Unable to write to " + pathText(file)) {}

std::string SettingsFile::readString(std::string_view section, std::string_view key,
                                     std::string_view defaultValue) const {
  std::ifstream file;
  if (open(path_, file).status != OpenStatus::Ok) {
    return std::string(defaultValue);
  }
  FileText text(file);
  if (!text.unreadable().empty()) {
    return std::string(defaultValue);
  }
  const detail::LineReader reader(text.facts().encoding);
  detail::LineBlocks blocks(text.lines());
  bool inSection = false;
  for (std::string_view block = blocks.next(); !block.empty(); block = blocks.next()) {
    for (std::size_t at = 0;;) {
      // Blank lines and leading blanks mean nothing here: past them in one sweep.
      at = block.find_first_not_of(text::kAsciiBlanks, at);
      if (at == std::string_view::npos) {
        break;
      }
      const std::size_t end = std::min(block.find('\n', at), block.size());
      const std::string_view line = detail::withoutBreak(block.substr(at, end - at));
      at = end;
      if (!detail::mayMatter(line, inSection)) {
        continue;
      }
      const Line meaning = reader.classify(line);
      if (meaning.kind == Line::Kind::Section) {
        // Only the first section of the name counts.
        if (inSection) {
          return std::string(defaultValue);
        }
        inSection = text::equalsIgnoringAsciiCase(meaning.name, section);
      } else if (inSection && meaning.kind == Line::Kind::Key &&
                 text::equalsIgnoringAsciiCase(meaning.name, key)) {
        std::string_view value = trimmed(meaning.value);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
          value = value.substr(1, value.size() - 2);
        }
        return std::string(text::firstCharacters(value, kMaxValueLength));
      }
    }
  }
  return std::string(defaultValue);
}

int SettingsFile::readInteger(std::string_view section, std::string_view key,
                              int defaultValue) const {
  return parseProfileInteger(readString(section, key, "")).value_or(defaultValue);
}

void SettingsFile::writeString(std::string_view section, std::string_view key,
                               std::string_view value) {
  // Each of these would change the meaning of other lines when written back.
  if (hasLineBreak(section) || section.find(']') != std::string_view::npos) {
    throw std::invalid_argument("a settings section name cannot hold ']' or a line break");
  }
  if (hasLineBreak(key) || key.find('=') != std::string_view::npos) {
    throw std::invalid_argument("a settings key cannot hold '=' or a line break");
  }
  // A name is read back trimmed, and a key line that starts with '[' can read as a
  // section header: either way the name would not find itself again.
  if (trimmed(section) != section || trimmed(key) != key) {
    throw std::invalid_argument("a settings section or key name cannot begin or end with a blank");
  }
  if (key.starts_with('[')) {
    throw std::invalid_argument("a settings key cannot begin with '['");
  }
  if (hasLineBreak(value)) {
    throw std::invalid_argument("a settings value cannot hold a line break");
  }
  if (!text::isValidUtf8(section) || !text::isValidUtf8(key) || !text::isValidUtf8(value)) {
    throw std::invalid_argument("settings text must be UTF-8");
  }

  // Write through the link beside the program rather than replace it with a file,
  // but never through a second one.
  fs::path target = path_;
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(path_, ec))) {
    target = settingsLinkTarget(path_);
    if (target.empty() || fs::is_symlink(fs::symlink_status(target, ec))) {
      throw SettingsWriteError(path_);
    }
  }

  // A file that exists but cannot be read must not be replaced by one that holds
  // only this key.
  std::ifstream file;
  std::optional<FileText> text;
  switch (open(target, file).status) {
    case OpenStatus::Missing:
      break;
    case OpenStatus::Unreadable:
      throw SettingsWriteError(path_);
    case OpenStatus::Ok:
      text.emplace(file);
      if (!text->unreadable().empty()) {
        throw SettingsWriteError(path_);
      }
  }
  std::string written =
      detail::rewrite(path_, text ? &text->lines() : nullptr,
                      text ? text->facts() : detail::FileFacts{}, section, key, value);
  if (text && text->utf16()) {
    // Every other line must come back exactly as it was.
    if (text->lossy()) {
      throw SettingsWriteError(path_);
    }
    written = detail::utf16LeBytes(written);
  }
  // Windows cannot replace a file that is still open.
  text.reset();
  file.close();
  if (!detail::replaceFile(target, written)) {
    throw SettingsWriteError(path_);
  }
}

std::optional<std::string> SettingsFile::unreadableReason() const {
  std::ifstream file;
  const Opened opened = open(path_, file);
  if (opened.status != OpenStatus::Ok) {
    return opened.status == OpenStatus::Missing ? std::nullopt
                                                : std::optional<std::string>(opened.reason);
  }
  const FileText text(file);
  if (!text.unreadable().empty()) {
    return text.unreadable();
  }
  return std::nullopt;
}

void SettingsFile::writeInteger(std::string_view section, std::string_view key, int value) {
  writeString(section, key, std::to_string(value));
}

fs::path settingsLinkTarget(const fs::path& path) {
  std::error_code error;
  const fs::path target = fs::read_symlink(path, error);
  return error ? fs::path() : path.parent_path() / target;
}

std::optional<int> parseProfileInteger(std::string_view text) noexcept {
  // Quotes keep blanks in a value ("  81"); the profile functions skip them.
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  bool hex = false;
  bool negative = false;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    hex = true;
    text.remove_prefix(2);
  } else {
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
      negative = text.front() == '-';
      text.remove_prefix(1);
    }
    if (!text.empty() && text.front() == '$') {
      hex = true;
      text.remove_prefix(1);
    }
  }
  if (text.empty()) {
    return std::nullopt;
  }
  const std::uint64_t limit = hex ? 0xFFFFFFFFu : (negative ? 0x80000000u : 0x7FFFFFFFu);
  std::uint64_t magnitude = 0;
  for (const char c : text) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    magnitude = magnitude * (hex ? 16u : 10u) + digit;
    if (magnitude > limit) {
      return std::nullopt;
    }
  }
  // Two's complement wrap for the hexadecimal forms; the decimal range is exact.
  std::uint32_t bits = static_cast<std::uint32_t>(magnitude);
  if (negative) {
    bits = ~bits + 1u;
  }
  return static_cast<int>(bits);
}

}  // namespace upgrade::settings
