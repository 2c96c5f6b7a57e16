// Unattended runs with the simulated server: the exit status and the one line on
// standard output for each way a run ends, and the command line that asks for it.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <new>
#include <string>

#include "command_line.h"
#include "reachable_database.h"
#include "unattended.h"

namespace upgrade::app {
namespace {

TEST(CommandLineTest, UnattendedInEitherFormAmongOtherArguments) {
  const auto requested = [](std::initializer_list<const char*> args) {
    return unattendedRequested(static_cast<int>(args.size()), args.begin());
  };
  EXPECT_FALSE(requested({"Update"}));
  EXPECT_FALSE(requested({"--unattended"})) << "argv[0] is the program";
  EXPECT_TRUE(requested({"Update", "--unattended"}));
  EXPECT_TRUE(requested({"Update", "extra", "/unattended"}));
  EXPECT_TRUE(requested({"Update", "/UnAttended"})) << "a switch ignores case";
  EXPECT_TRUE(requested({"Update", "--Unattended"}));
  EXPECT_FALSE(requested({"Update", "--unattended=1"}));
  EXPECT_FALSE(requested({"Update", "-unattended"}));
  const wchar_t* wide[] = {L"Update.exe", L"/UNATTENDED"};
  EXPECT_TRUE(unattendedRequested(2, wide));
}

class UnattendedRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    parts_.makeDatabase = [this] { return std::make_unique<ReachableAs>(sim_, reachable_); };
    // No file there: the defaults, server ".".
    parts_.settingsPath = [] {
      return std::filesystem::temp_directory_path() / "no-such-dir-unattended" / "System.ini";
    };
    parts_.dialogServices.listServers = [this] {
      ++listings_;
      return std::vector<std::string>{};
    };
    parts_.dialogServices.killProcesses = [this](std::string_view) { ++kills_; };
  }

  // The status, and what went to standard output.
  std::pair<int, std::string> run() {
    std::FILE* out = std::tmpfile();
    EXPECT_NE(out, nullptr);
    const int status = runUnattended(parts_, out);
    std::rewind(out);
    std::string text;
    for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) {
      text.push_back(static_cast<char>(c));
    }
    std::fclose(out);
    return {status, text};
  }

  db::SimulatedDatabase sim_{db::SimulatedDatabase::Options{.version = "1.0.0.0.29"}};
  std::string reachable_ = ".";
  ProgramParts parts_;
  int listings_ = 0;
  int kills_ = 0;
};

TEST_F(UnattendedRunTest, StatusAndOutputSayHowTheRunEnded) {
  EXPECT_EQ(run(), std::pair(0, std::string("升级成功！\n")));

  db::SimulatedDatabase failing{db::SimulatedDatabase::Options{
      .version = "1.0.0.0.29", .failOn = {"Create table Card_Tcsz"}}};
  parts_.makeDatabase = [&failing] { return std::make_unique<ReachableAs>(failing, "."); };
  EXPECT_EQ(run(), std::pair(3, std::string("向V1.0.0.0.30升级时失败！\n")));

  parts_.makeDatabase = []() -> std::unique_ptr<db::Database> { throw std::bad_alloc(); };
  EXPECT_EQ(run(), std::pair(2, std::string("服务器连接失败！\n")))
      << "a failure before the ladder ends with the failed-connection message";
}

TEST_F(UnattendedRunTest, ConnectionFailureEndsAtOnceWithoutTheDialog) {
  reachable_ = "elsewhere";
  EXPECT_EQ(run(), std::pair(2, std::string("服务器连接失败！\n")));
  EXPECT_EQ(listings_, 0) << "no server list for a dialog nobody sees";
  EXPECT_EQ(kills_, 0);
}

}  // namespace
}  // namespace upgrade::app
