#include "utf16.h"

namespace upgrade::text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isContinuation(unsigned char byte) {
  return (byte & 0xC0U) == 0x80U;
}

void appendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800U + (cp >> 10));
    out += static_cast<char16_t>(0xDC00U + (cp & 0x3FFU));
  }
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0U | (cp >> 6));
    out += static_cast<char>(0x80U | (cp & 0x3FU));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0U | (cp >> 12));
    out += static_cast<char>(0x80U | ((cp >> 6) & 0x3FU));
    out += static_cast<char>(0x80U | (cp & 0x3FU));
  } else {
    out += static_cast<char>(0xF0U | (cp >> 18));
    out += static_cast<char>(0x80U | ((cp >> 12) & 0x3FU));
    out += static_cast<char>(0x80U | ((cp >> 6) & 0x3FU));
    out += static_cast<char>(0x80U | (cp & 0x3FU));
  }
}

}  // namespace

std::u16string toUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    size_t length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
      out += static_cast<char16_t>(lead);
      ++i;
      continue;
    }
    if ((lead & 0xE0U) == 0xC0U) {
      length = 2;
      cp = lead & 0x1FU;
      minimum = 0x80;
    } else if ((lead & 0xF0U) == 0xE0U) {
      length = 3;
      cp = lead & 0x0FU;
      minimum = 0x800;
    } else if ((lead & 0xF8U) == 0xF0U) {
      length = 4;
      cp = lead & 0x07U;
      minimum = 0x10000;
    } else {
      out += static_cast<char16_t>(kReplacement);
      ++i;
      continue;
    }
    size_t taken = 1;
    while (taken < length && i + taken < utf8.size() &&
           isContinuation(static_cast<unsigned char>(utf8[i + taken]))) {
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + taken]) & 0x3FU);
      ++taken;
    }
    i += taken;
    const bool complete = taken == length;
    const bool valid = complete && cp >= minimum && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    appendUtf16(out, valid ? cp : kReplacement);
  }
  return out;
}

std::string toUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 3);
  size_t i = 0;
  while (i < utf16.size()) {
    const char32_t unit = utf16[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (char32_t{utf16[i + 1]} - 0xDC00));
      i += 2;
    } else {
      appendUtf8(out, unit >= 0xD800 && unit <= 0xDFFF ? kReplacement : unit);
      ++i;
    }
  }
  return out;
}

}  // namespace upgrade::text
