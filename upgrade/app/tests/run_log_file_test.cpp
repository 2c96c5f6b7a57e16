// The run log's file: one stamped UTF-8 line per event, bounded with one previous
// file kept, silent when it cannot be written, and used only when it is a regular
// file of its own, whatever else someone left in its place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <latch>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "run_log_file.h"
#include "scratch_dir.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace upgrade::app {
namespace {

namespace fs = std::filesystem;
using std::chrono::system_clock;

class RunLogFileTest : public ::testing::Test {
 protected:
  // 2024-03-05 07:08:09.045 UTC
  static system_clock::time_point fixedTime() {
    return system_clock::time_point(std::chrono::milliseconds(1709622489045));
  }
  static constexpr std::string_view kStamp = "2024-03-05 07:08:09.045Z ";

  testing::ScratchDir dir_{"runlog"};
};

TEST_F(RunLogFileTest, EachEventIsOneStampedLineAppended) {
  std::ofstream(dir_ / "Update.log", std::ios::binary) << "from an earlier run\n";
  RunLogFile log(dir_ / "Update.log", kRunLogLimit, fixedTime);
  log.note("message: 向V1.0.0.0.21升级时失败！");
  log.note("failed: [FreeTDS][SQL Server]Timeout expired\nOperation was cancelled\r\n");
  log.note("tab\there");
  log.keepSecret("pa;ss");
  log.note("Login failed for 'pa;ss'\u2028message: 升级成功！");
  EXPECT_EQ(testing::readFile(log.path()),
            "from an earlier run\n"
            "2024-03-05 07:08:09.045Z message: 向V1.0.0.0.21升级时失败！\n"
            "2024-03-05 07:08:09.045Z failed: [FreeTDS][SQL Server]Timeout expired / Operation "
            "was cancelled\n"
            "2024-03-05 07:08:09.045Z tab here\n"
            "2024-03-05 07:08:09.045Z Login failed for '***' / message: 升级成功！\n");
}

TEST_F(RunLogFileTest, PastTheLimitANewFileStartsAndOnlyOnePreviousIsKept) {
  // Each line is 36 bytes (stamp, blank, ten letters, line feed): three fit in 120.
  RunLogFile log(dir_ / "Update.log", 120, fixedTime);
  const auto line = [](char c) { return std::string(10, c); };
  for (const char c : {'a', 'b', 'c'}) {
    log.note(line(c));
  }
  EXPECT_FALSE(fs::exists(log.previousPath()));
  // Operators who could write the old log can write the new one.
  const fs::perms shared = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                           fs::perms::group_write;
  fs::permissions(log.path(), shared);
  log.note(line('d'));
#ifndef _WIN32
  EXPECT_EQ(fs::status(log.path()).permissions(), shared);
#endif
  EXPECT_EQ(fs::file_size(log.path()), 36U);
  EXPECT_NE(testing::readFile(log.path()).find("dddddddddd"), std::string::npos);
  EXPECT_EQ(fs::file_size(log.previousPath()), 108U);

  for (const char c : {'e', 'f', 'g'}) {
    log.note(line(c));
  }
  EXPECT_EQ(testing::readFile(log.path()).find("dddd"), std::string::npos);
  EXPECT_NE(testing::readFile(log.previousPath()).find("dddddddddd"), std::string::npos);
  EXPECT_EQ(testing::readFile(log.previousPath()).find("aaaa"), std::string::npos)
      << "only one previous file is kept";
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 2);

  // A single event larger than the limit still gets written.
  RunLogFile tiny(dir_ / "tiny.log", 10, fixedTime);
  tiny.note(line('x'));
  tiny.note(line('y'));
  EXPECT_NE(testing::readFile(tiny.path()).find("yyyyyyyyyy"), std::string::npos);
  EXPECT_NE(testing::readFile(tiny.previousPath()).find("xxxxxxxxxx"), std::string::npos);

  // When the previous log's name is taken, the log stops at twice the limit.
  fs::create_directory(dir_ / "stuck.log.1");
  RunLogFile stuck(dir_ / "stuck.log", 120, fixedTime);
  for (int i = 0; i < 20; ++i) {
    stuck.note(line('s'));
  }
  EXPECT_EQ(fs::file_size(stuck.path()), 216U) << "six lines fit in 240";
  EXPECT_TRUE(fs::is_empty(dir_ / "stuck.log.1"));
}

TEST_F(RunLogFileTest, ALogThatCannotBeWrittenIsSilent) {
  // A file where the log's directory should be: not even root can write there.
  std::ofstream(dir_ / "not-a-directory") << "x";
  RunLogFile log(dir_ / "not-a-directory" / "Update.log", 10);
  log.note("first");
  log.note("second, past the limit");
  EXPECT_FALSE(fs::exists(log.path()));
}

// Every entry below dir: its name, its type, and a regular file's bytes.
std::string snapshot(const fs::path& dir) {
  std::vector<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    const auto type = entry.symlink_status().type();
    entries.push_back(
        entry.path().string() + " " + std::to_string(static_cast<int>(type)) +
        (type == fs::file_type::regular ? " " + testing::readFile(entry.path()) : ""));
  }
  std::sort(entries.begin(), entries.end());
  std::string all;
  for (const std::string& entry : entries) {
    all += entry + "\n";
  }
  return all;
}

