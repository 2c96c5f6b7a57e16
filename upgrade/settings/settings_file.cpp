#include "settings_file.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>
#include <vector>

#include "ascii_case.h"
#include "text_encoding.h"

#include "settings_file_platform.h"

namespace upgrade {
namespace fs = std::filesystem;

namespace {

std::string pathText(const fs::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

// ---------------------------------------------------------------------------
// Text helpers

bool isBlank(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view s) noexcept {
  while (!s.empty() && isBlank(s.front())) {
    s.remove_prefix(1);
  }
  while (!s.empty() && isBlank(s.back())) {
    s.remove_suffix(1);
  }
  return s;
}

// ---------------------------------------------------------------------------
// The file as lines

enum class Encoding { Ascii, Utf8, Gbk, Utf16 };

struct Line {
  enum class Kind { Other, Section, Key };
  std::string raw;  // as in the file, line break included
  Kind kind = Kind::Other;
  std::string name;   // section or key name, decoded and trimmed
  std::string value;  // decoded text after the first '='
};

struct Document {
  std::string bom;
  std::vector<Line> lines;
  Encoding encoding = Encoding::Ascii;
  std::string newline;

  [[nodiscard]] std::string bytes() const {
    std::string out = bom;
    for (const Line& line : lines) {
      out += line.raw;
    }
    return out;
  }
};

Line classify(std::string raw, const std::string& text) {
  Line line;
  line.raw = std::move(raw);
  const std::string_view body = trimmed(text);
  if (!body.empty() && body.front() == '[') {
    const std::size_t close = body.find(']');
    if (close != std::string_view::npos) {
      line.kind = Line::Kind::Section;
      line.name = trimmed(body.substr(1, close - 1));
      return line;
    }
  }
  const std::size_t equals = text.find('=');
  if (equals != std::string::npos) {
    line.kind = Line::Kind::Key;
    line.name = trimmed(std::string_view(text).substr(0, equals));
    line.value = text.substr(equals + 1);
  }
  return line;
}

Document parse(std::string_view bytes) {
  Document doc;
  if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
    doc.encoding = Encoding::Utf16;
    return doc;
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    doc.bom = bytes.substr(0, 3);
    bytes.remove_prefix(3);
    doc.encoding = Encoding::Utf8;
  } else if (text::isAscii(bytes)) {
    doc.encoding = Encoding::Ascii;
  } else {
    doc.encoding = text::isValidUtf8(bytes) ? Encoding::Utf8 : Encoding::Gbk;
  }

  const std::size_t firstBreak = bytes.find('\n');
  if (firstBreak == std::string_view::npos) {
    doc.newline = detail::kPlatformNewline;
  } else {
    doc.newline = (firstBreak > 0 && bytes[firstBreak - 1] == '\r') ? "\r\n" : "\n";
  }

  // '\n' is never part of a multi-byte GBK or UTF-8 character, so lines can be cut
  // before decoding, and each line keeps its own bytes for writing back.
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    const std::size_t length = end == std::string_view::npos ? bytes.size() : end + 1;
    const std::string_view raw = bytes.substr(0, length);
    std::string_view content = raw;
    while (!content.empty() && (content.back() == '\n' || content.back() == '\r')) {
      content.remove_suffix(1);
    }
    const std::string text =
        doc.encoding == Encoding::Gbk ? text::gbkToUtf8(content) : text::sanitiseUtf8(content);
    doc.lines.push_back(classify(std::string(raw), text));
    bytes.remove_prefix(length);
  }
  return doc;
}

struct Location {
  std::optional<std::size_t> section;  // line of the first matching section header
  std::optional<std::size_t> key;      // line of the first matching key in it
  std::size_t sectionEnd = 0;          // first line after the section
};

Location find(const Document& doc, std::string_view section, std::string_view key) {
  Location at;
  const std::size_t count = doc.lines.size();
  for (std::size_t i = 0; i < count; ++i) {
    const Line& line = doc.lines[i];
    if (line.kind == Line::Kind::Section && equalsIgnoringAsciiCase(line.name, section)) {
      at.section = i;
      break;
    }
  }
  if (!at.section) {
    return at;
  }
  std::size_t i = *at.section + 1;
  for (; i < count && doc.lines[i].kind != Line::Kind::Section; ++i) {
    const Line& line = doc.lines[i];
    if (!at.key && line.kind == Line::Kind::Key && equalsIgnoringAsciiCase(line.name, key)) {
      at.key = i;
    }
  }
  at.sectionEnd = i;
  return at;
}

// ---------------------------------------------------------------------------
// File access

enum class LoadStatus { Ok, Missing, Unreadable };

LoadStatus load(const fs::path& path, std::string& bytes) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec || !fs::exists(status)) {
    // A parent that is not a directory means the file cannot exist either.
    if (!ec || ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory) {
      return LoadStatus::Missing;
    }
    return LoadStatus::Unreadable;
  }
  if (!fs::is_regular_file(status)) {
    return LoadStatus::Unreadable;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return LoadStatus::Unreadable;
  }
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) {
    return LoadStatus::Unreadable;
  }
  bytes = std::move(content).str();
  return LoadStatus::Ok;
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

