// The run log's file: one stamped UTF-8 line per event, bounded with one previous
// file kept, and silent when it cannot be written.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "run_log_file.h"

namespace upgrade {
namespace {

namespace fs = std::filesystem;
using std::chrono::system_clock;

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

class RunLogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "runlog-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // 2024-03-05 07:08:09.045 UTC
  static system_clock::time_point fixedTime() {
    return system_clock::time_point(std::chrono::milliseconds(1709622489045));
  }

  fs::path dir_;
};

TEST_F(RunLogFileTest, EachEventIsOneStampedLineAppended) {
  std::ofstream(dir_ / "Update.log", std::ios::binary) << "from an earlier run\n";
  RunLogFile log(dir_ / "Update.log", kRunLogLimit, fixedTime);
  log.note("message: 向V1.0.0.0.21升级时失败！");
  log.note("failed: [FreeTDS][SQL Server]Timeout expired\nOperation was cancelled\r\n");
  log.note("tab\there");
  EXPECT_EQ(contents(log.path()),
            "from an earlier run\n"
            "2024-03-05 07:08:09.045Z message: 向V1.0.0.0.21升级时失败！\n"
            "2024-03-05 07:08:09.045Z failed: [FreeTDS][SQL Server]Timeout expired / Operation "
            "was cancelled\n"
            "2024-03-05 07:08:09.045Z tab here\n");
}

TEST_F(RunLogFileTest, PastTheLimitANewFileStartsAndOnlyOnePreviousIsKept) {
  // Each line is 36 bytes (stamp, blank, ten letters, line feed): three fit in 120.
  RunLogFile log(dir_ / "Update.log", 120, fixedTime);
  const auto line = [](char c) { return std::string(10, c); };
  for (const char c : {'a', 'b', 'c'}) {
    log.note(line(c));
  }
  EXPECT_FALSE(fs::exists(log.previousPath()));
  log.note(line('d'));
  EXPECT_EQ(fs::file_size(log.path()), 36U);
  EXPECT_NE(contents(log.path()).find("dddddddddd"), std::string::npos);
  EXPECT_EQ(fs::file_size(log.previousPath()), 108U);

  for (const char c : {'e', 'f', 'g'}) {
    log.note(line(c));
  }
  EXPECT_EQ(contents(log.path()).find("dddd"), std::string::npos);
  EXPECT_NE(contents(log.previousPath()).find("dddddddddd"), std::string::npos);
  EXPECT_EQ(contents(log.previousPath()).find("aaaa"), std::string::npos)
      << "only one previous file is kept";
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);

  // A single event larger than the limit still gets written.
  RunLogFile tiny(dir_ / "tiny.log", 10, fixedTime);
  tiny.note(line('x'));
  tiny.note(line('y'));
  EXPECT_NE(contents(tiny.path()).find("yyyyyyyyyy"), std::string::npos);
  EXPECT_NE(contents(tiny.previousPath()).find("xxxxxxxxxx"), std::string::npos);
}

TEST_F(RunLogFileTest, ALogThatCannotBeWrittenIsSilent) {
  // A file where the log's directory should be: not even root can write there.
  std::ofstream(dir_ / "not-a-directory") << "x";
  RunLogFile log(dir_ / "not-a-directory" / "Update.log", 10);
  log.note("first");
  log.note("second, past the limit");
  EXPECT_FALSE(fs::exists(log.path()));
}

}  // namespace
}  // namespace upgrade
