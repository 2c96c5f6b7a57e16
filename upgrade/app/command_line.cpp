#include "command_line.h"

#include <string_view>

namespace upgrade {
namespace {

template <typename Char>
bool isUnattendedOption(std::basic_string_view<Char> argument) {
  constexpr std::string_view kLong = "--unattended";
  constexpr std::string_view kSwitch = "/unattended";
  const auto equals = [argument](std::string_view option, bool foldCase) {
    if (argument.size() != option.size()) {
      return false;
    }
    for (std::size_t i = 0; i < option.size(); ++i) {
      Char c = argument[i];
      if (foldCase && c >= Char('A') && c <= Char('Z')) {
        c = static_cast<Char>(c - Char('A') + Char('a'));
      }
      if (c != static_cast<Char>(option[i])) {
        return false;
      }
    }
    return true;
  };
  return equals(kLong, false) || equals(kSwitch, true);
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

}  // namespace upgrade