SettingsWriteError::SettingsWriteError(const fs::path& file, std::string_view reason)
    : std::runtime_error("Unable to write to " + pathText(file) + ": " + std::string(reason)) {}

std::string SettingsFile::readString(std::string_view section, std::string_view key,
                                     std::string_view defaultValue) const {
  std::string bytes;
  if (load(path_, bytes) != LoadStatus::Ok) {
    return std::string(defaultValue);
  }
  const Document doc = parse(bytes);
  const Location at = find(doc, section, key);
  if (!at.key) {
    return std::string(defaultValue);
  }
  std::string_view value = trimmed(doc.lines[*at.key].value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(text::firstCharacters(value, kMaxValueLength));
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

  // Write through a symbolic link rather than replacing the link with a file.
  fs::path target = path_;
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(path_, ec))) {
    target = fs::weakly_canonical(path_, ec);
    if (ec) {
      throw SettingsWriteError(path_);
    }
  }

  std::string bytes;
  // A file that exists but cannot be read must not be replaced by one that holds
  // only this key.
  if (load(target, bytes) == LoadStatus::Unreadable) {
    throw SettingsWriteError(path_);
  }
  Document doc = parse(bytes);
  if (doc.encoding == Encoding::Utf16) {
    // Lines in another encoding would corrupt it.
    throw SettingsWriteError(path_);
  }

  // New text goes in the file's own encoding. A file of plain ASCII can take either;
  // it takes the platform's: the ANSI code page on Windows, UTF-8 elsewhere.
  const auto encode = [&](const std::string& text) -> std::string {
    const bool gbk = doc.encoding == Encoding::Gbk ||
                     (detail::kAsciiFilesTakeAnsiCodePage && doc.encoding == Encoding::Ascii);
    if (!gbk) {
      return text;
    }
    std::optional<std::string> encoded = text::utf8ToGbk(text);
    if (!encoded) {
      throw SettingsWriteError(path_);
    }
    return std::move(*encoded);
  };
  const auto terminate = [&](std::size_t lineIndex) {
    std::string& raw = doc.lines[lineIndex].raw;
    if (!raw.empty() && raw.back() != '\n') {
      raw += doc.newline;
    }
  };

  const Location at = find(doc, section, key);
  if (at.key) {
    Line& line = doc.lines[*at.key];
    const bool hadBreak = !line.raw.empty() && line.raw.back() == '\n';
    const std::size_t breakLength =
        hadBreak ? (line.raw.ends_with("\r\n") ? std::size_t{2} : std::size_t{1}) : 0;
    const std::string lineBreak = line.raw.substr(line.raw.size() - breakLength);
    line.raw = encode(line.name + "=" + std::string(value)) + lineBreak;
  } else if (at.section) {
    // After the section's last non-blank line, so blank lines between sections stay
    // where they are.
    std::size_t insertAt = at.sectionEnd;
    while (insertAt > *at.section + 1 && trimmed(doc.lines[insertAt - 1].raw).empty()) {
      --insertAt;
    }
    terminate(insertAt - 1);
    Line line;
    line.raw = encode(std::string(key) + "=" + std::string(value)) + doc.newline;
    doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(line));
  } else {
    if (!doc.lines.empty()) {
      terminate(doc.lines.size() - 1);
    }
    Line header;
    header.raw = encode("[" + std::string(section) + "]") + doc.newline;
    Line line;
    line.raw = encode(std::string(key) + "=" + std::string(value)) + doc.newline;
    doc.lines.push_back(std::move(header));
    doc.lines.push_back(std::move(line));
  }

  // The encoding is told from the whole file when it is read. A GBK file whose last
  // non-UTF-8 bytes were in the replaced line would read as UTF-8 from now on, and
  // every other non-ASCII line (or the new one) with it; such a write is refused.
  const std::string written = doc.bytes();
  if (doc.encoding == Encoding::Gbk && !text::isAscii(written) && text::isValidUtf8(written)) {
    throw SettingsWriteError(path_, "the file would no longer read as GBK");
  }
  if (!detail::replaceFile(target, written)) {
    throw SettingsWriteError(path_);
  }
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
