// The program on the Qt front end, offscreen: what the operator sees (one message
// box, its title, text and icon, no other window), the pointer, and the end of the
// program's message loop; and the Qt run control on its own.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <filesystem>
#include <fstream>
#include <utility>

#include "qt_front_end.h"
#include "qt_server_dialog_view.h"
#include "reachable_database.h"
#include "scratch_dir.h"
#include "update_program.h"

namespace upgrade::ui::qt {
namespace {

namespace fs = std::filesystem;

struct SeenBox {
  QString title;
  QString text;
  QMessageBox::Icon icon;
  bool busyPointer;
};

// Watches every window that is shown and answers each message box with OK, the
// way an operator would; the server dialog is closed with its close box.
class Operator final : public QObject {
 public:
  Operator() { QCoreApplication::instance()->installEventFilter(this); }
  ~Operator() override { QCoreApplication::instance()->removeEventFilter(this); }
  Operator(const Operator&) = delete;
  Operator& operator=(const Operator&) = delete;

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Show || !watched->isWidgetType()) {
      return false;
    }
    if (auto* box = qobject_cast<QMessageBox*>(watched)) {
      boxes.push_back({box->windowTitle(), box->text(), box->icon(),
                       QApplication::overrideCursor() != nullptr});
      QMetaObject::invokeMethod(
          box, [box] { box->button(QMessageBox::Ok)->click(); }, Qt::QueuedConnection);
    } else if (auto* dialog = qobject_cast<QtServerDialogView*>(watched)) {
      ++dialogsShown;
      QMetaObject::invokeMethod(
          dialog, [dialog] { dialog->QDialog::close(); }, Qt::QueuedConnection);
    } else if (static_cast<QWidget*>(watched)->isWindow()) {
      ++otherWindowsShown;
    }
    return false;
  }

  std::vector<SeenBox> boxes;
  int dialogsShown = 0;
  int otherWindowsShown = 0;
};

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    parts_.makeDatabase = [this] {
      return std::make_unique<testing::ReachableAs>(sim_, reachable_);
    };
    parts_.settingsPath = [this] { return dir_ / "System.ini"; };
    parts_.dialogServices.killProcesses = [](std::string_view) {};
  }

  testing::ScratchDir dir_{"mainform"};
  db::SimulatedDatabase sim_{db::SimulatedDatabase::Options{.version = "1.0.0.0.31"}};
  std::string reachable_ = ".";
  app::ProgramParts parts_;
};

TEST_F(MainFormTest, FailedConnectionShowsOneMessageAndEndsTheProgram) {
  std::ofstream(dir_ / "System.ini") << "[ServerIP]\nServerIP1=127.0.0.1,1\n";
  reachable_ = "elsewhere";
  QtFrontEnd frontEnd;
  Operator op;
  EXPECT_EQ(app::runUpdate(frontEnd, parts_), 0);
  EXPECT_EQ(op.dialogsShown, 1);
  ASSERT_EQ(op.boxes.size(), 1u);
  EXPECT_EQ(op.boxes[0].title, QStringLiteral("提示信息"));
  EXPECT_EQ(op.boxes[0].text, QStringLiteral("服务器连接失败！"));
  EXPECT_EQ(op.boxes[0].icon, QMessageBox::Information);
  EXPECT_FALSE(op.boxes[0].busyPointer);
  EXPECT_EQ(op.otherWindowsShown, 0);
  EXPECT_TRUE(sim_.journal().empty());
  EXPECT_TRUE(frontEnd.control.endRequested());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainFormTest, ConnectedRunEndsWithTheLaddersMessage) {
  QtFrontEnd frontEnd;
  Operator op;
  EXPECT_EQ(app::runUpdate(frontEnd, parts_), 0);
  ASSERT_EQ(op.boxes.size(), 1u);
  EXPECT_EQ(op.boxes[0].text, QStringLiteral("升级成功！"));
  EXPECT_EQ(op.boxes[0].title, QStringLiteral("提示信息"));
  EXPECT_FALSE(op.boxes[0].busyPointer);
  EXPECT_EQ(op.dialogsShown + op.otherWindowsShown, 0);
  EXPECT_TRUE(frontEnd.control.endRequested());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
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
}  // namespace upgrade::ui::qt

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
