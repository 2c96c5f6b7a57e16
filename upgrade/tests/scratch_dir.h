// A directory of a test's own, for the files it writes: fresh and empty, readable
// and writable by this user alone, and gone with everything in it when the object
// goes. Tests, soaks and fuzz targets that run side by side never share one.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace upgrade::testing {

class ScratchDir {
 public:
  // Under base (the system's temporary directory unless told), named after what the
  // test is about.
  explicit ScratchDir(std::string_view prefix = "scratch",
                      const std::filesystem::path& base = std::filesystem::temp_directory_path());
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }
  [[nodiscard]] std::filesystem::path operator/(const std::filesystem::path& name) const {
    return path_ / name;
  }

 private:
  std::filesystem::path path_;
};

// A file's bytes as they are; empty when it cannot be read.
[[nodiscard]] std::string readFile(const std::filesystem::path& path);

}  // namespace upgrade::testing
