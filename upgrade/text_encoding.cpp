#include "text_encoding.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>

#include <cerrno>
#endif

namespace upgrade::text {
namespace {

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

#ifdef _WIN32

constexpr unsigned kGbkCodePage = 936;

std::wstring toWide(std::string_view bytes, unsigned codePage, DWORD flags) {
  if (bytes.empty()) {
    return {};
  }
  const int size = static_cast<int>(bytes.size());
  const int wide = MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
  if (wide <= 0) {
    return {};
  }
  std::wstring out(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(codePage, flags, bytes.data(), size, out.data(), wide);
  return out;
}

std::optional<std::string> fromWide(const std::wstring& wide, unsigned codePage) {
  if (wide.empty()) {
    return std::string();
  }
  const int size = static_cast<int>(wide.size());
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultPtr = codePage == CP_UTF8 ? nullptr : &usedDefault;
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int length =
      WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, usedDefaultPtr);
  if (length <= 0 || usedDefault) {
    return std::nullopt;
  }
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(codePage, flags, wide.data(), size, out.data(), length, nullptr, nullptr);
  return out;
}

// One GBK character (one or two bytes) as UTF-8, or nullopt when the code page has
// no character there.
class GbkDecoder {
 public:
  std::optional<std::string> decode(std::string_view gbk) const {
    const std::wstring wide = toWide(gbk, kGbkCodePage, MB_ERR_INVALID_CHARS);
    if (wide.empty()) {
      return std::nullopt;
    }
    return fromWide(wide, CP_UTF8);
  }
};

std::optional<std::string> encodeGbk(std::string_view utf8) {
  const std::wstring wide = toWide(utf8, CP_UTF8, MB_ERR_INVALID_CHARS);
  if (wide.empty()) {
    return std::nullopt;
  }
  return fromWide(wide, kGbkCodePage);
}

#else

// glibc's "CP936" is Microsoft's code page 936 (with 0x80 as the euro sign), the
// one the suite's Windows programs write.
class Iconv {
 public:
  Iconv(const char* to, const char* from) noexcept : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) {
      iconv_close(cd_);
    }
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  [[nodiscard]] bool ok() const noexcept { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // The whole input converted, or nullopt if any of it cannot be.
  std::optional<std::string> convert(std::string_view input) const {
    if (!ok()) {
      return std::nullopt;
    }
    std::string in(input);
    std::string out(input.size() * 4 + 8, '\0');
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
        iconv(cd_, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
      return std::nullopt;
    }
    out.resize(out.size() - outLeft);
    return out;
  }

 private:
  iconv_t cd_;
};

class GbkDecoder {
 public:
  std::optional<std::string> decode(std::string_view gbk) const { return iconv_.convert(gbk); }

 private:
  Iconv iconv_{"UTF-8", "CP936"};
};

std::optional<std::string> encodeGbk(std::string_view utf8) {
  return Iconv("CP936", "UTF-8").convert(utf8);
}

#endif

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
  for (const char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      return false;
    }
  }
  return true;
}

std::string gbkToUtf8(std::string_view gbk) {
  const GbkDecoder decoder;
  std::string out;
  out.reserve(gbk.size() * 3 / 2);
  for (std::size_t i = 0; i < gbk.size();) {
    if (byteAt(gbk, i) < 0x80) {
      out += gbk[i++];
      continue;
    }
    // A lead byte without a valid trail costs one replacement and no more, so the
    // ASCII after it (a line break, '=', '[') keeps its meaning.
    const std::size_t n = gbkSequenceAt(gbk, i);
    std::optional<std::string> decoded;
    if (n != 0) {
      decoded = decoder.decode(gbk.substr(i, n));
    }
    if (decoded && !decoded->empty()) {
      out += *decoded;
      i += n;
    } else {
      out += kReplacement;
      ++i;
    }
  }
  return out;
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
