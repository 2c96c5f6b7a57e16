#include "connection_string_reader.h"

namespace upgrade::testing {

std::optional<ConnectionAttributes> readConnectionString(std::string_view text,
                                                         BraceReading reading, std::string* why) {
  const auto refuse = [&](std::string reason) -> std::optional<ConnectionAttributes> {
    if (why != nullptr) {
      *why = std::move(reason) + " in " + std::string(text);
    }
    return std::nullopt;
  };
  ConnectionAttributes attributes;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t equals = text.find('=', i);
    if (equals == std::string_view::npos) {
      return refuse("trailing text without '='");
    }
    std::string keyword(text.substr(i, equals - i));
    std::string value;
    i = equals + 1;
    if (i < text.size() && text[i] == '{' && reading == BraceReading::Standard) {
      for (++i;; ++i) {
        if (i >= text.size()) {
          return refuse("unterminated braces");
        }
        if (text[i] == '}') {
          if (i + 1 < text.size() && text[i + 1] == '}') {
            value += '}';
            ++i;
            continue;
          }
          ++i;
          break;
        }
        value += text[i];
      }
      if (i < text.size() && text[i] != ';') {
        return refuse("text after a closing brace");
      }
    } else if (i < text.size() && text[i] == '{') {
      const std::size_t close = text.find("};", i + 1);
      const std::size_t end = close == std::string_view::npos ? text.size() : close;
      value = std::string(text.substr(i + 1, end - i - 1));
      i = close == std::string_view::npos ? text.size() : close + 1;
    } else {
      while (i < text.size() && text[i] != ';') {
        value += text[i++];
      }
    }
    if (!attributes.emplace(keyword, std::move(value)).second) {
      return refuse("keyword " + keyword + " appears twice");
    }
    if (i < text.size()) {
      ++i;  // the ';'
    }
  }
  return attributes;
}

}  // namespace upgrade::testing
