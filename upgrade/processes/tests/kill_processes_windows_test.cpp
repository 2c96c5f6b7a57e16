// KillProcessesByName on Windows (Toolhelp snapshot, TerminateProcess), against
// copies of a probe that the test starts itself. Every name carries this process's
// id, so tests running at the same time never see each other's decoys.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kill_processes.h"
#include "scratch_dir.h"

namespace upgrade::processes {
namespace {

namespace fs = std::filesystem;

class KillProcessesWindows : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const HANDLE h : started_) {
      TerminateProcess(h, 99);
      WaitForSingleObject(h, INFINITE);
      CloseHandle(h);
    }
  }

  std::string unique(const std::string& stem) const {
    return stem + std::to_string(GetCurrentProcessId());
  }

  // Starts a copy of the probe under the given file name; returns its handle. Each
  // copy has a directory of its own, since names that differ only in case are one
  // file here.
  HANDLE start(const std::string& fileName, const std::string& argument) {
    const fs::path copyDir = dir_ / std::to_string(started_.size());
    fs::create_directories(copyDir);
    const fs::path copy = copyDir / fileName;
    fs::copy_file(KILL_BY_NAME_PROBE, copy, fs::copy_options::overwrite_existing);
    std::wstring command = L"\"" + copy.wstring() + L"\" " + fs::path(argument).wstring();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (CreateProcessW(copy.wstring().c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &info) == 0) {
      ADD_FAILURE() << "cannot start " << copy.string();
      return nullptr;
    }
    CloseHandle(info.hThread);
    started_.push_back(info.hProcess);
    return info.hProcess;
  }

  // A process that was not ended would keep the test waiting for ever; the generous
  // bound only turns that hang into a failure.
  static DWORD exitCodeAfterEnd(HANDLE process) {
    if (WaitForSingleObject(process, 60000) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "the process did not end";
      return 0xFFFFFFFFu;
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return code;
  }

  static bool stillRunning(HANDLE process) {
    return WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  }

  testing::ScratchDir dir_{"kill-test"};
  std::vector<HANDLE> started_;
};

TEST_F(KillProcessesWindows, EndsExactlyTheMatchingProcessesWithExitCodeZero) {
  const std::string name = unique("upd") + ".exe";
  const HANDLE lower = start(name, "wait");
  const HANDLE upper = start(unique("UPD") + ".EXE", "wait");
  const HANDLE longer = start(name + ".bak.exe", "wait");
  const HANDLE prefixed = start("x" + name, "wait");

  KillProcessesByName(name);

  EXPECT_EQ(exitCodeAfterEnd(lower), 0u);
  EXPECT_EQ(exitCodeAfterEnd(upper), 0u);
  EXPECT_TRUE(stillRunning(longer));
  EXPECT_TRUE(stillRunning(prefixed));
}

// The snapshot's text is the file name alone, so the install path plays no part:
// however long it is, the file name matches, and the full path never does. (Wine
// starts no program from a path beyond MAX_PATH, so the long path itself cannot
// be shown here.)
TEST_F(KillProcessesWindows, OnlyTheFileNameIsLookedAt) {
  const std::string name = unique("path") + ".exe";
  const HANDLE probe = start(name, "wait");
  KillProcessesByName((dir_ / "0" / name).string());
  EXPECT_TRUE(stillRunning(probe)) << "the full path was read";
  KillProcessesByName(name);
  EXPECT_EQ(exitCodeAfterEnd(probe), 0u);
}

TEST_F(KillProcessesWindows, ReachingItsOwnProcessEndsTheProgramWithStatusZero) {
  const HANDLE self = start(unique("self") + ".exe", unique("SELF") + ".EXE");
  EXPECT_EQ(exitCodeAfterEnd(self), 0u);
}

TEST_F(KillProcessesWindows, ReturnsWhenItsOwnProcessDoesNotMatch) {
  const HANDLE other = start(unique("other") + ".exe", unique("nobody") + ".exe");
  EXPECT_EQ(exitCodeAfterEnd(other), 3u);
}

}  // namespace
}  // namespace upgrade::processes
