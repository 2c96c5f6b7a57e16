// The server connection dialog's behaviour against a fake view, working on a main
// form over the simulated database: the Enter walk, F2 and Esc, Connect and
// Abandon, the server list, and the dialog inside the real start-up sequence. The
// server listing and the ending of processes are injected.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>

#include "PSqlServer.h"
#include "reachable_database.h"
#include "recording_run.h"
#include "scratch_dir.h"
#include "simulated_database.h"

namespace upgrade::run {
namespace {

namespace fs = std::filesystem;

// The controls as plain values. runModal plays the operator's script, then stays
// "open" until the script closes it or ends.
class FakeView final : public ServerDialogView {
 public:
  FakeView(ServerDialogEvents& to, testing::RecordingRun& record,
           std::function<void(FakeView&)>& script)
      : events(to), record_(record), script_(script) {}

  void setText(DialogField field, std::string_view text) override {
    texts[field] = std::string(text);
  }
  [[nodiscard]] std::string text(DialogField field) const override {
    const auto found = texts.find(field);
    return found == texts.end() ? std::string() : found->second;
  }
  void setFocus(DialogField field) override { focus = field; }
  void setServerList(const std::vector<std::string>& names) override { servers = names; }
  void showMessage(std::string_view title, std::string_view text) override {
    record_.events.push_back("dialog message " + std::string(text) + record_.pointerNote());
    messageTitle = title;
  }
  void runModal() override {
    open = true;
    EXPECT_FALSE(record_.busy) << "the normal pointer while the dialog waits";
    events.FormShow();
    if (script_) {
      script_(*this);
    }
    open = false;  // closed by the script, or by the operator's close box
  }
  void close() override {
    open = false;
    ++closed;
  }

  // Enter, F2 or Esc where the focus is.
  bool key(DialogKey key) { return events.FormKeyDown(focus, key); }

  ServerDialogEvents& events;
  std::map<DialogField, std::string> texts;
  std::optional<DialogField> focus = DialogField::RzComboBox1;
  std::vector<std::string> servers;
  std::string messageTitle;
  bool open = false;
  int closed = 0;

 private:
  testing::RecordingRun& record_;
  std::function<void(FakeView&)>& script_;
};

class ServerDialogTest : public ::testing::Test {
 protected:
  ServerDialogTest() {
    record_.messagesNotePointer = true;
    db_.onOpen = [this](const db::ConnectionTarget& target) {
      record_.events.push_back("open " + target.server + record_.pointerNote());
    };
  }
  void TearDown() override {
    dialog_.reset();
    form_.reset();
    EXPECT_FALSE(record_.busy) << "the pointer is restored on every path";
  }

  [[nodiscard]] fs::path settingsPath() const { return dir_ / "System.ini"; }
  void storeSettings(const std::string& text) const { std::ofstream(settingsPath()) << text; }

  TFSqlServer::Services services(std::vector<std::string> servers = {}) {
    TFSqlServer::Services s;
    s.listServers = [this, servers] {
      record_.events.push_back("list servers" + record_.pointerNote());
      return servers;
    };
    s.killProcesses = [this](std::string_view name) {
      record_.events.push_back("kill " + std::string(name));
    };
    return s;
  }

  ServerDialogViewFactory views() {
    return [this](ServerDialogEvents& events) {
      auto view = std::make_unique<FakeView>(events, record_, script_);
      view_ = view.get();
      return view;
    };
  }

  // A main form that has only its objects, and a dialog working on it.
  FakeView& makeDialog(TFSqlServer::Services with) {
    form_ = std::make_unique<TForm1>(db_, settingsPath(), record_, nullptr,
                                     TForm1::Creation::StateOnly, &record_);
    dialog_ = std::make_unique<TFSqlServer>(*form_, views(), std::move(with));
    record_.events.clear();  // the listing at creation
    return *view_;
  }
  FakeView& makeDialog() { return makeDialog(services()); }

