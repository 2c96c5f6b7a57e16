#include "command_line.h"

#include <string_view>

namespace upgrade::app {
namespace {

template <typename Char>
bool isUnattendedOption(std::basic_string_view<Char> argument) {
  // Windows takes switches in any letter case; a mistyped case must not fall back
  // to a run that waits for a display nobody watches.
  const auto equals = [argument](std::string_view option) {
    if (argument.size() != option.size()) {
      return false;
    }
    for (std::size_t i = 0; i < option.size(); ++i) {
      Char c = argument[i];
      if (c >= Char('A') && c <= Char('Z')) {
        c = static_cast<Char>(c - Char('A') + Char('a'));
      }
      if (c != static_cast<Char>(option[i])) {
        return false;
      }
    }
    return true;
  };
  return equals("--unattended") || equals("/unattended");
}

template <typename Char>
bool anyUnattendedOption(int argc, const Char* const* argv) {
  for (int i = 1; i < argc && argv != nullptr; ++i) {
    if (argv[i] != nullptr && isUnattendedOption(std::basic_string_view<Char>(argv[i]))) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool unattendedRequested(int argc, const char* const* argv) noexcept {
  return anyUnattendedOption(argc, argv);
}

bool unattendedRequested(int argc, const wchar_t* const* argv) noexcept {
  return anyUnattendedOption(argc, argv);
}

}  // namespace upgrade::app
