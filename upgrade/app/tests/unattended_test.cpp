// Runs without windows with the simulated server: the exit status and the output for
// each way a run ends, plain, with --status and with --json, and the command line
// that asks for them.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>
#include <nlohmann/json.hpp>
#include <string>

#include "command_line.h"
#include "reachable_database.h"
#include "run_log_file.h"
#include "scratch_dir.h"
#include "unattended.h"

namespace upgrade::app {
namespace {

namespace fs = std::filesystem;

TEST(CommandLineTest, SwitchesInEitherFormAndAnyCaseAmongOtherArguments) {
  const auto parse = [](std::initializer_list<const char*> args) {
    return parseCommandLine(static_cast<int>(args.size()), args.begin());
  };
  EXPECT_FALSE(parse({"Update"}).withoutWindows());
  EXPECT_FALSE(parse({"--unattended"}).unattended) << "argv[0] is the program";
  EXPECT_TRUE(parse({"Update", "--unattended"}).unattended);
  EXPECT_TRUE(parse({"Update", "extra", "/unattended"}).unattended);
  EXPECT_TRUE(parse({"Update", "/UnAttended"}).unattended) << "a switch ignores case";
  EXPECT_TRUE(parse({"Update", "--Unattended"}).unattended);
  EXPECT_FALSE(parse({"Update", "--unattended=1"}).withoutWindows());
  EXPECT_FALSE(parse({"Update", "-unattended"}).withoutWindows());

  const CommandLine all = parse({"Update", "/STATUS", "--json", "/statements", "--settings",
                                 "/srv/venue 1/System.ini", "--other"});
  EXPECT_TRUE(all.status && all.json && all.statements && !all.unattended);
  EXPECT_EQ(all.settings, fs::path("/srv/venue 1/System.ini"));
  EXPECT_EQ(parse({"Update", "--status", "--settings"}).settings, fs::path())
      << "a missing FILE is an empty one, never the next switch's absence ignored";

  const wchar_t* wide[] = {L"Update.exe", L"/Status", L"/settings", L"C:\\venues\\a.ini"};
  const CommandLine windows = parseCommandLine(4, wide);
  EXPECT_TRUE(windows.status);
  EXPECT_EQ(windows.settings, fs::path(L"C:\\venues\\a.ini"));
}

class UnattendedRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    parts_.makeDatabase = [this] {
      return std::make_unique<testing::ReachableAs>(sim_, reachable_);
    };
    // No file there: the defaults, server ".".
    parts_.settingsPath = [this] { return dir_ / "no-such-dir" / "System.ini"; };
    parts_.dialogServices.listServers = [this] {
      ++listings_;
      return std::vector<std::string>{};
    };
    parts_.dialogServices.killProcesses = [this](std::string_view) { ++kills_; };
  }

  // The status, and what went to standard output; standard error goes to err_.
  std::pair<int, std::string> run(const CommandLine& command = {.unattended = true}) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    EXPECT_NE(out, nullptr);
    EXPECT_NE(err, nullptr);
    const int status = runUnattended(parts_, command, out, err);
    err_ = contents(err);
    return {status, contents(out)};
  }

  static std::string contents(std::FILE* file) {
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
      text.push_back(static_cast<char>(c));
    }
    std::fclose(file);
    return text;
  }

  // Settings in a directory of the test's own, with this password.
  void useSettingsWithPassword(const std::string& password) {
    std::ofstream(dir_ / "System.ini") << "[ServerPass]\nServerPass1=" << password << "\n";
    parts_.settingsPath = [this] { return dir_ / "System.ini"; };
  }

  db::SimulatedDatabase sim_{db::SimulatedDatabase::Options{.version = "1.0.0.0.29"}};
  std::string reachable_ = ".";
  ProgramParts parts_;
  testing::ScratchDir dir_{"unattended"};
  std::string err_;
  int listings_ = 0;
  int kills_ = 0;
};