  // The whole run, as the program's entry does it, with script as the operator.
  void runProgram(std::function<void(FakeView&)> script) {
    script_ = std::move(script);
    form_ = std::make_unique<TForm1>(
        db_, settingsPath(), record_,
        [this](TForm1& form) {
          record_.events.push_back("create dialog");
          return std::make_unique<TFSqlServer>(form, views(), services());
        },
        TForm1::Creation::RunStartUp, &record_);
  }

  // Connect's failure path, as the record shows it.
  static std::vector<std::string> failedConnect(const std::string& server) {
    return {"busy", "open " + server + " (busy)", "normal",
            "dialog message 服务器连接出错，请重新启动软件重试！ (normal)", "kill Update.exe"};
  }

  testing::ScratchDir dir_{"dialog"};
  testing::RecordingRun record_;
  db::SimulatedDatabase sim_{db::SimulatedDatabase::Options{.version = "1.0.0.0.30"}};
  testing::ReachableAs db_{sim_, "db2"};
  std::function<void(FakeView&)> script_;
  std::unique_ptr<TForm1> form_;
  std::unique_ptr<TFSqlServer> dialog_;
  FakeView* view_ = nullptr;
};

// --- Keyboard ---------------------------------------------------------------

TEST_F(ServerDialogTest, EnterWalksServerDatabasePasswordPortThenConnects) {
  FakeView& d = makeDialog();
  d.events.FormShow();
  for (const DialogField next :
       {DialogField::RzComboBox2, DialogField::RzEdit1, DialogField::RzEdit2}) {
    EXPECT_TRUE(d.key(DialogKey::Enter));
    EXPECT_EQ(d.focus, next);
  }
  EXPECT_TRUE(record_.events.empty());
  EXPECT_TRUE(d.key(DialogKey::Enter));
  EXPECT_TRUE(record_.has("open . (busy)")) << "Enter in the port box connects";
  d.focus.reset();
  EXPECT_FALSE(d.key(DialogKey::Enter)) << "on a button, Enter is the button's";
}

TEST_F(ServerDialogTest, F2ConnectsWhereverTheFocusIsAndEscEndsWithoutConnecting) {
  FakeView& d = makeDialog();
  d.setText(DialogField::RzComboBox1, ".");
  for (const std::optional<DialogField> focus :
       {std::optional(DialogField::RzComboBox1), std::optional(DialogField::RzComboBox2),
        std::optional(DialogField::RzEdit1), std::optional(DialogField::RzEdit2),
        std::optional<DialogField>()}) {
    record_.events.clear();
    d.focus = focus;
    EXPECT_TRUE(d.key(DialogKey::F2));
    EXPECT_EQ(record_.count("open . (busy)"), 1);
    EXPECT_FALSE(record_.has("end"));
  }
  for (const std::optional<DialogField> focus :
       {std::optional(DialogField::RzComboBox1), std::optional<DialogField>()}) {
    record_.events.clear();
    d.closed = 0;
    d.focus = focus;
    EXPECT_TRUE(d.key(DialogKey::Escape));
    EXPECT_EQ(record_.events, std::vector<std::string>{"end"});
    EXPECT_EQ(d.closed, 1);
    EXPECT_FALSE(form_->connected);
  }
}

// --- Show, list, Connect, Abandon ---------------------------------------------

TEST_F(ServerDialogTest, ShowingFillsTheFieldsFromTheSettingsFile) {
  storeSettings(
      "[ServerIP]\nServerIP1=db1\n[ServerPass]\nServerPass1=pw\n"
      "[Dbname]\nDbname1=Spa\n[ServerPort]\nServerPort1=0x599\n");
  FakeView& d = makeDialog();
  dialog_->fillFields(
      settings::ConnectionSettings{.server = "x", .password = "y", .port = 1, .database = "z"});
  EXPECT_EQ(d.texts, (std::map<DialogField, std::string>{{DialogField::RzComboBox1, "x"},
                                                         {DialogField::RzComboBox2, "z"},
                                                         {DialogField::RzEdit1, "y"},
                                                         {DialogField::RzEdit2, "1"}}));
  d.events.FormShow();
  EXPECT_EQ(d.texts, (std::map<DialogField, std::string>{{DialogField::RzComboBox1, "db1"},
                                                         {DialogField::RzComboBox2, "Spa"},
                                                         {DialogField::RzEdit1, "pw"},
                                                         {DialogField::RzEdit2, "1433"}}));
  fs::remove(settingsPath());
  d.events.FormShow();
  EXPECT_EQ(d.texts, (std::map<DialogField, std::string>{{DialogField::RzComboBox1, "."},
                                                         {DialogField::RzComboBox2, "Kvb"},
                                                         {DialogField::RzEdit1, ""},
                                                         {DialogField::RzEdit2, "80"}}));
}

TEST_F(ServerDialogTest, ServerListComesFromTheListerAndIsEmptyWhenItFails) {
  EXPECT_EQ(makeDialog(services({"SPA-DB", "SPA-DB\\SQLEXPRESS", "10.0.0.5"})).servers,
            (std::vector<std::string>{"SPA-DB", "SPA-DB\\SQLEXPRESS", "10.0.0.5"}));

  TFSqlServer::Services failing = services();
  failing.listServers = []() -> std::vector<std::string> {
    throw std::runtime_error("no SQL Server Browser answered");
  };
  EXPECT_TRUE(makeDialog(std::move(failing)).servers.empty());

  TFSqlServer::Services none = services();
  none.listServers = nullptr;
  EXPECT_TRUE(makeDialog(std::move(none)).servers.empty());
}

TEST_F(ServerDialogTest, ConnectSendsTrimmedValuesAndStoresThemInOrder) {
  FakeView& d = makeDialog();
  d.setText(DialogField::RzComboBox1, "  db2 ");
  d.setText(DialogField::RzComboBox2, " Spa\t");
  d.setText(DialogField::RzEdit1, " p;w ");
  d.setText(DialogField::RzEdit2, "80");
  ASSERT_FALSE(fs::exists(settingsPath()));
  d.events.ButtonClick(DialogButton::RzBitBtn1);

  EXPECT_TRUE(form_->connected);
  EXPECT_TRUE(form_->ADOCon.isOpen());
  EXPECT_EQ(form_->ADOCon.connectionString(),
            "Provider=SQLOLEDB.1;Password=p;w;Persist Security Info=False;User ID=sa;"
            "Initial Catalog=Spa;Data Source=db2");
  EXPECT_EQ(record_.events, (std::vector<std::string>{"busy", "open db2 (busy)", "normal"}));
  EXPECT_EQ(d.closed, 1);

  // Server and database name as typed, the password trimmed, the port a number;
  // the sections in the order they were written.
  std::string text = testing::readFile(settingsPath());
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  EXPECT_EQ(text,
            "[Dbname]\nDbname1= Spa\t\n[ServerIP]\nServerIP1=  db2 \n"
            "[ServerPass]\nServerPass1=p;w\n[ServerPort]\nServerPort1=80\n");
}

TEST_F(ServerDialogTest, FailedConnectShowsTheMessageThenEndsTheProgram) {
  FakeView& d = makeDialog();
  d.setText(DialogField::RzComboBox1, "nowhere");
  d.key(DialogKey::F2);
  EXPECT_EQ(record_.events, failedConnect("nowhere"));
  EXPECT_EQ(d.messageTitle, "系统提示");
  EXPECT_FALSE(form_->connected);
  EXPECT_FALSE(fs::exists(settingsPath()));
  // Under another file name the program survives that, and the dialog stays for
  // another try.
  EXPECT_EQ(d.closed, 0);
}

TEST_F(ServerDialogTest, PortThatIsNotAWholeNumberFailsAfterConnecting) {
  for (const char* port : {"8O", "80 ", "", "1.5", "99999999999"}) {
    SCOPED_TRACE(port);
    fs::remove(settingsPath());
    FakeView& d = makeDialog();
    d.setText(DialogField::RzComboBox1, "db2");
    d.setText(DialogField::RzEdit2, port);
    d.events.ButtonClick(DialogButton::RzBitBtn1);
    EXPECT_EQ(record_.events, failedConnect("db2"));
    // What came before the port is stored; the connection does not count.
    EXPECT_EQ(form_->settings.readString("ServerIP", "ServerIP1", ""), "db2");
    EXPECT_EQ(form_->settings.readString("ServerPort", "ServerPort1", "none"), "none");
    EXPECT_FALSE(form_->connected);
    EXPECT_FALSE(form_->ADOCon.isOpen());
    EXPECT_EQ(d.closed, 0);
  }
}

TEST_F(ServerDialogTest, PortAcceptsTheIntegerForms) {
  for (const auto& [typed, stored] :
       {std::pair{"80", "80"}, std::pair{"  1433", "1433"}, std::pair{"$50", "80"},
        std::pair{"0x50", "80"}, std::pair{"-1", "-1"}}) {
    SCOPED_TRACE(typed);
    fs::remove(settingsPath());
    FakeView& d = makeDialog();
    // Blanks and control characters are trimmed.
    d.setText(DialogField::RzComboBox1, "\t db2 ");
    d.setText(DialogField::RzEdit1, "\r\n pw\t");
    d.setText(DialogField::RzEdit2, typed);
    d.events.ButtonClick(DialogButton::RzBitBtn1);
    EXPECT_TRUE(record_.has("open db2 (busy)"));
    EXPECT_TRUE(form_->connected);
    EXPECT_EQ(form_->settings.readString("ServerPass", "ServerPass1", ""), "pw");
    EXPECT_EQ(form_->settings.readString("ServerPort", "ServerPort1", ""), stored);
  }
  FakeView& d = makeDialog();
  d.setText(DialogField::RzComboBox1, "db2");
  d.setText(DialogField::RzEdit2, "８０");
  d.key(DialogKey::F2);
  EXPECT_EQ(record_.events, failedConnect("db2")) << "full-width digits";

  d.setText(DialogField::RzComboBox1, "\u3000db2\u3000");
  record_.events.clear();
  d.key(DialogKey::F2);
  EXPECT_EQ(record_.events, failedConnect("\u3000db2\u3000"))
      << "only blanks and control characters are trimmed";
}

TEST_F(ServerDialogTest, SettingsFileThatCannotBeWrittenFailsLikeAFailedConnect) {
  fs::create_directory(settingsPath());  // a directory where the file should be
  FakeView& d = makeDialog();
  d.setText(DialogField::RzComboBox1, "db2");
  d.events.ButtonClick(DialogButton::RzBitBtn1);
  EXPECT_TRUE(record_.has("kill Update.exe"));
  EXPECT_FALSE(form_->connected);
  ASSERT_FALSE(record_.notes.empty());
  EXPECT_TRUE(record_.notes.back().starts_with(
      "dialog: save the settings to System.ini: failed: Unable to write to "))
      << "the log says why a Connect that reached the server still failed: "
      << record_.notes.back();
}

TEST_F(ServerDialogTest, AbandonEndsTheProgram) {
  FakeView& d = makeDialog();
  d.events.ButtonClick(DialogButton::RzBitBtn2);
  EXPECT_EQ(record_.events, (std::vector<std::string>{"end", "kill update.exe"}));
  EXPECT_EQ(d.closed, 1) << "the end request closes the dialog when the program survives";
  EXPECT_FALSE(form_->connected);
}

// --- Inside start-up ----------------------------------------------------------

TEST_F(ServerDialogTest, ConnectThroughTheDialogLetsTheLadderRunOnItsConnection) {
  runProgram([](FakeView& d) {
    d.setText(DialogField::RzComboBox1, " db2 ");
    d.focus = DialogField::RzEdit2;
    d.key(DialogKey::Enter);
  });
  const std::vector<std::string> expected{
      "open . (normal)",  // the stored settings: none, so the defaults
      "busy",
      "create dialog",
      "list servers (busy)",
      "normal",
      "busy",
      "open db2 (busy)",
      "normal",
      "busy",
      "normal",
      "busy",  // the ladder
      "normal",
      "message 升级成功！ (normal)",
      "end"};
  EXPECT_EQ(record_.events, expected);
  EXPECT_TRUE(form_->connected);
  EXPECT_EQ(sim_.version(), "1.0.0.0.31") << "the last step ran on the dialog's connection";
  EXPECT_EQ(form_->settings.readString("ServerIP", "ServerIP1", ""), "db2");
}

TEST_F(ServerDialogTest, EscInTheDialogEndsTheRunWithTheFailedConnection) {
  storeSettings("[ServerIP]\nServerIP1=db1\n");
  runProgram([](FakeView& d) {
    EXPECT_EQ(d.text(DialogField::RzComboBox1), "db1");
    d.focus = DialogField::RzComboBox2;
    d.key(DialogKey::Escape);
  });
  const std::vector<std::string> expected{"open db1 (normal)",
                                          "busy",
                                          "create dialog",
                                          "list servers (busy)",
                                          "normal",
                                          "end",
                                          "busy",
                                          "normal",
                                          "message 服务器连接失败！ (normal)",
                                          "end"};
  EXPECT_EQ(record_.events, expected);
  EXPECT_TRUE(sim_.journal().empty());
}

// The log tells the administrator every attempt, with the driver's reason, and the
// steps that ran; the passwords, stored or typed, never reach it.
TEST_F(ServerDialogTest, TheLogNamesEveryConnectAttemptButNeverThePassword) {
  storeSettings("[ServerIP]\nServerIP1=db1\n[ServerPass]\nServerPass1=Stored-pw1\n");
  runProgram([](FakeView& d) {
    d.setText(DialogField::RzEdit1, "Typed-pw2");
    d.setText(DialogField::RzComboBox1, "db9");
    d.key(DialogKey::F2);
    d.setText(DialogField::RzComboBox1, "db2");
    d.key(DialogKey::F2);
  });
  const std::vector<std::string> expected{
      R"(start-up: connect to server "db1", database "Kvb" as sa: failed: no server db1)",
      R"(dialog: connect to server "db9", database "Kvb" as sa: failed: no server db9)",
      R"(dialog: connect to server "db2", database "Kvb" as sa: connected)",
      "step 1.0.0.0.30 -> 1.0.0.0.31: committed"};
  EXPECT_EQ(record_.notes, expected);
  for (const auto& event : record_.notes) {
    EXPECT_EQ(event.find("-pw"), std::string::npos) << event;
  }
}

TEST_F(ServerDialogTest, AfterAHalfFinishedConnectAbandonStillEndsWithoutUpgrading) {
  runProgram([](FakeView& d) {
    d.setText(DialogField::RzComboBox1, "db2");
    d.setText(DialogField::RzEdit2, "eighty");
    d.focus = DialogField::RzEdit1;
    d.key(DialogKey::F2);  // connects, then fails on the port
    d.events.ButtonClick(DialogButton::RzBitBtn2);
  });
  EXPECT_TRUE(record_.has("kill Update.exe"));
  EXPECT_TRUE(record_.has("kill update.exe"));
  EXPECT_EQ(record_.events.end()[-2], "message 服务器连接失败！ (normal)");
  EXPECT_EQ(record_.events.back(), "end");
  EXPECT_FALSE(form_->connected);
  EXPECT_TRUE(sim_.journal().empty()) << "nothing reaches the database after Abandon";
}

}  // namespace
}  // namespace upgrade::run
