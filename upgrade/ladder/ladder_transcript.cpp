// ladder-transcript: shows exactly what Update would send to the database, by
// running the real ladder over the simulated database and printing its journal as
// JSON Lines. Administrators use it to preview an upgrade; the tests use it as the
// ladder's outside view.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "transcript.h"

namespace {

void usage(std::FILE* out) {
  std::fputs(
      "usage: ladder-transcript [--version TEXT] [--xmlb-rows N] [--fail TEXT]...\n"
      "  Runs the upgrade ladder against a simulated database and prints every\n"
      "  operation as a JSON line, in the order Update would send it.\n"
      "  --version TEXT   ver.ver1 at the start (default 1.0.0.0.0; '' is the empty text)\n"
      "  --xmlb-rows N    rows the ensure step's xmlb query finds (default 0)\n"
      "  --fail TEXT      every open or execute whose text contains TEXT fails\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  upgrade::db::SimulatedDatabase::Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    }
    if (arg == "--version" && hasValue) {
      options.version = argv[++i];
    } else if (arg == "--xmlb-rows" && hasValue) {
      const std::string_view value = argv[++i];
      int rows = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), rows);
      if (ec != std::errc() || end != value.data() + value.size() || rows < 0) {
        std::fprintf(stderr, "ladder-transcript: --xmlb-rows needs a whole number >= 0\n");
        return 2;
      }
      options.xmlbRows = rows;
    } else if (arg == "--fail" && hasValue) {
      options.failOn.emplace_back(argv[++i]);
    } else {
      usage(stderr);
      return 2;
    }
  }

  const std::string out = upgrade::ladder::ladderTranscript(std::move(options));
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
