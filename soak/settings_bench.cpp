// What reading System.ini costs, as figures for a reader to judge:
// - the real start-up over a System.ini of 10 million empty lines (10 MB), up to the
//   moment the server connection dialog is shown: its time and the peak memory of the
//   process, against the same start-up over an ordinary file;
// - one write of a setting into that file;
// - reading a GBK file against the same text in UTF-8.
// Each case runs in a child process of its own, so each peak is its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "PSqlServer.h"
#include "Unit1.h"
#include "reachable_database.h"
#include "scratch_dir.h"
#include "settings_file.h"
#include "simulated_database.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs body in a child; prints its label, the seconds body reports and the child's
// peak resident memory; returns the seconds.
double measure(const char* label, const std::function<double()>& body) {
  std::fflush(stdout);
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) {
    std::perror("pipe");
    std::exit(1);
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    const double seconds = body();
    if (::write(pipeFds[1], &seconds, sizeof seconds) != sizeof seconds) {
      std::_Exit(1);
    }
    std::_Exit(0);
  }
  ::close(pipeFds[1]);
  double seconds = -1;
  if (::read(pipeFds[0], &seconds, sizeof seconds) != sizeof seconds) {
    seconds = -1;
  }
  ::close(pipeFds[0]);
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  std::printf("%-46s %10.3f s %10ld KiB peak\n", label, seconds, usage.ru_maxrss);
  return seconds;
}

class NoRun final : public upgrade::run::RunControl {
 public:
  void showBusyPointer() noexcept override {}
  void restorePointer() noexcept override {}
  void showMessage(std::string_view, std::string_view) noexcept override {}
  void endRun() noexcept override {}
};

// Records when the dialog is shown; the operator closes it at once.
class TimedView final : public upgrade::run::ServerDialogView {
 public:
  explicit TimedView(Clock::time_point* shown) : shown_(shown) {}
  void setText(upgrade::run::DialogField, std::string_view) override {}
  [[nodiscard]] std::string text(upgrade::run::DialogField) const override { return {}; }
  void setFocus(upgrade::run::DialogField) override {}
  void setServerList(const std::vector<std::string>&) override {}
  void showMessage(std::string_view, std::string_view) override {}
  void runModal() override { *shown_ = Clock::now(); }
  void close() override {}

 private:
  Clock::time_point* shown_;
};

// The start-up of Update over a server that never answers, up to the dialog.
double startUpToDialog(const fs::path& dir) {
  upgrade::db::SimulatedDatabase sim;
  upgrade::testing::ReachableAs nowhere(sim, "a server that is not there");
  NoRun run;
  Clock::time_point shown{};
  const auto start = Clock::now();
  upgrade::run::TForm1 form(
      nowhere, dir / "System.ini", run,
      [&shown](upgrade::run::TForm1& f) {
        return std::make_unique<upgrade::run::TFSqlServer>(
            f,
            [&shown](upgrade::run::ServerDialogEvents&) {
              return std::make_unique<TimedView>(&shown);
            },
            upgrade::run::TFSqlServer::Services{});
      },
      upgrade::run::TForm1::Creation::StateOnly);
  form.FormCreate();
  return std::chrono::duration<double>(shown - start).count();
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t emptyLines = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10'000'000;
  const upgrade::testing::ScratchDir dir("settings-bench");
  const fs::path ini = dir / "System.ini";

  std::printf("settings bench: start-up up to the dialog, time and peak resident memory\n");
  writeFile(ini, "[ServerIP]\nServerIP1=.\n[Dbname]\nDbname1=Kvb\n");
  measure("start-up, an ordinary System.ini", [&] { return startUpToDialog(dir.path()); });
  writeFile(ini, std::string(emptyLines, '\n'));
  std::string label = "start-up, " + std::to_string(emptyLines) + " empty lines";
  measure(label.c_str(), [&] { return startUpToDialog(dir.path()); });
  label = "one write into " + std::to_string(emptyLines) + " empty lines";
  measure(label.c_str(), [&] {
    upgrade::settings::SettingsFile settings(ini);
    const auto start = Clock::now();
    settings.writeString("ServerIP", "ServerIP1", "POS1");
    return secondsSince(start);
  });

  // The same text in both encodings: 200,000 key lines of Chinese, read to the end.
  constexpr int kLines = 200'000;
  constexpr int kReads = 10;
  std::string utf8 = "[a]\n";
  std::string gbk = "[a]\n";
  for (int i = 0; i < kLines; ++i) {
    utf8 += "键" + std::to_string(i) + "=服务器连接参数配置\n";
    gbk += "\xBC\xFC" + std::to_string(i) +
           "=\xB7\xFE\xCE\xF1\xC6\xF7\xC1\xAC\xBD\xD3\xB2\xCE\xCA\xFD\xC5\xE4\xD6\xC3\n";
  }
  const auto timeReads = [&](const std::string& bytes) {
    writeFile(ini, bytes);
    const upgrade::settings::SettingsFile settings(ini);
    const auto start = Clock::now();
    for (int i = 0; i < kReads; ++i) {
      if (settings.readString("a", "absent", "").size() != 0) {
        std::abort();
      }
    }
    return secondsSince(start) / kReads;
  };
  std::printf("\none read of %d lines of Chinese text (%d reads averaged)\n", kLines, kReads);
  const double utf8Seconds = measure("read, UTF-8", [&] { return timeReads(utf8); });
  const double gbkSeconds = measure("read, GBK", [&] { return timeReads(gbk); });
  std::printf("GBK takes %.1f times as long as UTF-8\n", gbkSeconds / utf8Seconds);
  return 0;
}
