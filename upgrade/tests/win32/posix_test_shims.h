// The one POSIX call the settings and start-up tests make that mingw-w64's C runtime
// lacks: mkdtemp, for their scratch directories. Included ahead of every source of
// those tests in the Windows build only.
#pragma once

#ifdef _WIN32
#include <direct.h>
#include <errno.h>
#include <io.h>
#include <string.h>

// Replaces the trailing XXXXXX of `pattern` with a name that is free and creates that
// directory; returns `pattern`, or null when no name could be made.
inline char* mkdtemp(char* pattern) {
  const size_t length = strlen(pattern);
  if (length < 6 || strcmp(pattern + length - 6, "XXXXXX") != 0) {
    errno = EINVAL;
    return nullptr;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    memcpy(pattern + length - 6, "XXXXXX", 6);
    if (_mktemp_s(pattern, length + 1) != 0) {
      return nullptr;
    }
    if (_mkdir(pattern) == 0) {
      return pattern;
    }
    if (errno != EEXIST) {
      return nullptr;
    }
  }
  return nullptr;
}
#endif
