// UTF-8 <-> UTF-16 for the wide ODBC calls. Our texts are UTF-8 everywhere; SQL
// Server speaks UTF-16, and SQLWCHAR is a 16-bit unit both under unixODBC and on
// Windows. The core is also built for Windows without Qt, so the conversion is ours.
#pragma once

#include <string>
#include <string_view>

namespace upgrade::text {

// Malformed input (a stray continuation byte, a truncated or overlong sequence, an
// encoded surrogate) becomes U+FFFD, so a bad byte never swallows its neighbours.
std::u16string toUtf16(std::string_view utf8);

// An unpaired surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view utf16);

}  // namespace upgrade::text
