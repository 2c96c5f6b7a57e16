// The program's own executable file, one implementation per platform.
#pragma once

#include <filesystem>

namespace upgrade::app {

// The directory that holds the running program's executable file, symbolic links
// resolved. Throws std::runtime_error when the system does not say.
[[nodiscard]] std::filesystem::path programDirectory();

}  // namespace upgrade::app
