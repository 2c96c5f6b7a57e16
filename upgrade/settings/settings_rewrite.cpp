#include "settings_rewrite.h"

#include <cstdint>
#include <optional>
#include <random>
#include <system_error>

#include "ascii.h"
#include "settings_file.h"
#include "settings_file_platform.h"
#include "text_encoding.h"
#include "utf16.h"

namespace upgrade::settings::detail {
namespace fs = std::filesystem;

namespace {

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
             (kAsciiFilesTakeAnsiCodePage && encoding == Encoding::Ascii)) {}

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

}  // namespace

std::string rewrite(const fs::path& file, std::istream* in, const FileFacts& facts,
                    std::string_view section, std::string_view key, std::string_view value) {
  const Encoder encode(file, facts.encoding);
  const std::string_view newline = facts.newline.empty() ? kPlatformNewline : facts.newline;
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
    LineBlocks blocks(*in);
    const LineReader reader(facts.encoding);
    for (std::string_view block = blocks.next(); !block.empty(); block = blocks.next()) {
      while (!block.empty() && state != State::Done) {
        const std::size_t length = std::min(block.find('\n'), block.size() - 1) + 1;
        const std::string_view raw = block.substr(0, length);
        block.remove_prefix(length);
        const std::string_view line = text::trimmed(raw);
        const bool inSection = state == State::InSection;
        const Line meaning =
            mayMatter(line, inSection) ? reader.classify(withoutBreak(raw)) : Line{};
        if (meaning.kind == Line::Kind::Section && inSection) {
          insertKey();
          state = State::Done;
        } else if (meaning.kind == Line::Kind::Section) {
          state = text::equalsIgnoringAsciiCase(meaning.name, section) ? State::InSection : state;
        } else if (inSection && meaning.kind == Line::Kind::Key &&
                   text::equalsIgnoringAsciiCase(meaning.name, key)) {
          // The key keeps its spelling and its line break.
          out += encode(meaning.name + "=" + std::string(value));
          out += raw.substr(withoutBreak(raw).size());
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

fs::path temporaryName(const fs::path& target) {
  fs::path name = target;
  name += "." + randomSuffix() + ".tmp";
  return name;
}

}  // namespace upgrade::settings::detail
