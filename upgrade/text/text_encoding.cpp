#include "text_encoding.h"

#include <cstdint>
#include <cstring>

#include "gbk_code_page.h"

namespace upgrade::text {
namespace {

using detail::encodeGbk;
using detail::GbkDecoder;

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

unsigned byteAt(std::string_view s, std::size_t i) noexcept {
  return static_cast<unsigned char>(s[i]);
}

// Length of the valid UTF-8 sequence at s[i], or 0 when there is none.
std::size_t utf8SequenceAt(std::string_view s, std::size_t i) noexcept {
  const unsigned b0 = byteAt(s, i);
  if (b0 < 0x80) {
    return 1;
  }
  std::size_t length = 0;
  unsigned low = 0x80;
  unsigned high = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    if (b0 == 0xE0) {
      low = 0xA0;  // overlong
    } else if (b0 == 0xED) {
      high = 0x9F;  // surrogates
    }
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    if (b0 == 0xF0) {
      low = 0x90;  // overlong
    } else if (b0 == 0xF4) {
      high = 0x8F;  // above U+10FFFF
    }
  } else {
    return 0;
  }
  if (i + length > s.size()) {
    return 0;
  }
  const unsigned b1 = byteAt(s, i + 1);
  if (b1 < low || b1 > high) {
    return 0;
  }
  for (std::size_t k = 2; k < length; ++k) {
    const unsigned b = byteAt(s, i + k);
    if (b < 0x80 || b > 0xBF) {
      return 0;
    }
  }
  return length;
}

// Length of the GBK character that starts at s[i]: 1 for ASCII and the single
// byte 0x80, 2 for a lead byte with a valid trail byte, 0 for anything else.
std::size_t gbkSequenceAt(std::string_view s, std::size_t i) noexcept {
  const unsigned b0 = byteAt(s, i);
  if (b0 <= 0x80) {
    return 1;
  }
  if (b0 == 0xFF || i + 1 >= s.size()) {
    return 0;
  }
  const unsigned b1 = byteAt(s, i + 1);
  return (b1 >= 0x40 && b1 <= 0xFE && b1 != 0x7F) ? 2 : 0;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) noexcept {
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t n = utf8SequenceAt(bytes, i);
    if (n == 0) {
      return false;
    }
    i += n;
  }
  return true;
}

bool isAscii(std::string_view bytes) noexcept {
  // Eight bytes at a time: a settings file can be megabytes of blank lines.
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes.data() + i, 8);
    if ((word & 0x8080808080808080u) != 0) {
      return false;
    }
  }
  for (; i < bytes.size(); ++i) {
    if (byteAt(bytes, i) >= 0x80) {
      return false;
    }
  }
  return true;
}

GbkToUtf8::GbkToUtf8() = default;
GbkToUtf8::~GbkToUtf8() = default;

std::string GbkToUtf8::operator()(std::string_view gbk) const {
  std::string out;
  out.reserve(gbk.size() * 3 / 2);
  // One character at i: a lead byte without a valid trail, or a pair the code page
  // leaves unassigned, costs one replacement and no more, so the ASCII after it (a
  // line break, '=', '[') keeps its meaning.
  const auto decodeOne = [&](std::size_t i) -> std::size_t {
    if (byteAt(gbk, i) < 0x80) {
      out += gbk[i];
      return i + 1;
    }
    const std::size_t n = gbkSequenceAt(gbk, i);
    std::optional<std::string> decoded;
    if (n != 0) {
      decoded = decoder_->decode(gbk.substr(i, n));
    }
    if (decoded && !decoded->empty()) {
      out += *decoded;
      return i + n;
    }
    out += kReplacement;
    return i + 1;
  };
  for (std::size_t i = 0; i < gbk.size();) {
    // A run of well-formed characters goes to the converter in one call.
    std::size_t end = i;
    bool ascii = true;
    for (std::size_t n = 0; end < gbk.size() && (n = gbkSequenceAt(gbk, end)) != 0; end += n) {
      ascii = ascii && byteAt(gbk, end) < 0x80;
    }
    if (ascii && end > i) {
      out += gbk.substr(i, end - i);
      i = end;
      continue;
    }
    if (!decoder_) {
      decoder_ = std::make_unique<GbkDecoder>();
    }
    std::optional<std::string> whole;
    if (end > i) {
      whole = decoder_->decode(gbk.substr(i, end - i));
    }
    if (whole && !whole->empty()) {
      out += *whole;
      i = end;
    } else {
      do {
        i = decodeOne(i);
      } while (i < end);
    }
  }
  return out;
}

std::optional<std::string> decodeGbk(std::string_view gbk) {
  if (isAscii(gbk)) {
    return std::string(gbk);
  }
  return GbkDecoder().decode(gbk);
}

std::optional<std::string> utf8ToGbk(std::string_view utf8) {
  if (isAscii(utf8)) {
    return std::string(utf8);
  }
  if (!isValidUtf8(utf8)) {
    return std::nullopt;
  }
  return encodeGbk(utf8);
}

std::string sanitiseUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t n = utf8SequenceAt(bytes, i);
    if (n == 0) {
      out += kReplacement;
      ++i;
    } else {
      out += bytes.substr(i, n);
      i += n;
    }
  }
  return out;
}

std::string_view firstCharacters(std::string_view utf8, std::size_t limit) noexcept {
  std::size_t i = 0;
  for (std::size_t count = 0; i < utf8.size() && count < limit; ++count) {
    ++i;
    while (i < utf8.size() && (byteAt(utf8, i) & 0xC0) == 0x80) {
      ++i;
    }
  }
  return utf8.substr(0, i);
}

}  // namespace upgrade::text
