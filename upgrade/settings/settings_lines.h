// How the settings file is taken in: in blocks of whole lines, so that memory stays
// bounded by the longest line whatever the size of the file; its encoding, told from
// the whole file in one pass; what a line means once decoded. Private to the
// settings library.
#pragma once

#include <cstddef>
#include <istream>
#include <optional>
#include <streambuf>
#include <string>
#include <string_view>

#include "text_encoding.h"

namespace upgrade::settings::detail {

// A line without its line break ("\n" or "\r\n").
inline std::string_view withoutBreak(std::string_view line) noexcept {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
    line.remove_suffix(1);
  }
  return line;
}

// Reads a stream in blocks that end just after a line break, or at the end of the
// stream. '\n' is never part of a GBK or UTF-8 character, so a block holds whole
// characters and can be checked and decoded on its own.
class LineBlocks {
 public:
  explicit LineBlocks(std::istream& in) : in_(in) {}

  // The next block, its last line perhaps without a break at the end of the file;
  // empty at the end or when reading fails. Valid until the next call.
  [[nodiscard]] std::string_view next();
  [[nodiscard]] bool failed() const noexcept { return failed_; }

 private:
  std::istream& in_;
  std::string buffer_;
  std::size_t filled_ = 0;
  std::size_t handedOut_ = 0;
  bool failed_ = false;
};

enum class Encoding { Ascii, Utf8, Gbk, Utf16Le, Utf16Be };

struct FileFacts {
  Encoding encoding = Encoding::Ascii;
  std::size_t bomLength = 0;  // a UTF-8 or UTF-16 byte order mark
  std::string_view newline;   // of the first line; empty when there is no line break
};

// Reads the stream to its end (a GBK file only until its first byte that is not
// UTF-8): UTF-8 if all of it is valid UTF-8, GBK otherwise, unless a byte order mark
// says UTF-8 or UTF-16 (whose text is then examined through Utf16LeDecoder). A
// stream whose encoding is known already (the UTF-8 that Utf16LeDecoder makes) is
// read only as far as its first line break. Nullopt when reading fails.
[[nodiscard]] std::optional<FileFacts> examine(std::istream& in,
                                               std::optional<Encoding> known = std::nullopt);

// The text of a UTF-16 little-endian stream (Notepad's "Unicode", which Windows'
// profile functions read and write) as UTF-8, from where the stream stands, a block
// at a time: the lines are then read as those of a UTF-8 file. An unpaired surrogate
// or a lone last byte becomes U+FFFD.
class Utf16LeDecoder final : public std::streambuf {
 public:
  explicit Utf16LeDecoder(std::istream& in) : in_(in) {}

  // Whether the text so far was not UTF-16 throughout: written back, it would not be
  // the same.
  [[nodiscard]] bool lossy() const noexcept { return lossy_; }

 protected:
  int_type underflow() override;

 private:
  std::istream& in_;
  std::string bytes_;    // read and not yet decoded: a lone byte, a high surrogate
  std::string decoded_;  // the get area
  bool lossy_ = false;
};

struct Line {
  enum class Kind { Other, Section, Key };
  Kind kind = Kind::Other;
  std::string name;   // section or key name, decoded and trimmed
  std::string value;  // decoded text after the first '=', as it stands
};

// Whether a line (its first non-blank byte first) can be a section header or, within
// a section, a key, judged from its bytes alone: '[' and '=' are never part of a GBK
// or UTF-8 character where they can be either.
[[nodiscard]] inline bool mayMatter(std::string_view fromFirstNonBlank, bool inSection) noexcept {
  return fromFirstNonBlank.starts_with('[') ||
         (inSection && fromFirstNonBlank.find('=') != std::string_view::npos);
}

// Decodes and classifies the lines of one file, with one converter for all of them.
class LineReader {
 public:
  explicit LineReader(Encoding encoding) : encoding_(encoding) {}

  // A line without its break. A ']' can be the second byte of a GBK character, so the
  // line is decoded before it is classified.
  [[nodiscard]] Line classify(std::string_view line) const;

 private:
  Encoding encoding_;
  text::GbkToUtf8 gbk_;
};

}  // namespace upgrade::settings::detail
