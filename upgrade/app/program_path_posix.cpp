#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "program_path.h"

namespace upgrade::app {

std::filesystem::path programDirectory() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    throw std::runtime_error("the program's own file is unknown: " + error.message());
  }
  return self.parent_path();
}

}  // namespace upgrade::app
