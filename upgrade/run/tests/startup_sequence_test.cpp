// The run as the main form's creation performs it, over the simulated database and
// a recording run control: which connection is tried, when the dialog comes, which
// single message ends the run, and the pointer on every path.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <optional>
#include <stdexcept>

#include "Unit1.h"
#include "reachable_database.h"
#include "recording_run.h"
#include "scratch_dir.h"
#include "simulated_database.h"

namespace upgrade::run {
namespace {

namespace fs = std::filesystem;
using Kind = db::JournalEntry::Kind;

// The dialog as the operator's script: what start-up does with it goes into the
// run's record.
class ScriptedDialog final : public ServerDialog {
 public:
  ScriptedDialog(testing::RecordingRun& ui, std::optional<settings::ConnectionSettings>& filled,
                 const std::function<void()>& operatorInDialog)
      : ui_(ui), filled_(filled), operatorInDialog_(operatorInDialog) {
    ui_.events.emplace_back("create dialog");
  }
  ~ScriptedDialog() override { ui_.events.emplace_back("destroy dialog"); }
  ScriptedDialog(const ScriptedDialog&) = delete;
  ScriptedDialog& operator=(const ScriptedDialog&) = delete;

  void fillFields(const settings::ConnectionSettings& values) override {
    ui_.events.emplace_back("fill dialog");
    filled_ = values;
  }
  void showModal() override {
    ui_.events.emplace_back("show dialog");
    operatorInDialog_();
  }

 private:
  testing::RecordingRun& ui_;
  std::optional<settings::ConnectionSettings>& filled_;
  const std::function<void()>& operatorInDialog_;
};

// Every busy pointer is followed by the normal one before the next, no message or
// dialog shows under the busy pointer, and the run ends on the normal pointer.
// Restoring it once more is harmless: the pointer is a setting, not a count.
void expectPointerBalanced(const std::vector<std::string>& events) {
  bool busy = false;
  for (const std::string& e : events) {
    if (e == "busy") {
      EXPECT_FALSE(busy) << "busy twice";
      busy = true;
    } else if (e == "normal") {
      busy = false;
    } else if (e.starts_with("message") || e == "show dialog") {
      EXPECT_FALSE(busy) << e << " under the busy pointer";
    }
  }
  EXPECT_FALSE(busy);
}

class StartupSequenceTest : public ::testing::Test {
 protected:
  void storeSettings(const std::string& text) const {
    std::ofstream(settings::settingsPathIn(dir_.path())) << text;
  }

  // Runs start-up against a server reachable under `reachable`.
  void run(const std::string& reachable, const std::function<void(TForm1&)>& inDialog = {}) {
    run_.reset();
    db_ = std::make_unique<testing::ReachableAs>(sim_, reachable);
    operatorInDialog_ = [this, inDialog] {
      if (inDialog) {
        inDialog(*run_);
      }
    };
    run_ = std::make_unique<TForm1>(
        *db_, settings::settingsPathIn(dir_.path()), ui_,
        [this](TForm1&) {
          return std::make_unique<ScriptedDialog>(ui_, filled_, operatorInDialog_);
        },
        TForm1::Creation::StateOnly);
    run_->FormCreate();
  }

  [[nodiscard]] int transactions() const {
    return static_cast<int>(
        std::count_if(sim_.journal().begin(), sim_.journal().end(),
                      [](const db::JournalEntry& e) { return e.kind == Kind::Begin; }));
  }

