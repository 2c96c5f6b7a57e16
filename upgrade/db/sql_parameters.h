// Named parameter markers in statement texts (":a1"), as the step query writes
// them. Drivers only understand positional '?' markers, so the text is rewritten
// and the names are returned in marker order for binding.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace upgrade::db {

struct PositionalStatement {
  std::string text;                // ':name' replaced by '?'
  std::vector<std::string> names;  // one per '?', in order; a name may repeat
};

// A marker is a colon followed by a letter, digit or underscore, outside quoted
// literals ('...', "..." and [...]). "::" stands for a literal colon.
PositionalStatement toPositional(std::string_view text);

// The distinct parameter names of a text, in order of first appearance.
std::vector<std::string> parameterNames(std::string_view text);

}  // namespace upgrade::db
