#include "settings_file.h"

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <memory>
#include <random>
#include <system_error>

#include "ascii.h"
#include "settings_file_platform.h"
#include "settings_lines.h"
#include "text_encoding.h"
#include "utf16.h"

namespace upgrade {
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
      decode();
      examined = detail::examine(*decoded_);
      if (examined) {
        examined->encoding = Encoding::Utf8;  // new lines in it are UTF-8 before encoding
      }
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

// The whole text of a UTF-16 file again, with its byte order mark.
std::string utf16LeBytes(std::string_view utf8) {
  const std::u16string units = text::toUtf16(utf8);
  std::string bytes = "\xFF\xFE";
  bytes.reserve(2 + units.size() * 2);
  for (const char16_t unit : units) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

bool hasLineBreak(std::string_view s) noexcept {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

std::string randomSuffix() {
  static constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
  std::string suffix;
  for (int i = 0; i < 8; ++i) {
    suffix += kAlphabet[pick(device)];
  }
  return suffix;
}

// New text in the file's own encoding. A file of plain ASCII can take either; it
// takes the platform's: the ANSI code page on Windows, UTF-8 elsewhere.
class Encoder {
 public:
  Encoder(const fs::path& file, Encoding encoding)
      : file_(file),
        gbk_(encoding == Encoding::Gbk ||
             (detail::kAsciiFilesTakeAnsiCodePage && encoding == Encoding::Ascii)) {}

  [[nodiscard]] bool gbk() const noexcept { return gbk_; }

  [[nodiscard]] std::string operator()(const std::string& text) const {
    if (!gbk_) {
      return text;
    }
    std::optional<std::string> encoded = text::utf8ToGbk(text);
    if (!encoded) {
      throw SettingsWriteError(file_);
    }
    return std::move(*encoded);
  }

 private:
  const fs::path& file_;
  bool gbk_;
};

// The file's bytes with the key written, read from `in` line by line: every other
// line goes over as it was. Costs the size of the file, not a structure per line.
std::string rewrite(const fs::path& file, std::istream* in, const detail::FileFacts& facts,
                    std::string_view section, std::string_view key, std::string_view value) {
  const Encoder encode(file, facts.encoding);
  const std::string_view newline = facts.newline.empty() ? detail::kPlatformNewline : facts.newline;
  const std::string keyLine = std::string(key) + "=" + std::string(value);
  std::string out;
  std::error_code ec;
  if (const std::uintmax_t size = fs::file_size(file, ec); !ec) {
    out.reserve(static_cast<std::size_t>(size) + keyLine.size() * 3 + section.size() * 2 + 16);
  }
  out.append("\xEF\xBB\xBF", facts.bomLength);

  enum class State { Seeking, InSection, Done } state = State::Seeking;
  std::size_t insertAt = 0;  // after the section's last line that is not blank
  // Into the section, after its last line that is not blank, so blank lines between
  // sections stay where they are.
  const auto insertKey = [&] {
    std::string line = encode(keyLine) + std::string(newline);
    if (out[insertAt - 1] != '\n') {
      line.insert(0, newline);
    }
    out.insert(insertAt, line);
  };
  if (in != nullptr) {
    detail::LineBlocks blocks(*in);
    const detail::LineReader reader(facts.encoding);
    for (std::string_view block = blocks.next(); !block.empty(); block = blocks.next()) {
      while (!block.empty() && state != State::Done) {
        const std::size_t length = std::min(block.find('\n'), block.size() - 1) + 1;
        const std::string_view raw = block.substr(0, length);
        block.remove_prefix(length);
        const std::string_view line = trimmed(raw);
        const bool inSection = state == State::InSection;
        const Line meaning = detail::mayMatter(line, inSection)
                                 ? reader.classify(detail::withoutBreak(raw))
                                 : Line{};
        if (meaning.kind == Line::Kind::Section && inSection) {
          insertKey();
          state = State::Done;
        } else if (meaning.kind == Line::Kind::Section) {
          state = text::equalsIgnoringAsciiCase(meaning.name, section) ? State::InSection : state;
        } else if (inSection && meaning.kind == Line::Kind::Key &&
                   text::equalsIgnoringAsciiCase(meaning.name, key)) {
          // The key keeps its spelling and its line break.
          out += encode(meaning.name + "=" + std::string(value));
          out += raw.substr(detail::withoutBreak(raw).size());
          state = State::Done;
          continue;
        }
        out += raw;
        if (state == State::InSection && !line.empty()) {
          insertAt = out.size();
        }
      }
      out += block;  // the rest, once the key is written
    }
    if (blocks.failed()) {
      throw SettingsWriteError(file);
    }
  }
  if (state == State::InSection) {
    insertKey();
  } else if (state == State::Seeking) {
    if (out.size() > facts.bomLength && out.back() != '\n') {
      out += newline;
    }
    out += encode("[" + std::string(section) + "]") + std::string(newline);
    out += encode(keyLine) + std::string(newline);
  }

  // The encoding is told from the whole file when it is read. Lines written in GBK
  // into a file that then holds only valid UTF-8 (its other GBK bytes were in the
  // line replaced, or the new text happens to be valid UTF-8 as well) would read as
  // UTF-8 from now on. A comment line before the first section, GBK that is not
  // UTF-8, keeps it GBK; it is no key and changes how no other line reads.
  if (encode.gbk() && !text::isAscii(out) && text::isValidUtf8(out)) {
    out.insert(0, encode("; 本文件为 GBK 编码") + std::string(newline));
  }
  return out;
}

}  // namespace

namespace detail {

fs::path temporaryName(const fs::path& target) {
  fs::path name = target;
  name += "." + randomSuffix() + ".tmp";
  return name;
}

}  // namespace detail

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

  // Write through a symbolic link rather than replacing the link with a file: the
  // one beside the program, which may lead out of a directory the operators cannot
  // write. A link found where it leads may have been planted by anyone who can write
  // there, and is not followed.
  fs::path target = path_;
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(path_, ec))) {
    target = path_.parent_path() / fs::read_symlink(path_, ec);
    if (ec || fs::is_symlink(fs::symlink_status(target, ec))) {
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
  std::string written = rewrite(path_, text ? &text->lines() : nullptr,
                                text ? text->facts() : detail::FileFacts{}, section, key, value);
  if (text && text->utf16()) {
    // Every other line must come back exactly as it was.
    if (text->lossy()) {
      throw SettingsWriteError(path_);
    }
    written = utf16LeBytes(written);
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

}  // namespace upgrade
