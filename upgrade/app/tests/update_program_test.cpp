// The program entry sequence with a fake front end: every outcome ends with exactly
// one message box, the end request and the message loop, and status 0, failures
// that escape the run (out of memory included) as well.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <new>
#include <stdexcept>

#include "reachable_database.h"
#include "recording_run.h"
#include "run_log_file.h"
#include "scratch_dir.h"
#include "unattended.h"
#include "update_program.h"

namespace upgrade::app {
namespace {

namespace fs = std::filesystem;

// A front end whose run control records, and which adds its own views and message
// loop to the record; what the run showed, without the pointer, is seen().
class FakeFrontEnd final : public run::FrontEnd {
 public:
  run::RunControl& runControl() noexcept override { return record; }
  std::unique_ptr<run::ServerDialogView> createServerDialogView(run::ServerDialogEvents&) override {
    record.events.emplace_back("view");
    if (failViews) {
      throw std::bad_alloc();
    }
    return std::make_unique<ClosedDialogView>();
  }
  void runMessageLoop() noexcept override { record.events.emplace_back("loop"); }

  [[nodiscard]] std::vector<std::string> seen() const { return record.seen(); }

  testing::RecordingRun record;
  bool failViews = false;
};

class UpdateProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    parts_.makeDatabase = [this] {
      return std::make_unique<testing::ReachableAs>(sim_, reachable_);
    };
    parts_.settingsPath = [this] { return settings::settingsPathIn(dir_.path()); };
    parts_.dialogServices.listServers = [this] {
      ++listings_;
      return std::vector<std::string>{};
    };
    parts_.dialogServices.killProcesses = [](std::string_view) {};
  }

  testing::ScratchDir dir_{"program"};
  db::SimulatedDatabase sim_{db::SimulatedDatabase::Options{.version = "1.0.0.0.31"}};
  std::string reachable_ = ".";
  ProgramParts parts_;
  int listings_ = 0;
  FakeFrontEnd frontEnd_;
};

TEST_F(UpdateProgramTest, EveryOutcomeEndsWithOneMessageAndTheLoop) {
  EXPECT_EQ(runUpdate(frontEnd_, parts_), 0);
  EXPECT_EQ(frontEnd_.seen(),
            (std::vector<std::string>{"message 升级成功！", "end", "view", "loop"}));
  EXPECT_EQ(listings_, 0) << "the hidden dialog gathers no list once the run has ended";

  frontEnd_.record.events.clear();
  reachable_ = "elsewhere";
  EXPECT_EQ(runUpdate(frontEnd_, parts_), 0);
  EXPECT_EQ(frontEnd_.seen(),
            (std::vector<std::string>{"view", "message 服务器连接失败！", "end", "view", "loop"}));
  EXPECT_EQ(listings_, 1) << "only the dialog that is shown lists the servers";
}

TEST_F(UpdateProgramTest, FailureThatEscapesStartUpStillEndsWithOneMessage) {
  const std::vector<std::string> failedRun{"message 服务器连接失败！", "end", "loop"};
  parts_.makeDatabase = []() -> std::unique_ptr<db::Database> { throw std::bad_alloc(); };
  EXPECT_EQ(runUpdate(frontEnd_, parts_), 0);
  EXPECT_EQ(frontEnd_.seen(), failedRun);

  frontEnd_.record.events.clear();
  parts_.makeDatabase = [this] { return std::make_unique<testing::ReachableAs>(sim_, reachable_); };
  parts_.settingsPath = []() -> fs::path { throw std::runtime_error("no /proc"); };
  EXPECT_EQ(runUpdate(frontEnd_, parts_), 0);
  EXPECT_EQ(frontEnd_.seen(), failedRun);
}

TEST_F(UpdateProgramTest, FailureAfterTheRunEndedAddsNoMessage) {
  frontEnd_.failViews = true;  // the hidden dialog, after the ladder's message
  EXPECT_EQ(runUpdate(frontEnd_, parts_), 0);
  EXPECT_EQ(frontEnd_.seen(),
            (std::vector<std::string>{"message 升级成功！", "end", "view", "loop"}));

  frontEnd_.record.events.clear();
  reachable_ = "elsewhere";  // the dialog that start-up shows cannot be made
  EXPECT_EQ(runUpdate(frontEnd_, parts_), 0);
  EXPECT_EQ(frontEnd_.seen(),
            (std::vector<std::string>{"view", "message 服务器连接失败！", "end", "view", "loop"}));
}

// The log beside the settings holds the start, why System.ini gave only defaults,
// the connection and the closing message; a log that cannot be written, or not even
// made, changes nothing.
TEST_F(UpdateProgramTest, TheRunLogRecordsTheRunAndNeverChangesIt) {
  const fs::path logPath = dir_ / "Update.log";
  parts_.makeLog = [&] { return std::make_unique<RunLogFile>(logPath); };
  fs::create_directory(dir_ / "System.ini");
  reachable_ = "elsewhere";
  EXPECT_EQ(runUpdate(frontEnd_, parts_), 0);
  const auto failed = frontEnd_.seen();
  const std::string text = testing::readFile(logPath);
  for (const char* expected :
       {"Update 1.0.0 started",
        "System.ini cannot be read (it is a directory); the defaults stand in",
        "start-up: connect to server \".\", database \"Kvb\" as sa: failed",
        "message: 服务器连接失败！"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << " in\n" << text;
  }
  EXPECT_EQ(text.find("settings:"), text.rfind("settings:")) << "said once";

  fs::remove(logPath);
  fs::create_directory(logPath);  // where the file should be
  frontEnd_.record.events.clear();
  EXPECT_EQ(runUpdate(frontEnd_, parts_), 0);
  EXPECT_EQ(frontEnd_.seen(), failed);

  parts_.makeLog = []() -> std::unique_ptr<ladder::RunLog> { throw std::bad_alloc(); };
  frontEnd_.record.events.clear();
  EXPECT_EQ(runUpdate(frontEnd_, parts_), 0);
  EXPECT_EQ(frontEnd_.seen(), failed);
}

}  // namespace
}  // namespace upgrade::app
