// A property that a fuzz target checks. A broken one prints what and where, then
// aborts, so that libFuzzer keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzing {

[[noreturn]] inline void propertyFailed(const char* property, const char* file, int line,
                                        const std::string& detail) {
  std::fprintf(stderr, "%s:%d: property broken: %s\n  %s\n", file, line, property, detail.c_str());
  std::abort();
}

// A printable form of arbitrary bytes for such messages.
inline std::string escaped(const std::string& bytes) {
  std::string out = "\"";
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F && c != '"' && c != '\\') {
      out += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      out += hex;
    }
  }
  return out + "\"";
}

}  // namespace fuzzing

#define FUZZ_CHECK(condition, detail)                                      \
  do {                                                                     \
    if (!(condition)) {                                                    \
      ::fuzzing::propertyFailed(#condition, __FILE__, __LINE__, (detail)); \
    }                                                                      \
  } while (false)
