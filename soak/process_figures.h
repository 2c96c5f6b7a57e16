// What a soak reports about its own process: open file descriptors and resident
// memory, read from /proc.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <fstream>

namespace soak {

inline std::size_t openDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count - 1;  // the iterator's own
}

inline std::size_t residentKiB() {
  std::ifstream statm("/proc/self/statm");
  std::size_t pages = 0;
  std::size_t resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)) / 1024;
}

}  // namespace soak