// Whoever can write in the log's directory can put anything in the log's place. It
// is left exactly as it was, and the run goes on without a log.
TEST_F(RunLogFileTest, OnlyARegularFileOfItsOwnIsWritten) {
  const fs::path log = dir_ / "Update.log";
  const fs::path victim = dir_ / "victim";
  std::error_code error;
  // Symbolic links may be refused where the platform keeps them for administrators;
  // everything else must be plantable, or the case would pass without being tried.
  struct Plant {
    const char* name;
    bool mayBeRefused;
    std::function<void()> plant;
  };
  const Plant cases[] = {
      {"a dangling symbolic link", true, [&] { fs::create_symlink(victim, log, error); }},
      {"a symbolic link to a file", true,
       [&] {
         std::ofstream(victim, std::ios::binary) << "keep\n";
         fs::create_symlink(victim, log, error);
       }},
      {"a second name of another file", false,
       [&] {
         std::ofstream(victim, std::ios::binary) << "keep\n";
         fs::create_hard_link(victim, log, error);
       }},
      {"a directory", false, [&] { fs::create_directory(log, error); }},
#ifndef _WIN32
      // Without O_NONBLOCK, opening it would wait for a reader for ever.
      {"a FIFO", false,
       [&] {
         error.assign(::mkfifo(log.c_str(), 0600) == 0 ? 0 : errno, std::generic_category());
       }},
#endif
  };
  for (const auto& [name, mayBeRefused, plant] : cases) {
    SCOPED_TRACE(name);
    fs::remove_all(dir_.path());  // each case starts from an empty directory
    fs::create_directory(dir_.path());
    error.clear();
    plant();
    if (error && mayBeRefused) {
      std::cout << "skipped, not possible here: " << name << ": " << error.message() << "\n";
      continue;
    }
    ASSERT_FALSE(error) << "could not plant it: " << error.message();
    const std::string before = snapshot(dir_.path());
    RunLogFile file(log, 64, fixedTime);
    for (int i = 0; i < 3; ++i) {
      file.note("a line that must not be written anywhere");
    }
    EXPECT_EQ(snapshot(dir_.path()), before);
  }
}

// A dozen runs start together while the log is nearly full: exactly one of them
// rotates it, so the previous log is the whole history, and every line of every run
// is in the new log, whole and on its own.
TEST_F(RunLogFileTest, RunsThatWriteAtOnceKeepEveryLineAndTheWholeHistory) {
  constexpr std::uintmax_t kLimit = 4096;
  constexpr int kRuns = 12;
  constexpr int kLines = 5;
  const fs::path path = dir_ / "Update.log";
  std::string history;
  for (int i = 0; history.size() < kLimit - 30; ++i) {  // no line fits after it
    history += "history " + std::to_string(i) + "\n";
  }
  std::ofstream(path, std::ios::binary) << history;

  std::latch start(kRuns);
  std::vector<std::thread> runs;
  for (int run = 0; run < kRuns; ++run) {
    runs.emplace_back([&, run] {
      RunLogFile log(path, kLimit, fixedTime);
      start.arrive_and_wait();
      for (int line = 0; line < kLines; ++line) {
        log.note("run " + std::to_string(run) + " line " + std::to_string(line));
      }
    });
  }
  for (std::thread& run : runs) {
    run.join();
  }

  EXPECT_EQ(testing::readFile(dir_ / "Update.log.1"), history);
  std::istringstream lines(testing::readFile(path));
  const std::regex whole(std::string(kStamp) + "run [0-9]+ line [0-9]");
  std::set<std::string> seen;
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(std::regex_match(line, whole)) << line;
    seen.insert(line);
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kRuns * kLines));
}

// With the disk full (here: the process may write no more bytes), a line that does
// not fit is lost whole; the next line that fits starts on a line of its own.
TEST_F(RunLogFileTest, AFullDiskLosesOnlyTheLineThatDidNotFit) {
#ifdef _WIN32
  GTEST_SKIP() << "the file size limit of a process is POSIX";
#else
  std::signal(SIGXFSZ, SIG_IGN);
  RunLogFile log(dir_ / "Update.log", kRunLogLimit, fixedTime);
  log.note("first");
  const auto lineSize = kStamp.size() + std::string_view("first\n").size();
  rlimit original{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &original), 0);
  rlimit full = original;
  full.rlim_cur = static_cast<rlim_t>(lineSize * 2 + lineSize / 2);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
  log.note("fills");
  log.note("torn!");
  log.note("lost!");
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &original), 0);
  log.note("again");
  EXPECT_EQ(testing::readFile(log.path()), std::string(kStamp) + "first\n" + std::string(kStamp) +
                                               "fills\n" + std::string(kStamp) + "again\n");
#endif
}

TEST_F(RunLogFileTest, TheLogGoesBesideTheTargetOfTheSettingsLinkOnly) {
  fs::create_directories(dir_ / "opt");
  fs::create_directories(dir_ / "var");
  std::error_code error;
  fs::create_symlink("../var/System.ini", dir_ / "opt" / "System.ini", error);
  if (error) {
    GTEST_SKIP() << "no symbolic links here: " << error.message();
  }
  // A link planted at the target, where others may write, is not followed.
  fs::create_symlink(dir_ / "System.ini", dir_ / "var" / "System.ini");
  EXPECT_EQ(fs::weakly_canonical(runLogPathFor(dir_ / "opt" / "System.ini")),
            fs::weakly_canonical(dir_ / "var" / "Update.log"));
}

}  // namespace
}  // namespace upgrade::app
