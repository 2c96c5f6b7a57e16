// Named parameter markers: whatever the statement text, putting the names back into
// the converted text, read with SQL Server's own quoting rules, gives the original.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "sql_parameters.h"

namespace {

bool isNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// Written apart from the conversion on purpose: '...', "..." and [...] are literals,
// each closed by its own quote unless that quote is doubled ("]]" in brackets too).
// Outside them every '?' takes the next name back and every ':' is doubled again.
struct Restored {
  std::string text;
  std::size_t namesUsed = 0;
  bool hadQuestionMark = false;  // a '?' of the original cannot be told from a marker
};

Restored restore(std::string_view converted, const std::vector<std::string>& names) {
  Restored out;
  std::size_t i = 0;
  while (i < converted.size()) {
    const char c = converted[i];
    if (c == '\'' || c == '"' || c == '[') {
      const char close = c == '[' ? ']' : c;
      out.text += converted[i++];
      while (i < converted.size()) {
        const char d = converted[i++];
        out.text += d;
        if (d == close) {
          if (i < converted.size() && converted[i] == close) {
            out.text += converted[i++];
            continue;
          }
          break;
        }
      }
    } else if (c == '?') {
      if (out.namesUsed < names.size()) {
        out.text += ':' + names[out.namesUsed++];
      } else {
        out.hadQuestionMark = true;
        out.text += '?';
      }
      ++i;
    } else if (c == ':') {
      out.text += "::";
      ++i;
    } else {
      out.text += c;
      ++i;
    }
  }
  return out;
}

// The original with every literal colon outside quotes in the doubled form that
// restore() writes: a lone ':' (not before a name character) means the same either way.
std::string withDoubledColons(std::string_view text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\'' || c == '"' || c == '[') {
      const char close = c == '[' ? ']' : c;
      out += text[i++];
      while (i < text.size()) {
        const char d = text[i++];
        out += d;
        if (d == close) {
          if (i < text.size() && text[i] == close) {
            out += text[i++];
            continue;
          }
          break;
        }
      }
    } else if (c == ':' && i + 1 < text.size() && text[i + 1] == ':') {
      out += "::";
      i += 2;
    } else if (c == ':' && (i + 1 >= text.size() || !isNameChar(text[i + 1]))) {
      out += "::";
      ++i;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string original(reinterpret_cast<const char*>(data), size);
  const upgrade::db::PositionalStatement converted = upgrade::db::toPositional(original);
  const Restored restored = restore(converted.text, converted.names);

  FUZZ_CHECK(restored.namesUsed == converted.names.size(),
             "a name has no marker outside literals: " + fuzzing::escaped(original) + " -> " +
                 fuzzing::escaped(converted.text));
  if (!restored.hadQuestionMark && original.find('?') == std::string::npos) {
    FUZZ_CHECK(restored.text == withDoubledColons(original),
               fuzzing::escaped(original) + " came back as " + fuzzing::escaped(restored.text));
  }
  for (const std::string& name : converted.names) {
    FUZZ_CHECK(!name.empty(), "an empty name from " + fuzzing::escaped(original));
  }
  return 0;
}
