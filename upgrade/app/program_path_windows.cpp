#include <windows.h>

#include <stdexcept>
#include <string>

#include "program_path.h"

namespace upgrade::app {

std::filesystem::path programDirectory() {
  // Long paths are allowed; the buffer grows until the name fits.
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) {
      throw std::runtime_error("the program's own file is unknown");
    }
    if (length < name.size()) {
      name.resize(length);
      return std::filesystem::path(name).parent_path();
    }
    name.resize(name.size() * 2);
  }
}

}  // namespace upgrade::app
