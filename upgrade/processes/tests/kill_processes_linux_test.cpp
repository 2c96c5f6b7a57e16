// KillProcessesByName against processes the test starts itself: copies of sleep
// under chosen file names, and a probe that calls it from inside a matching
// process. Each name carries the test's process id, so runs side by side never
// reach each other's processes. The routine returns once its matches have ended, so
// right after it a process has either ended (matched, and by which signal) or still
// runs (passed over); nothing waits on time.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "kill_processes.h"
#include "scratch_dir.h"

extern char** environ;

namespace upgrade::processes {
namespace {

namespace fs = std::filesystem;

const fs::path kSleep = "/bin/sleep";
const fs::path kProbe = KILL_BY_NAME_PROBE;

std::string describe(int status) {
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    return sig == SIGKILL   ? "SIGKILL"
           : sig == SIGTERM ? "SIGTERM"
                            : "signal " + std::to_string(sig);
  }
  return "exit " + std::to_string(WEXITSTATUS(status));
}

// Programs copied into a directory of the test's own, and the processes started
// from them; whatever still runs at the end is killed and reaped.
class Processes {
 public:
  Processes() = default;
  ~Processes() {
    for (const pid_t pid : running_) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
  Processes(const Processes&) = delete;
  Processes& operator=(const Processes&) = delete;

  [[nodiscard]] const fs::path& dir() const { return dir_; }

  // Copies program to relative (under the directory) and starts it, with SIGTERM
  // blocked when asked. posix_spawn returns once the child has executed the copy,
  // so /proc already names it.
  pid_t start(const fs::path& program, const fs::path& relative, int input = -1,
              bool blockTerm = false) {
    const fs::path file = dir_ / relative;
    fs::create_directories(file.parent_path());
    fs::copy_file(program, file);
    fs::permissions(file, fs::perms::owner_all);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input >= 0) {
      posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    }
    std::string arg0 = file.filename().string();
    std::string arg1 = program == kSleep ? "infinity" : name;
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (blockTerm) {
      sigset_t blocked;
      sigemptyset(&blocked);
      sigaddset(&blocked, SIGTERM);
      posix_spawnattr_setsigmask(&attributes, &blocked);
      posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    }
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, file.c_str(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
      throw std::runtime_error("posix_spawn " + file.string() + " failed");
    }
    running_.push_back(pid);
    return pid;
  }

  // Waits for the process to end by itself.
  std::string waitForEnd(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    running_.erase(std::find(running_.begin(), running_.end(), pid));
    return describe(status);
  }

  // How the process ended, or "running".
  std::string outcome(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == 0) {
      return "running";
    }
    running_.erase(std::find(running_.begin(), running_.end(), pid));
    return describe(status);
  }

  std::string name;  // what the probe passes to the routine

 private:
  testing::ScratchDir scratch_{"kill"};
  fs::path dir_ = fs::canonical(scratch_.path());  // as the kernel will name the executables
  std::vector<pid_t> running_;
};

std::string tagged(const std::string& stem, const std::string& rest) {
  return stem + std::to_string(::getpid()) + rest;
}

void expectThisProcessDoesNotMatch(const std::string& name) {
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  ASSERT_FALSE(executableTextMatches<char>(self, name)) << self;
}

struct Decoy {
  fs::path relative;
  bool matches;
};

void runDecoys(const std::string& name, const std::vector<Decoy>& decoys) {
  expectThisProcessDoesNotMatch(name);
  Processes processes;
  std::vector<pid_t> pids;
  for (const Decoy& decoy : decoys) {
    pids.push_back(processes.start(kSleep, decoy.relative));
  }
  KillProcessesByName(name);
  for (std::size_t i = 0; i < decoys.size(); ++i) {
    EXPECT_EQ(processes.outcome(pids[i]), decoys[i].matches ? "SIGTERM" : "running")
        << decoys[i].relative;
  }
}

TEST(KillProcessesByNameTest, FileNameMatchesIgnoringTheCaseOfAToZ) {
  const std::string name = tagged("update", ".exe");
  runDecoys(name, {
                      {"a/" + tagged("update", ".exe"), true},
                      {"b/" + tagged("UPDATE", ".EXE"), true},
                      {"c/" + tagged("Update", ".exe"), true},
                      {"d/" + tagged("update", ".exe.bak"), false},
                      {"e/" + tagged("xupdate", ".exe"), false},
                      {"f/" + tagged("update", ".ex"), false},
                      // the name of a directory on the way is not the file's name
                      {tagged("update", ".exe") + "/sleep", false},
                  });
}

