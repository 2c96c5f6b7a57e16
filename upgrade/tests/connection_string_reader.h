// A connection string read back as the drivers read it, written apart from the code
// that builds it, so that a test or fuzz target can check what a driver would be
// given: keyword, '=', then a value up to ';', or a value in braces.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace upgrade::testing {

using ConnectionAttributes = std::map<std::string, std::string>;

// How a braced value ends, which is where the readers differ:
//  - Standard (unixODBC, Microsoft's drivers, FreeTDS 1.4): at a '}' that is not
//    doubled; "}}" stands for '}'.
//  - FreeTds13 (FreeTDS before 1.4): at the first '}' followed by ';', with "}}"
//    kept as it is.
enum class BraceReading { Standard, FreeTds13 };

// The attributes, or nullopt when the text is not keyword=value pairs (an
// unterminated brace, text after a closing brace) or a keyword appears twice, which
// would be an injection; why then says which.
[[nodiscard]] std::optional<ConnectionAttributes> readConnectionString(std::string_view text,
                                                                       BraceReading reading,
                                                                       std::string* why = nullptr);

}  // namespace upgrade::testing
