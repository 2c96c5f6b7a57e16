#include "scratch_dir.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace upgrade::testing {

namespace fs = std::filesystem;

ScratchDir::ScratchDir(std::string_view prefix, const fs::path& base) {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = base / (std::string(prefix) + "-" + std::to_string(random()));
    std::error_code ec;
    // False without an error when the name is taken: then another.
    if (fs::create_directory(candidate, ec)) {
      fs::permissions(candidate, fs::perms::owner_all, ec);
      path_ = candidate;
      return;
    }
    if (ec) {
      throw fs::filesystem_error("cannot make a scratch directory", candidate, ec);
    }
  }
  throw std::runtime_error("no free name for a scratch directory under " + base.string());
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace upgrade::testing
