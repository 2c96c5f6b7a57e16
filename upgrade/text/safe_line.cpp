#include "safe_line.h"

#include <algorithm>
#include <cstdint>

#include "text_encoding.h"

namespace upgrade::text {
namespace {

// The code point of the valid UTF-8 sequence at s[i]; advances i past it.
std::uint32_t nextCodePoint(std::string_view s, std::size_t& i) noexcept {
  const auto byte = [&s](std::size_t at) { return static_cast<std::uint32_t>(s[at]) & 0xFFu; };
  const std::uint32_t b0 = byte(i);
  std::size_t length = 1;
  std::uint32_t value = b0;
  if (b0 >= 0xF0) {
    length = 4;
    value = b0 & 0x07u;
  } else if (b0 >= 0xE0) {
    length = 3;
    value = b0 & 0x0Fu;
  } else if (b0 >= 0xC0) {
    length = 2;
    value = b0 & 0x1Fu;
  }
  for (std::size_t k = 1; k < length; ++k) {
    value = (value << 6) | (byte(i + k) & 0x3Fu);
  }
  i += length;
  return value;
}

bool isBreak(std::uint32_t c) noexcept {
  return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isControl(std::uint32_t c) noexcept {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool isBidiControl(std::uint32_t c) noexcept {
  return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string safeLine(std::string_view text) {
  const std::string valid = sanitiseUtf8(text);
  const std::string_view s = valid;
  std::string out;
  out.reserve(s.size());
  bool pendingBreak = false;
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t start = i;
    const std::uint32_t c = nextCodePoint(s, i);
    if (isBreak(c)) {
      pendingBreak = !out.empty();
      continue;
    }
    if (pendingBreak) {
      out += " / ";
      pendingBreak = false;
    }
    if (isControl(c)) {
      out += ' ';
    } else if (isBidiControl(c)) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += "<U+";
      for (int shift = 12; shift >= 0; shift -= 4) {
        out += kHex[(c >> shift) & 0xFu];
      }
      out += '>';
    } else {
      out.append(s.substr(start, i - start));
    }
  }
  return out;
}

std::string masked(std::string_view text, const std::vector<std::string>& secrets) {
  // The longest first, so that a secret inside another never leaves the rest of it.
  std::vector<std::string_view> longestFirst(secrets.begin(), secrets.end());
  std::sort(longestFirst.begin(), longestFirst.end(),
            [](std::string_view a, std::string_view b) { return a.size() > b.size(); });
  std::string out(text);
  for (const std::string_view secret : longestFirst) {
    if (secret.empty()) {
      continue;
    }
    for (std::size_t at = out.find(secret); at != std::string::npos;
         at = out.find(secret, at + 3)) {
      out.replace(at, secret.size(), "***");
    }
  }
  return out;
}

}  // namespace upgrade::text