TEST_F(UnattendedRunTest, StatusAndOutputSayHowTheRunEnded) {
  const CommandLine plain{.unattended = true};
  const CommandLine status{.status = true};
  struct Case {
    const char* name;
    CommandLine command;
    db::SimulatedDatabase::Options database;
    int exit;
    std::string out;  // a status line after 'server ".", database "Kvb"'
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"upgraded", plain, {.version = "1.0.0.0.29"}, 0, "升级成功！"},
      {"step failed", plain, {.version = "1.0.0.0.29", .failOn = {"Create table Card_Tcsz"}}, 3,
       "向V1.0.0.0.30升级时失败！"},
      {"up to date", status, {.version = "1.0.0.0.31"}, 0, R"(, version "1.0.0.0.31": up to date)"},
      {"at the ensure step", status, {.version = "1.0.0.0.2"}, 4,
       R"(, version "1.0.0.0.2": 30 steps from "1.0.0.0.2" to "1.0.0.0.31")"},
      {"one step left", status, {.version = "1.0.0.0.30"}, 4,
       R"(, version "1.0.0.0.30": 1 step from "1.0.0.0.30" to "1.0.0.0.31")"},
      {"no row", status, {.version = std::nullopt}, 0,
       R"(, version "": matches no step: nothing would run)"},
      {"the read fails", status, {.failOn = {"select * from ver"}}, 3,
       R"(: failed at step "1.0.0.0.0" -> "1.0.0.0.1")"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    db::SimulatedDatabase database(c.database);
    parts_.makeDatabase = [&database] {
      return std::make_unique<testing::ReachableAs>(database, ".");
    };
    const std::string line = c.command.status ? R"(server ".", database "Kvb")" + c.out : c.out;
    EXPECT_EQ(run(c.command), std::pair(c.exit, line + "\n"));
  }

  parts_.makeDatabase = []() -> std::unique_ptr<db::Database> { throw std::bad_alloc(); };
  EXPECT_EQ(run(), std::pair(2, std::string("服务器连接失败！\n")))
      << "a failure before the ladder ends with the failed-connection message";
}

TEST_F(UnattendedRunTest, ConnectionFailureEndsAtOnceWithoutTheDialog) {
  reachable_ = "elsewhere";
  EXPECT_EQ(run(), std::pair(2, std::string("服务器连接失败！\n")));
  EXPECT_EQ(err_, "") << "a plain unattended run says what it always said";
  EXPECT_EQ(run({.status = true}),
            std::pair(2, std::string(R"(server ".", database "Kvb": connection failed)"
                                     "\n")));
  EXPECT_EQ(err_, "Update: no server .\n") << "the driver's reason";
  EXPECT_EQ(listings_, 0) << "no server list for a dialog nobody sees";
  EXPECT_EQ(kills_, 0);
}

TEST_F(UnattendedRunTest, JsonSaysWhatRanOrFailedAndNeverThePassword) {
  // The simulated server's failure message holds the word "simulated".
  useSettingsWithPassword("simulated");
  const std::string where = R"({"server":".","database":"Kvb","version":"1.0.0.0.29",)";
  struct Case {
    db::SimulatedDatabase::Options database;
    int exit;
    std::string json;  // without elapsed_ms, and the statement's first line only
  };
  for (const Case& c : {
           Case{{.version = "1.0.0.0.29"},
                0,
                where + R"("outcome":"upgraded","steps":[{"from":"1.0.0.0.29","to":"1.0.0.0.30"},)"
                        R"({"from":"1.0.0.0.30","to":"1.0.0.0.31"}],"failed_step":null,)"
                        R"("statement":null,"reason":null})"},
           Case{{.version = "1.0.0.0.29", .failOn = {"Create table Card_Tcsz"}},
                3,
                where + R"("outcome":"step-failed","steps":[],"failed_step":{"from":"1.0.0.0.29",)"
                        R"("to":"1.0.0.0.30"},"statement":"Create table Card_Tcsz(",)"
                        R"("reason":"***: statement failed"})"},
       }) {
    db::SimulatedDatabase database(c.database);
    parts_.makeDatabase = [&database] {
      return std::make_unique<testing::ReachableAs>(database, ".");
    };
    const auto [status, out] = run({.unattended = true, .json = true});
    EXPECT_EQ(status, c.exit);
    EXPECT_EQ(out.find("simulated"), std::string::npos) << out;
    nlohmann::ordered_json object = nlohmann::ordered_json::parse(out);
    EXPECT_TRUE(object["elapsed_ms"].is_number_integer());
    object.erase("elapsed_ms");
    if (object["statement"].is_string()) {
      object["statement"] = object["statement"].get<std::string>().substr(0, 23);
    }
    EXPECT_EQ(object.dump(), c.json);
  }
  EXPECT_EQ(err_, "Update: ***: statement failed\n");
}

TEST_F(UnattendedRunTest, ANamedSettingsFileThatIsMissingEndsTheRunBeforeAnyConnection) {
  const fs::path missing = dir_ / "no-such-dir" / "venue.ini";
  const auto makeDatabase = parts_.makeDatabase;
  parts_ = productionParts(missing);
  parts_.makeDatabase = makeDatabase;
  const auto log = parts_.makeLog();
  EXPECT_EQ(dynamic_cast<RunLogFile&>(*log).path(), missing.parent_path() / "Update.log");

  const auto [status, out] = run({.status = true, .json = true, .settings = missing});
  EXPECT_EQ(status, 2);
  const std::string reason =
      "settings: " + missing.string() + " cannot be read (there is no such file)";
  const nlohmann::json object = nlohmann::json::parse(out);
  EXPECT_EQ(object["outcome"], "connection-failed");
  EXPECT_EQ(object["reason"], reason);
  EXPECT_EQ(err_, "Update: " + reason + "\n");
  EXPECT_TRUE(object["server"].is_null()) << "no connection was tried";
}

}  // namespace
}  // namespace upgrade::app
