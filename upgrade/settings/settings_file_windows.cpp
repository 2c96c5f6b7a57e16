#include <windows.h>

#include <algorithm>

#include "settings_file_platform.h"

namespace upgrade::settings::detail {

const std::string_view kPlatformNewline = "\r\n";
const bool kAsciiFilesTakeAnsiCodePage = true;

namespace fs = std::filesystem;

bool replaceFile(const fs::path& target, std::string_view bytes) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    const fs::path temporary = temporaryName(target);
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) {
        continue;
      }
      return false;
    }
    bool ok = true;
    while (ok && !bytes.empty()) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
      ok = WriteFile(file, bytes.data(), chunk, &written, nullptr) != 0 && written > 0;
      bytes.remove_prefix(written);
    }
    ok = ok && FlushFileBuffers(file) != 0;
    ok = (CloseHandle(file) != 0) && ok;
    ok = ok && MoveFileExW(temporary.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) {
      DeleteFileW(temporary.c_str());
    }
    return ok;
  }
  return false;
}

}  // namespace upgrade::settings::detail
