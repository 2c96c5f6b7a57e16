// 10,000 rounds of writing the four connection settings, as the dialog's Connect
// does, and reading them back: the file's size and the process's resident memory
// every 1,000 rounds. Flat figures mean the file does not grow and nothing is kept
// between reads.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "process_figures.h"
#include "scratch_dir.h"
#include "settings_file.h"

int main() {
  namespace fs = std::filesystem;
  constexpr int kRounds = 10'000;
  constexpr int kStep = 1'000;
  const upgrade::testing::ScratchDir dir("settings-soak");
  const fs::path path = dir / "System.ini";
  upgrade::settings::SettingsFile settings(path);

  std::printf("settings soak: %d write-and-read-back rounds of the four settings\n", kRounds);
  std::printf("%10s %12s %12s\n", "rounds", "file bytes", "RSS KiB");
  int mismatches = 0;
  std::uintmax_t smallest = UINTMAX_MAX;
  std::uintmax_t largest = 0;
  for (int round = 1; round <= kRounds; ++round) {
    // Values of changing length, so that a file that kept old text would grow.
    const std::string n = std::to_string(round % 1000);
    settings.writeString("Dbname", "Dbname1", "Kvb" + n);
    settings.writeString("ServerIP", "ServerIP1", "POS" + n + "\\SQLEXPRESS");
    settings.writeString("ServerPass", "ServerPass1", "服务器" + n);
    settings.writeInteger("ServerPort", "ServerPort1", round % 1000);
    mismatches += settings.readString("Dbname", "Dbname1", "") != "Kvb" + n;
    mismatches += settings.readString("ServerIP", "ServerIP1", "") != "POS" + n + "\\SQLEXPRESS";
    mismatches += settings.readString("ServerPass", "ServerPass1", "") != "服务器" + n;
    mismatches += settings.readInteger("ServerPort", "ServerPort1", -1) != round % 1000;
    const std::uintmax_t size = fs::file_size(path);
    smallest = std::min(smallest, size);
    largest = std::max(largest, size);
    if (round == 1 || round % kStep == 0) {
      std::printf("%10d %12ju %12zu\n", round, static_cast<std::uintmax_t>(fs::file_size(path)),
                  soak::residentKiB());
    }
  }
  std::printf("file bytes over all rounds: %ju to %ju (the values' lengths vary)\n", smallest,
              largest);
  std::printf("values that did not read back: %d\n", mismatches);
  return mismatches == 0 ? 0 : 1;
}
