#include "command_line.h"

#include <string>
#include <string_view>

namespace upgrade::app {
namespace {

template <typename Char>
bool isSwitch(std::basic_string_view<Char> argument, std::string_view name) {
  // Windows takes switches in any letter case; a mistyped case must not fall back
  // to a run that waits for a display nobody watches.
  const auto equals = [argument, name](std::string_view prefix) {
    if (argument.size() != prefix.size() + name.size()) {
      return false;
    }
    for (std::size_t i = 0; i < argument.size(); ++i) {
      const char expected = i < prefix.size() ? prefix[i] : name[i - prefix.size()];
      Char c = argument[i];
      if (c >= Char('A') && c <= Char('Z')) {
        c = static_cast<Char>(c - Char('A') + Char('a'));
      }
      if (c != static_cast<Char>(expected)) {
        return false;
      }
    }
    return true;
  };
  return equals("--") || equals("/");
}

template <typename Char>
CommandLine parse(int argc, const Char* const* argv) {
  CommandLine command;
  for (int i = 1; i < argc && argv != nullptr; ++i) {
    if (argv[i] == nullptr) {
      continue;
    }
    const std::basic_string_view<Char> argument(argv[i]);
    if (isSwitch(argument, "unattended")) {
      command.unattended = true;
    } else if (isSwitch(argument, "status")) {
      command.status = true;
    } else if (isSwitch(argument, "statements")) {
      command.statements = true;
    } else if (isSwitch(argument, "json")) {
      command.json = true;
    } else if (isSwitch(argument, "settings")) {
      command.settings.emplace();
      if (i + 1 < argc && argv[i + 1] != nullptr) {
        command.settings = std::filesystem::path(std::basic_string<Char>(argv[++i]));
      }
    }
  }
  return command;
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) {
  return parse(argc, argv);
}

CommandLine parseCommandLine(int argc, const wchar_t* const* argv) {
  return parse(argc, argv);
}

}  // namespace upgrade::app
