// Entry point of the emulated-bus tests. Two things the real libusb 0.1 and umockdev
// need from the process:
// - the umockdev preload, loaded before anything else: without it, the binary runs
//   itself again under LD_PRELOAD (telling ASan not to insist on coming first);
// - a fresh process per case, since libusb keeps its device list for the life of the
//   process and matches rescans by file name: run without a filter, the binary runs
//   each case in a child of its own.
#include <gtest/gtest.h>
#include <link.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr const char* kPreload = "libumockdev-preload.so.0";
constexpr const char* kReexecFlag = "TAGPORT_TEST_UNDER_UMOCKDEV";

bool PreloadLoaded() {
  return dl_iterate_phdr(
             [](dl_phdr_info* info, std::size_t, void*) {
               return info->dlpi_name != nullptr &&
                              std::strstr(info->dlpi_name, "libumockdev-preload") != nullptr
                          ? 1
                          : 0;
             },
             nullptr) != 0;
}

void Append(const char* name, const std::string& value, const char* separator) {
  const char* old = std::getenv(name);
  setenv(name,
         old != nullptr && *old != '\0' ? (std::string(old) + separator + value).c_str()
                                        : value.c_str(),
         1);
}

int RunUnderPreload(char** argv) {
  if (std::getenv(kReexecFlag) != nullptr) {
    std::fprintf(stderr, "%s did not load; is umockdev installed?\n", kPreload);
    return 1;
  }
  setenv(kReexecFlag, "1", 1);
  const char* old = std::getenv("LD_PRELOAD");
  setenv("LD_PRELOAD",
         old != nullptr && *old != '\0' ? (std::string(kPreload) + ":" + old).c_str() : kPreload,
         1);
  Append("ASAN_OPTIONS", "verify_asan_link_order=0", ":");
  execv("/proc/self/exe", argv);
  std::perror("execv");
  return 1;
}

bool HasFlag(int argc, char** argv, const char* prefix) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], prefix, std::strlen(prefix)) == 0) {
      return true;
    }
  }
  return false;
}

int RunEachCaseInItsOwnProcess(char** argv) {
  const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
  std::vector<std::string> failed;
  int cases = 0;
  for (int s = 0; s < unit.total_test_suite_count(); ++s) {
    const ::testing::TestSuite& suite = *unit.GetTestSuite(s);
    for (int t = 0; t < suite.total_test_count(); ++t) {
      const std::string name = std::string(suite.name()) + "." + suite.GetTestInfo(t)->name();
      std::string filter = "--gtest_filter=" + name;
      char* args[] = {argv[0], filter.data(), nullptr};
      pid_t child = 0;
      int status = 0;
      if (posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, args, environ) != 0 ||
          waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        failed.push_back(name);
      }
      ++cases;
    }
  }
  std::printf("\n%d cases, each in its own process: %zu failed\n", cases, failed.size());
  for (const std::string& name : failed) {
    std::printf("  FAILED %s\n", name.c_str());
  }
  return failed.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (!PreloadLoaded()) {
    return RunUnderPreload(argv);
  }
  const bool chosen = HasFlag(argc, argv, "--gtest_filter") ||
                      HasFlag(argc, argv, "--gtest_list_tests") ||
                      std::getenv("GTEST_FILTER") != nullptr;
  ::testing::InitGoogleTest(&argc, argv);
  return chosen ? RUN_ALL_TESTS() : RunEachCaseInItsOwnProcess(argv);
}
