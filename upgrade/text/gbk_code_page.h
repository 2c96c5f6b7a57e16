// Code page 936 as each platform converts it: Windows' own tables there, glibc's
// iconv "CP936" elsewhere. Both give Microsoft's code page, the one the suite's
// Windows programs write (0x80 is the euro sign). Private to the text library.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace upgrade::text::detail {

class GbkDecoder {
 public:
  GbkDecoder();
  ~GbkDecoder();
  GbkDecoder(const GbkDecoder&) = delete;
  GbkDecoder& operator=(const GbkDecoder&) = delete;

  // The bytes as UTF-8, or nullopt when any of them is not a character of the code
  // page (an incomplete one at the end included).
  [[nodiscard]] std::optional<std::string> decode(std::string_view gbk) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Valid UTF-8 to code page 936; nullopt when a character has no place in it.
[[nodiscard]] std::optional<std::string> encodeGbk(std::string_view utf8);

}  // namespace upgrade::text::detail
