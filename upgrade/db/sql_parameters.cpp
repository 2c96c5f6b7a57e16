#include "sql_parameters.h"

#include <algorithm>

namespace upgrade::db {
namespace {

bool isNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// Copies a quoted literal starting at text[i] (the opening quote) into out and
// returns the index just past its end. A doubled closing quote inside a literal is
// part of it, as SQL writes an embedded quote; SQL Server reads "]]" inside a
// bracketed name the same way.
size_t copyLiteral(std::string_view text, size_t i, std::string& out) {
  const char open = text[i];
  const char close = open == '[' ? ']' : open;
  out += text[i++];
  while (i < text.size()) {
    out += text[i];
    if (text[i] == close) {
      if (i + 1 < text.size() && text[i + 1] == close) {
        out += text[i + 1];
        i += 2;
        continue;
      }
      return i + 1;
    }
    ++i;
  }
  return i;
}

}  // namespace

PositionalStatement toPositional(std::string_view text) {
  PositionalStatement result;
  result.text.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\'' || c == '"' || c == '[') {
      i = copyLiteral(text, i, result.text);
    } else if (c == ':' && i + 1 < text.size() && text[i + 1] == ':') {
      result.text += ':';
      i += 2;
    } else if (c == ':' && i + 1 < text.size() && isNameChar(text[i + 1])) {
      size_t end = i + 1;
      while (end < text.size() && isNameChar(text[end])) {
        ++end;
      }
      result.names.emplace_back(text.substr(i + 1, end - i - 1));
      result.text += '?';
      i = end;
    } else {
      result.text += c;
      ++i;
    }
  }
  return result;
}

std::vector<std::string> parameterNames(std::string_view text) {
  std::vector<std::string> distinct;
  for (auto& name : toPositional(text).names) {
    if (std::find(distinct.begin(), distinct.end(), name) == distinct.end()) {
      distinct.push_back(std::move(name));
    }
  }
  return distinct;
}

}  // namespace upgrade::db
