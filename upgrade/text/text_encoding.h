// Text encodings of the settings file. The suite's other programs run on Windows
// with the Chinese ANSI code page (936, GBK), so a System.ini written by them holds
// GBK bytes; one written here or by a modern editor holds UTF-8. Everything inside
// the program is UTF-8.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace upgrade::text {

namespace detail {
class GbkDecoder;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
[[nodiscard]] bool isValidUtf8(std::string_view bytes) noexcept;
[[nodiscard]] bool isAscii(std::string_view bytes) noexcept;

// GBK (code page 936) to UTF-8. Never fails: a byte sequence that is not GBK
// becomes U+FFFD, one per offending byte. Made for many texts in a row (the lines
// of a file): opening the platform's converter costs more than converting a line,
// so one is kept for all of them.
class GbkToUtf8 {
 public:
  GbkToUtf8();
  ~GbkToUtf8();
  GbkToUtf8(const GbkToUtf8&) = delete;
  GbkToUtf8& operator=(const GbkToUtf8&) = delete;

  [[nodiscard]] std::string operator()(std::string_view gbk) const;

 private:
  // Opened at the first text that is not ASCII.
  mutable std::unique_ptr<detail::GbkDecoder> decoder_;
};

// GBK to UTF-8 where every byte must be part of a GBK character; nullopt
// otherwise. For texts that may be in another encoding altogether.
[[nodiscard]] std::optional<std::string> decodeGbk(std::string_view gbk);

// UTF-8 to GBK; nullopt when the text holds a character that GBK cannot express
// (or is not valid UTF-8).
[[nodiscard]] std::optional<std::string> utf8ToGbk(std::string_view utf8);

// UTF-8 with every invalid sequence replaced by U+FFFD.
[[nodiscard]] std::string sanitiseUtf8(std::string_view bytes);

// The first `limit` characters (code points) of a UTF-8 text.
[[nodiscard]] std::string_view firstCharacters(std::string_view utf8, std::size_t limit) noexcept;

}  // namespace upgrade::text
