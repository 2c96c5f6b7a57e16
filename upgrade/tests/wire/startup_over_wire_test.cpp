// Start-up on the production path when the server will not let the program in: a
// refused login and a login that is never answered both lead to the server
// connection dialog within the login time-out, and the log keeps the driver's
// reason, which the screen never shows.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "PSqlServer.h"
#include "recording_run.h"
#include "run_log_file.h"
#include "scratch_dir.h"
#include "wire_session.h"

namespace upgrade::testing {
namespace {

namespace fs = std::filesystem;

// The operator presses Esc as soon as the dialog is shown.
class EscapingView final : public run::ServerDialogView {
 public:
  EscapingView(run::ServerDialogEvents& events, RecordingRun& run) : events_(events), run_(run) {}
  void setText(run::DialogField, std::string_view) override {}
  [[nodiscard]] std::string text(run::DialogField) const override { return {}; }
  void setFocus(run::DialogField) override {}
  void setServerList(const std::vector<std::string>&) override {}
  void showMessage(std::string_view, std::string_view text) override {
    run_.events.push_back("dialog message " + std::string(text));
  }
  void runModal() override {
    run_.events.push_back("dialog");
    events_.FormKeyDown(run::DialogField::RzComboBox1, run::DialogKey::Escape);
  }
  void close() override {}

 private:
  run::ServerDialogEvents& events_;
  RecordingRun& run_;
};

TEST_F(OverTheWire, ALoginThatFailsLeadsToTheDialogAndTheLogKeepsTheReason) {
  const ScratchDir dir("wire-startup");

  struct Case {
    const char* name;
    TdsPeer::Login login;
    const char* reason;
  };
  for (const Case& c : {Case{"refused", TdsPeer::Login::Refuse, "Login failed for user 'sa'."},
                        Case{"never answered", TdsPeer::Login::NeverAnswer, "Timeout expired"}}) {
    SCOPED_TRACE(c.name);
    TdsPeer& peer = startPeer({.login = c.login});
    const std::string server = targetFor(peer).server;
    writeSettingsFor(dir / "System.ini", peer);
    odbc::OdbcDatabase::Options options = shortTimeouts();
    options.loginTimeout = std::chrono::seconds(1);
    odbc::OdbcDatabase db(options);
    RecordingRun run;
    const run::ServerDialogViewFactory views = [&run](run::ServerDialogEvents& events) {
      return std::make_unique<EscapingView>(events, run);
    };
    const run::TFSqlServer::Services services{.listServers = nullptr,
                                              .killProcesses = [](std::string_view) {}};

    const auto started = std::chrono::steady_clock::now();
    const run::TForm1 form(db, dir / "System.ini", run, run::serverDialogFactory(views, services),
                           run::TForm1::Creation::RunStartUp, &run);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - started)
                        .count();
    std::cout << c.name << " login: dialog and closing message after " << ms << " ms\n";

    EXPECT_EQ(run.seen(),
              (std::vector<std::string>{"dialog", "end", "message 服务器连接失败！", "end"}));
    EXPECT_EQ(peer.logins().size(), 1U);
    EXPECT_TRUE(peer.journal().empty()) << "nothing is sent without a login";
    ASSERT_EQ(run.notes.size(), 1U);
    const std::string& note = run.notes.front();
    EXPECT_TRUE(note.starts_with("start-up: connect to server \"" + server +
                                 "\", database \"Kvb\" as sa: failed: "))
        << note;
    EXPECT_NE(note.find(c.reason), std::string::npos) << note;
    EXPECT_EQ(note.find("secret"), std::string::npos);
  }
}

// A server may echo the password in an error reply; the log keeps the message but
// never the password.
TEST_F(OverTheWire, ThePasswordNeverReachesTheLogEvenFromTheServer) {
  const ScratchDir dir("wire-secret");
  TdsPeer& peer = startPeer({.version = "1.0.0.0.20",
                             .faults = {{.textContains = "DROP COLUMN zkmxcode",
                                         .message = "Password 'Pa55;word' is not accepted."}}});
  writeSettingsFor(dir / "System.ini", peer, "Pa55;word");
  odbc::OdbcDatabase db(shortTimeouts());
  RecordingRun run;
  app::RunLogFile log(dir / "Update.log");
  const run::TForm1 form(db, dir / "System.ini", run, nullptr, run::TForm1::Creation::RunStartUp,
                         &log);
  const std::string text = readFile(dir / "Update.log");
  EXPECT_NE(text.find("Password '***' is not accepted."), std::string::npos) << text;
  EXPECT_EQ(text.find("Pa55"), std::string::npos) << text;
}

}  // namespace
}  // namespace upgrade::testing
