// Text of any origin (the server, the driver, System.ini) made fit for one line of
// a log that people read in terminals, editors and viewers. A line break of any
// kind would let the text forge lines of its own, controls can rewrite what a
// terminal shows, and a bidirectional override can turn the rest of a line around.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace upgrade::text {

// One line of valid UTF-8:
// - every run of line or paragraph breaks (CR, LF, VT, FF, U+0085, U+2028, U+2029)
//   becomes " / "; breaks at either end are dropped;
// - every other C0 or C1 control, and DEL, becomes a space;
// - a bidirectional embedding, override or isolate (U+202A to U+202E, U+2066 to
//   U+2069) becomes a visible escape such as "<U+202E>";
// - bytes that are not UTF-8 become U+FFFD.
[[nodiscard]] std::string safeLine(std::string_view text);

// The text with every occurrence of each non-empty secret replaced by "***".
[[nodiscard]] std::string masked(std::string_view text, const std::vector<std::string>& secrets);

}  // namespace upgrade::text