TEST(KillProcessesByNameTest, LettersBeyondAToZMustMatchExactly) {
  runDecoys(tagged("üpdate", ".exe"), {
                                          {"a/" + tagged("üpdate", ".exe"), true},
                                          {"b/" + tagged("üPDATE", ".EXE"), true},
                                          {"c/" + tagged("ÜPDATE", ".EXE"), false},
                                      });
}

TEST(KillProcessesByNameTest, WholeTextMatchesToo) {
  Processes processes;
  const pid_t named = processes.start(kSleep, "a/" + tagged("tool", ""));
  const pid_t other = processes.start(kSleep, "b/" + tagged("tool", ""));
  std::string whole = (processes.dir() / ("a/" + tagged("tool", ""))).string();
  std::transform(whole.begin(), whole.end(), whole.begin(), [](char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  });
  expectThisProcessDoesNotMatch(whole);
  KillProcessesByName(whole);
  EXPECT_EQ(processes.outcome(named), "SIGTERM") << whole;
  EXPECT_EQ(processes.outcome(other), "running");
}

TEST(KillProcessesByNameTest, TextLongerThanLookedAtIsNeverMatched) {
  const std::string name = tagged("update", ".exe");
  expectThisProcessDoesNotMatch(name);
  Processes processes;
  // Directories that make ".../<name>" exactly as long as the routine looks at, so
  // that "<name>.bak" beside it is longer and, cut short, would read as a match.
  const std::size_t fixed = processes.dir().string().size() + name.size() + 2;
  ASSERT_LT(fixed + 2, kMaxExecutableText);
  std::string filler(kMaxExecutableText - fixed, 'd');
  for (std::size_t i = 100; i + 1 < filler.size(); i += 101) {
    filler[i] = '/';
  }
  const fs::path deep = filler;
  ASSERT_EQ((processes.dir() / deep / name).string().size(), kMaxExecutableText);

  const pid_t fits = processes.start(kSleep, deep / name);
  const pid_t cutShort = processes.start(kSleep, deep / (name + ".bak"));
  const pid_t tooLong = processes.start(kSleep, deep / "x" / name);
  KillProcessesByName(name);
  EXPECT_EQ(processes.outcome(fits), "SIGTERM");
  EXPECT_EQ(processes.outcome(cutShort), "running");
  EXPECT_EQ(processes.outcome(tooLong), "running");
}

TEST(KillProcessesByNameTest, ReachingItsOwnProcessEndsItThereWithStatusZero) {
  const std::string name = tagged("update", ".exe");
  expectThisProcessDoesNotMatch(name);
  Processes processes;
  processes.name = name;
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  const pid_t before = processes.start(kSleep, "a/" + name);
  const pid_t probe = processes.start(kProbe, "b/" + name, go[0]);
  const pid_t after = processes.start(kSleep, "c/" + name);
  ::close(go[0]);
  ASSERT_EQ(::write(go[1], "x", 1), 1);
  ::close(go[1]);

  EXPECT_EQ(processes.waitForEnd(probe), "exit 0") << "terminated, not killed by a signal";
  // The walk goes by ascending process id and stops at the probe, which ends only
  // once the matches before it have.
  EXPECT_EQ(processes.outcome(before), before < probe ? "SIGTERM" : "running");
  EXPECT_EQ(processes.outcome(after), after < probe ? "SIGTERM" : "running");
}

TEST(KillProcessesByNameTest, AProcessThatOutlastsSigtermIsKilled) {
  const std::string name = tagged("update", ".exe");
  expectThisProcessDoesNotMatch(name);
  Processes processes;
  const pid_t stubborn = processes.start(kSleep, "a/" + name, -1, /*blockTerm=*/true);
  const pid_t willing = processes.start(kSleep, "b/" + name);
  KillProcessesByName(name);
  EXPECT_EQ(processes.outcome(stubborn), "SIGKILL");
  EXPECT_EQ(processes.outcome(willing), "SIGTERM");
}

// The cases the processes above cannot show: texts without a directory, as the
// Windows snapshot gives them, and the wide characters of the Windows build.
TEST(KillProcessesByNameTest, MatchingRuleOnBareAndWideTexts) {
  EXPECT_TRUE(executableTextMatches<char>("update.exe", "Update.exe"));
  EXPECT_FALSE(executableTextMatches<char>("/opt/app/", "update.exe"));
  EXPECT_FALSE(executableTextMatches<char>("C:\\app\\update.exe", "update.exe"))
      << "no '\\' separator on Linux";
  EXPECT_TRUE(executableTextMatches<wchar_t>(L"/a/UPDATE.exe", L"update.EXE"));
}

}  // namespace
}  // namespace upgrade::processes
