// The hidden main form and the Qt run control on the offscreen platform: what the
// operator sees (one message box, its title, text and icon, never the main form),
// the pointer, and the end of the program's message loop.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

#include "PSqlServer.h"
#include "Unit1.h"
#include "qt_run_control.h"
#include "reachable_database.h"
#include "simulated_database.h"

namespace upgrade {
namespace {

namespace fs = std::filesystem;

struct SeenBox {
  QString title;
  QString text;
  QMessageBox::Icon icon;
  bool busyPointer;
};

// Watches every window that is shown and answers each message box with OK, the
// way an operator would.
class Operator final : public QObject {
 public:
  Operator() { QCoreApplication::instance()->installEventFilter(this); }
  ~Operator() override { QCoreApplication::instance()->removeEventFilter(this); }
  Operator(const Operator&) = delete;
  Operator& operator=(const Operator&) = delete;

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Show) {
      return false;
    }
    if (auto* box = qobject_cast<QMessageBox*>(watched)) {
      boxes.push_back({box->windowTitle(), box->text(), box->icon(),
                       QApplication::overrideCursor() != nullptr});
      QMetaObject::invokeMethod(
          box, [box] { box->button(QMessageBox::Ok)->click(); }, Qt::QueuedConnection);
    } else if (auto* dialog = qobject_cast<TFSqlServer*>(watched)) {
      // The server dialog is closed with its close box.
      ++dialogsShown;
      QMetaObject::invokeMethod(
          dialog, [dialog] { dialog->close(); }, Qt::QueuedConnection);
    } else if (dynamic_cast<TForm1*>(watched) != nullptr) {
      mainFormShown = true;
    }
    return false;
  }

  std::vector<SeenBox> boxes;
  int dialogsShown = 0;
  bool mainFormShown = false;
};

// The Qt run control with a server dialog that gathers no server list and ends no
// processes.
class QuietDialogUi final : public StartupUi {
 public:
  void showBusyPointer() override { qt.showBusyPointer(); }
  void restorePointer() override { qt.restorePointer(); }
  void showMessage(std::string_view title, std::string_view text) override {
    qt.showMessage(title, text);
  }
  void endRun() override { qt.endRun(); }
  std::unique_ptr<ServerDialog> createServerDialog() override {
    TFSqlServer::Services services = TFSqlServer::productionServices();
    services.listServers = nullptr;
    services.killProcesses = [](std::string_view) {};
    return makeServerDialog(std::move(services));
  }

  QtRunControl qt;
};

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "mainform-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};

TEST_F(MainFormTest, FailedConnectionShowsOneMessageAndEndsTheProgram) {
  std::ofstream(dir_ / "System.ini") << "[ServerIP]\nServerIP1=127.0.0.1,1\n";
  SimulatedDatabase db(SimulatedDatabase::Options{.failOpen = true});
  QuietDialogUi ui;
  Operator op;
  {
    TForm1 form(db, dir_ / "System.ini", ui);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("升级程序"));
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(db.lastTarget().server, "127.0.0.1,1");
  }
  EXPECT_EQ(op.dialogsShown, 1);
  ASSERT_EQ(op.boxes.size(), 1u);
  EXPECT_EQ(op.boxes[0].title, QStringLiteral("提示信息"));
  EXPECT_EQ(op.boxes[0].text, QStringLiteral("服务器连接失败！"));
  EXPECT_EQ(op.boxes[0].icon, QMessageBox::Information);
  EXPECT_FALSE(op.boxes[0].busyPointer);
  EXPECT_FALSE(op.mainFormShown);
  EXPECT_TRUE(db.journal().empty());
  EXPECT_TRUE(ui.qt.endRequested());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(ui.qt.runMessageLoop(), 0);
}

TEST_F(MainFormTest, ConnectedRunEndsWithTheLaddersMessage) {
  SimulatedDatabase db(SimulatedDatabase::Options{.version = "1.0.0.0.31"});
  QtRunControl ui;
  Operator op;
  {
    TForm1 form(db, dir_ / "System.ini", ui);
    EXPECT_FALSE(form.isVisible());
  }
  ASSERT_EQ(op.boxes.size(), 1u);
  EXPECT_EQ(op.boxes[0].text, QStringLiteral("升级成功！"));
  EXPECT_EQ(op.boxes[0].title, QStringLiteral("提示信息"));
  EXPECT_FALSE(op.boxes[0].busyPointer);
  EXPECT_FALSE(op.mainFormShown);
  EXPECT_TRUE(ui.endRequested());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(ui.runMessageLoop(), 0);
}

// A dialog that works the way the real one will: through Form1, while start-up
// waits on it.
class ConnectingUi final : public StartupUi {
 public:
  class Dialog final : public ServerDialog {
   public:
    void fillFields(const ConnectionSettings&) override {}
    void showModal() override {
      ASSERT_NE(Form1, nullptr) << "Form1 is set before its creation handler runs";
      Form1->ADOCon.close();
      Form1->ADOCon.setConnection("", "Kvb", "reachable");
      Form1->ADOCon.open();
      Form1->connected = true;
      Form1->settings.writeString("ServerIP", "ServerIP1", "reachable");
      Form1->ui().showBusyPointer();
      Form1->ui().restorePointer();
    }
  };

  void showBusyPointer() override { qt.showBusyPointer(); }
  void restorePointer() override { qt.restorePointer(); }
  void showMessage(std::string_view title, std::string_view text) override {
    qt.showMessage(title, text);
  }
  void endRun() override { qt.endRun(); }
  std::unique_ptr<ServerDialog> createServerDialog() override { return std::make_unique<Dialog>(); }

  QtRunControl qt;
};

TEST_F(MainFormTest, DialogReachesTheMainFormThroughForm1) {
  SimulatedDatabase sim(SimulatedDatabase::Options{.version = "1.0.0.0.31"});
  ReachableAs db(sim, "reachable");
  ConnectingUi ui;
  Operator op;
  {
    TForm1 form(db, dir_ / "System.ini", ui);
    EXPECT_TRUE(form.connected);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.settings.readString("ServerIP", "ServerIP1", ""), "reachable");
  }
  EXPECT_EQ(Form1, nullptr);
  ASSERT_EQ(db.attempts.size(), 2u);
  EXPECT_EQ(db.attempts[0].server, ".");
  EXPECT_EQ(db.attempts[1].server, "reachable");
  ASSERT_EQ(op.boxes.size(), 1u);
  EXPECT_EQ(op.boxes[0].text, QStringLiteral("升级成功！"));
  EXPECT_FALSE(op.mainFormShown);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(ui.qt.endRequested());
}

TEST(QtRunControlTest, PointerIsASettingNotACount) {
  {
    QtRunControl ui;
    ui.restorePointer();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ui.showBusyPointer();
    ui.showBusyPointer();
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    ui.restorePointer();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ui.showBusyPointer();
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "left busy, restored on the way out";
}

TEST(QtRunControlTest, MessageLoopEndsEvenWithoutAnEndRequest) {
  QtRunControl ui;
  EXPECT_EQ(ui.runMessageLoop(), 0);
  EXPECT_FALSE(ui.endRequested());
}

}  // namespace
}  // namespace upgrade

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