  testing::ScratchDir dir_{"startup"};
  db::SimulatedDatabase sim_{db::SimulatedDatabase::Options{.version = "1.0.0.0.31"}};
  std::unique_ptr<testing::ReachableAs> db_;
  testing::RecordingRun ui_;
  std::optional<settings::ConnectionSettings> filled_;
  std::function<void()> operatorInDialog_;  // what happens while the dialog is shown
  std::unique_ptr<TForm1> run_;
};

TEST_F(StartupSequenceTest, WithoutSettingsFileTheDefaultsAreTriedAsSa) {
  run(".");
  ASSERT_EQ(db_->attempts.size(), 1u);
  const db::ConnectionTarget& tried = db_->attempts.front();
  EXPECT_EQ(tried.server, ".");
  EXPECT_EQ(tried.password, "");
  EXPECT_EQ(tried.database, "Kvb");
  EXPECT_EQ(tried.user, "sa");
  EXPECT_EQ(db_->timeouts.front(), std::chrono::seconds(15));
  EXPECT_EQ(run_->ADOCon.connectionString(),
            "Provider=SQLOLEDB.1;Password=;Persist Security Info=False;User ID=sa;"
            "Initial Catalog=Kvb;Data Source=.");
  EXPECT_FALSE(fs::exists(settings::settingsPathIn(dir_.path())))
      << "start-up never creates the file";
}

TEST_F(StartupSequenceTest, StoredSettingsThatConnectGoStraightToTheLadder) {
  storeSettings(
      "[ServerIP]\nServerIP1=db1\n[ServerPass]\nServerPass1=p;w\n"
      "[Dbname]\nDbname1=Spa\n[ServerPort]\nServerPort1=1433\n");
  run("db1");
  EXPECT_TRUE(run_->connected);
  EXPECT_EQ(run_->ADOCon.connectionString(),
            "Provider=SQLOLEDB.1;Password=p;w;Persist Security Info=False;User ID=sa;"
            "Initial Catalog=Spa;Data Source=db1");
  EXPECT_EQ(ui_.events, (std::vector<std::string>{"busy", "normal", "message 升级成功！", "end"}));
  EXPECT_EQ(transactions(), 32);
}

TEST_F(StartupSequenceTest, DialogClosedWithoutConnectingEndsWithOneMessage) {
  storeSettings(
      "[ServerIP]\nServerIP1=db1\n[ServerPass]\nServerPass1=pw\n"
      "[Dbname]\nDbname1=Spa\n[ServerPort]\nServerPort1=0x599\n");
  run("elsewhere");
  EXPECT_FALSE(run_->connected);
  EXPECT_EQ(ui_.events, (std::vector<std::string>{"busy", "create dialog", "fill dialog", "normal",
                                                  "show dialog", "busy", "normal", "destroy dialog",
                                                  "message 服务器连接失败！", "end"}));
  EXPECT_EQ(ui_.titles, (std::vector<std::string>{"提示信息"}));
  ASSERT_TRUE(filled_.has_value());
  EXPECT_EQ(filled_->server, "db1");
  EXPECT_EQ(filled_->password, "pw");
  EXPECT_EQ(filled_->database, "Spa");
  EXPECT_EQ(filled_->port, 1433);
  EXPECT_TRUE(sim_.journal().empty()) << "no statement may reach the database";
  ASSERT_TRUE(run_->outcome.has_value());
  EXPECT_EQ(run_->outcome->kind, ladder::RunOutcome::Kind::ConnectionFailed);
  EXPECT_EQ(run_->outcome->reason, "no server db1") << "why the stored settings did not connect";
}

TEST_F(StartupSequenceTest, DialogThatConnectsHandsItsConnectionToTheLadder) {
  run("db2", [](TForm1& form) {
    form.ADOCon.close();
    form.ADOCon.setConnection("", "Kvb", "db2");
    form.ADOCon.open();
    form.connected = true;
    form.settings.writeString("ServerIP", "ServerIP1", "db2");
  });
  ASSERT_EQ(db_->attempts.size(), 2u);
  EXPECT_EQ(db_->attempts.back().server, "db2");
  EXPECT_EQ(ui_.titles, (std::vector<std::string>{"提示信息"}));
  EXPECT_EQ(ui_.events.back(), "end");
  EXPECT_NE(std::find(ui_.events.begin(), ui_.events.end(), "message 升级成功！"),
            ui_.events.end());
  expectPointerBalanced(ui_.events);
  EXPECT_EQ(transactions(), 32);
  EXPECT_EQ(settings::SettingsFile(settings::settingsPathIn(dir_.path()))
                .readString("ServerIP", "ServerIP1", ""),
            "db2");
}

TEST_F(StartupSequenceTest, ShowsExactlyOneMessageAndRestoresThePointerBeforeIt) {
  for (const auto& [options, message] :
       {std::pair{db::SimulatedDatabase::Options{}, "message 升级成功！"},
        std::pair{db::SimulatedDatabase::Options{.failOn = {"update ver"}},
                  "message 向V1.0.0.0.1升级时失败！"}}) {
    sim_ = db::SimulatedDatabase(options);
    ui_ = testing::RecordingRun{};
    run(".");
    EXPECT_EQ(ui_.events, (std::vector<std::string>{"busy", "normal", message, "end"}));
  }
}

TEST_F(StartupSequenceTest, EveryPathBalancesThePointerAndEndsTheRun) {
  struct Path {
    const char* name;
    std::string reachable;
    std::function<void(TForm1&)> inDialog;
    const char* lastMessage;
  };
  const std::vector<Path> paths{
      {"connected at once", ".", {}, "message 升级成功！"},
      {"dialog closed", "nowhere", {}, "message 服务器连接失败！"},
      {"dialog throws", "nowhere", [](TForm1&) { throw std::runtime_error("dialog broke"); },
       "message 服务器连接失败！"},
      {"out of memory in the dialog", "nowhere", [](TForm1&) { throw std::bad_alloc(); },
       "message 服务器连接失败！"},
      {"dialog sets the flag on a failed open", "nowhere",
       [](TForm1& form) {
         form.ADOCon.setConnection("", "Kvb", "still nowhere");
         form.ADOCon.open();
         form.connected = true;
       },
       "message 服务器连接失败！"},
  };
  for (const Path& path : paths) {
    SCOPED_TRACE(path.name);
    ui_ = testing::RecordingRun{};
    run(path.reachable, path.inDialog);
    expectPointerBalanced(ui_.events);
    ASSERT_GE(ui_.events.size(), 2u);
    EXPECT_EQ(ui_.events.back(), "end");
    EXPECT_EQ(std::count(ui_.events.begin(), ui_.events.end(), "end"), 1);
    EXPECT_EQ(ui_.events[ui_.events.size() - 2], path.lastMessage);
  }
}

}  // namespace
}  // namespace upgrade::run
