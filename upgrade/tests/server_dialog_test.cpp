// The server connection dialog on the offscreen platform, working on a main form
// over the simulated database: its look, the keyboard, Connect and Abandon, the
// server list, and the dialog inside the real start-up sequence. The server
// listing, the ending of processes and the dialog's message box are injected.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRawFont>
#include <QScreen>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

#include "PSqlServer.h"
#include "Unit1.h"
#include "qt_run_control.h"
#include "simulated_database.h"

namespace upgrade {
namespace {

namespace fs = std::filesystem;

bool busyPointer() {
  const QCursor* cursor = QApplication::overrideCursor();
  return cursor != nullptr && cursor->shape() == Qt::WaitCursor;
}

std::string pointerNote() {
  return busyPointer() ? " (busy)" : " (normal)";
}

// One record of everything the dialog and start-up do, in order, each noting the
// pointer it happened under.
struct Record {
  std::vector<std::string> events;
  QWidget* messageOwner = nullptr;
  QString messageTitle;

  [[nodiscard]] long count(const std::string& event) const {
    return std::count(events.begin(), events.end(), event);
  }
  [[nodiscard]] bool has(const std::string& event) const { return count(event) > 0; }
};

// The simulated server, reachable under one server name only.
class RecordingDatabase final : public Database {
 public:
  RecordingDatabase(Record& record, std::string reachable)
      : record_(record), reachable_(std::move(reachable)) {}

  void open(const ConnectionTarget& target, std::chrono::seconds timeout) override {
    record_.events.push_back("open " + target.server + pointerNote());
    if (target.server != reachable_) {
      throw DatabaseError("no server " + target.server);
    }
    sim.open(target, timeout);
  }
  void close() noexcept override { sim.close(); }
  [[nodiscard]] bool isOpen() const noexcept override { return sim.isOpen(); }
  void begin() override { sim.begin(); }
  void commit() override { sim.commit(); }
  void rollback() override { sim.rollback(); }
  [[nodiscard]] bool transactionActive() override { return sim.transactionActive(); }
  void execute(const std::string& text, const Params& params) override {
    sim.execute(text, params);
  }
  Rows query(const std::string& text, const Params& params) override {
    return sim.query(text, params);
  }

  SimulatedDatabase sim{SimulatedDatabase::Options{.version = "1.0.0.0.30"}};

 private:
  Record& record_;
  std::string reachable_;
};

// The run's pointer and end request as the program has them, the run's own
// messages recorded rather than shown.
class RecordingUi final : public StartupUi {
 public:
  explicit RecordingUi(Record& record) : record_(record) {}

  void showBusyPointer() override {
    record_.events.push_back("busy");
    qt_.showBusyPointer();
  }
  void restorePointer() override {
    record_.events.push_back("normal");
    qt_.restorePointer();
  }
  void showMessage(std::string_view /*title*/, std::string_view text) override {
    record_.events.push_back("message " + std::string(text) + pointerNote());
  }
  void endRun() override {
    record_.events.push_back("end");
    qt_.endRun();
  }
  std::unique_ptr<ServerDialog> createServerDialog() override {
    record_.events.push_back("create dialog");
    return makeServerDialog(services());
  }

  std::function<TFSqlServer::Services()> services;

 private:
  Record& record_;
  QtRunControl qt_;
};

TFSqlServer::Services recordingServices(Record& record, std::vector<std::string> servers = {}) {
  TFSqlServer::Services services;
  services.listServers = [&record, servers] {
    record.events.push_back("list servers" + pointerNote());
    return servers;
  };
  services.killProcesses = [&record](std::string_view name) {
    record.events.push_back("kill " + std::string(name));
  };
  services.showMessage = [&record](QWidget* owner, const QString& title, const QString& text) {
    record.events.push_back("dialog message " + text.toStdString() + pointerNote());
    record.messageOwner = owner;
    record.messageTitle = title;
  };
  return services;
}

// Runs script on each server dialog once it is on screen, as an operator would.
class DialogOperator final : public QObject {
 public:
  explicit DialogOperator(std::function<void(TFSqlServer&)> script) : script_(std::move(script)) {
    QCoreApplication::instance()->installEventFilter(this);
  }
  ~DialogOperator() override { QCoreApplication::instance()->removeEventFilter(this); }
  DialogOperator(const DialogOperator&) = delete;
  DialogOperator& operator=(const DialogOperator&) = delete;

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) {
      if (auto* dialog = qobject_cast<TFSqlServer*>(watched)) {
        ++shown;
        QMetaObject::invokeMethod(
            dialog, [this, dialog] { script_(*dialog); }, Qt::QueuedConnection);
      }
    }
    return false;
  }

  int shown = 0;

 private:
  std::function<void(TFSqlServer&)> script_;
};

// Makes the dialog the active window, so that focus and Tab work as on screen.
void activate(QWidget& window) {
  window.show();
  QApplication::setActiveWindow(&window);
  ASSERT_TRUE(window.isActiveWindow());
}

// The control that has the keyboard focus, an editable combo box standing for its
// line edit.
QWidget* focusedControl(const TFSqlServer& dialog) {
  QWidget* focus = QApplication::focusWidget();
  for (QWidget* control :
       std::initializer_list<QWidget*>{dialog.RzComboBox1, dialog.RzComboBox2, dialog.RzEdit1,
                                       dialog.RzEdit2, dialog.RzBitBtn1, dialog.RzBitBtn2}) {
    if (focus == control || control->isAncestorOf(focus)) {
      return control;
    }
  }
  return focus;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class ServerDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "dialog-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    ui_.services = [this] { return recordingServices(record_); };
  }
  void TearDown() override {
    dialog_.reset();
    form_.reset();
    fs::remove_all(dir_);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the pointer is restored on every path";
  }

  [[nodiscard]] fs::path settingsPath() const { return dir_ / "System.ini"; }

  void storeSettings(const std::string& text) const { std::ofstream(settingsPath()) << text; }

  // A main form that has only its objects, and a dialog working on it.
  TFSqlServer& makeDialog(std::vector<std::string> servers = {}) {
    form_ = std::make_unique<TForm1>(db_, settingsPath(), ui_, TForm1::Creation::StateOnly);
    dialog_ = std::make_unique<TFSqlServer>(recordingServices(record_, std::move(servers)));
    record_.events.clear();  // the listing at creation
    return *dialog_;
  }

  // The whole run, as the program's entry does it.
  void runProgram() { form_ = std::make_unique<TForm1>(db_, settingsPath(), ui_); }

  fs::path dir_;
  Record record_;
  RecordingDatabase db_{record_, "db2"};
  RecordingUi ui_{record_};
  std::unique_ptr<TForm1> form_;
  std::unique_ptr<TFSqlServer> dialog_;
};

// --- Look -------------------------------------------------------------------

TEST_F(ServerDialogTest, LooksAsDesigned) {
  TFSqlServer& d = makeDialog();
  d.show();
  EXPECT_EQ(d.windowTitle(), QStringLiteral("服务器连接参数配置"));
  EXPECT_EQ(d.size(), QSize(348, 242));
  EXPECT_EQ(d.minimumSize(), d.maximumSize()) << "fixed size";
  const Qt::WindowFlags flags = d.windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowContextHelpButtonHint));
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_LE((d.geometry().center() - screen.center()).manhattanLength(), 2) << "centred";

  for (const QLabel* label : {d.Label1, d.Label2, d.Label3, d.Label4, d.RzLabel1}) {
    EXPECT_FALSE(label->autoFillBackground()) << "transparent over the picture";
  }
  EXPECT_TRUE(d.RzComboBox1->isEditable());
  EXPECT_TRUE(d.RzComboBox2->isEditable());
  EXPECT_EQ(d.RzEdit1->echoMode(), QLineEdit::Normal) << "the password in clear text";

  EXPECT_EQ(d.font().family(), QStringLiteral("宋体"));
  EXPECT_EQ(d.font().pixelSize(), 12);
  for (QWidget* bold : std::initializer_list<QWidget*>{d.Label1, d.Label2, d.Label3, d.Label4,
                                                       d.RzBitBtn1, d.RzBitBtn2}) {
    SCOPED_TRACE(bold->objectName().toStdString());
    EXPECT_EQ(bold->font().family(), QStringLiteral("宋体"));
    EXPECT_EQ(bold->font().pixelSize(), 14);
    EXPECT_TRUE(bold->font().bold());
  }
  EXPECT_EQ(d.RzLabel1->font().pixelSize(), 12);
  EXPECT_FALSE(d.RzLabel1->font().bold());
  EXPECT_EQ(d.RzLabel1->palette().color(QPalette::WindowText), QColor(Qt::red));
}

TEST_F(ServerDialogTest, SongTiResolvesToAFontWithTheChineseTexts) {
  TFSqlServer& d = makeDialog();
  const QRawFont raw = QRawFont::fromFont(d.Label1->font());
  ASSERT_TRUE(raw.isValid());
  for (const QChar c : QStringLiteral("服务器连接参数配置数据库名称密码端口提示一般为空放弃")) {
    EXPECT_TRUE(raw.supportsCharacter(c))
        << "no glyph for " << QString(c).toStdString() << " in " << raw.familyName().toStdString();
  }
}

TEST_F(ServerDialogTest, BackgroundIsAJpegStretchedOverTheWindow) {
  QImageReader reader(QStringLiteral(":/upgrade/server_dialog_background.jpg"));
  EXPECT_EQ(reader.format(), QByteArray("jpeg")) << "decoded by the JPEG plugin";
  const QImage picture = reader.read();
  ASSERT_FALSE(picture.isNull()) << reader.errorString().toStdString();

  TFSqlServer& d = makeDialog();
  EXPECT_FALSE(d.Image27->pixmap().isNull());
  EXPECT_TRUE(d.Image27->hasScaledContents());
  // Between the controls the picture shows; its corners are its own colours.
  const QImage shown = d.grab().toImage();
  const auto near = [](QColor a, QColor b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
               std::abs(a.blue() - b.blue()) <
           24;
  };
  EXPECT_TRUE(near(shown.pixelColor(2, 2), picture.pixelColor(2, 2)));
  EXPECT_TRUE(near(shown.pixelColor(345, 239),
                   picture.pixelColor(picture.width() - 3, picture.height() - 3)));
}

TEST_F(ServerDialogTest, ButtonsHaveTheirFaceColourAndLightUpUnderTheMouse) {
  TFSqlServer& d = makeDialog();
  activate(d);
  const QPoint inside(8, 15);  // clear of the caption and of the border
  EXPECT_EQ(d.RzBitBtn1->grab().toImage().pixelColor(inside), QColor(236, 233, 216));
  // The pointer comes from elsewhere in the window onto the button.
  QTest::mouseMove(&d, QPoint(5, 5));
  QTest::mouseMove(d.RzBitBtn1, inside);
  ASSERT_TRUE(d.RzBitBtn1->underMouse());
  EXPECT_NE(d.RzBitBtn1->grab().toImage().pixelColor(inside), QColor(236, 233, 216));
}

// --- Keyboard ---------------------------------------------------------------

TEST_F(ServerDialogTest, EnterWalksServerDatabasePasswordPortThenConnects) {
  TFSqlServer& d = makeDialog();
  activate(d);
  EXPECT_EQ(focusedControl(d), d.RzComboBox1) << "the server has the focus first";
  const std::vector<QWidget*> walk{d.RzComboBox2, d.RzEdit1, d.RzEdit2};
  for (QWidget* next : walk) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(focusedControl(d), next) << next->objectName().toStdString();
  }
  EXPECT_FALSE(record_.has("open . (busy)"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);  // the keypad's Enter
  EXPECT_TRUE(record_.has("open . (busy)")) << "Enter in the port box connects";
  EXPECT_EQ(d.RzComboBox1->count(), 0) << "Enter adds nothing to the list";
}

TEST_F(ServerDialogTest, TabGoesServerPasswordPortConnectAbandonDatabase) {
  TFSqlServer& d = makeDialog();
  activate(d);
  const std::vector<QWidget*> order{d.RzComboBox1, d.RzEdit1,     d.RzEdit2,    d.RzBitBtn1,
                                    d.RzBitBtn2,   d.RzComboBox2, d.RzComboBox1};
  EXPECT_EQ(focusedControl(d), order.front());
  for (std::size_t i = 1; i < order.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(focusedControl(d), order[i]) << "step " << i;
  }
}

TEST_F(ServerDialogTest, F2ConnectsWhereverTheFocusIs) {
  TFSqlServer& d = makeDialog();
  activate(d);
  for (QWidget* control : std::initializer_list<QWidget*>{d.RzComboBox1, d.RzComboBox2, d.RzEdit1,
                                                          d.RzEdit2, d.RzBitBtn1, d.RzBitBtn2}) {
    SCOPED_TRACE(control->objectName().toStdString());
    record_.events.clear();
    control->setFocus();
    ASSERT_EQ(focusedControl(d), control);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F2);
    EXPECT_EQ(record_.count("open . (busy)"), 1);
    EXPECT_FALSE(record_.has("end"));
  }
}

TEST_F(ServerDialogTest, EscEndsTheProgramWithoutConnecting) {
  TFSqlServer& d = makeDialog();
  for (QWidget* control : std::initializer_list<QWidget*>{d.RzComboBox1, d.RzEdit2, d.RzBitBtn1}) {
    SCOPED_TRACE(control->objectName().toStdString());
    record_.events.clear();
    activate(d);
    control->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_EQ(record_.events, std::vector<std::string>{"end"});
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_FALSE(form_->connected);
  }
}

// --- Show, Connect, Abandon -------------------------------------------------

TEST_F(ServerDialogTest, ShowingFillsTheFieldsFromTheSettingsFile) {
  storeSettings(
      "[ServerIP]\nServerIP1=db1\n[ServerPass]\nServerPass1=pw\n"
      "[Dbname]\nDbname1=Spa\n[ServerPort]\nServerPort1=0x599\n");
  TFSqlServer& d = makeDialog();
  d.fillFields(ConnectionSettings{.server = "x", .password = "y", .port = 1, .database = "z"});
  EXPECT_EQ(d.RzComboBox1->currentText(), QStringLiteral("x"));
  EXPECT_EQ(d.RzEdit2->text(), QStringLiteral("1"));
  d.show();
  EXPECT_EQ(d.RzComboBox1->currentText(), QStringLiteral("db1"));
  EXPECT_EQ(d.RzEdit1->text(), QStringLiteral("pw"));
  EXPECT_EQ(d.RzComboBox2->currentText(), QStringLiteral("Spa"));
  EXPECT_EQ(d.RzEdit2->text(), QStringLiteral("1433"));

  fs::remove(settingsPath());
  d.hide();
  d.show();
  EXPECT_EQ(d.RzComboBox1->currentText(), QStringLiteral("."));
  EXPECT_EQ(d.RzEdit1->text(), QString());
  EXPECT_EQ(d.RzComboBox2->currentText(), QStringLiteral("Kvb"));
  EXPECT_EQ(d.RzEdit2->text(), QStringLiteral("80"));
}

TEST_F(ServerDialogTest, ServerListComesFromTheListerAndIsEmptyWhenItFails) {
  TFSqlServer& listed = makeDialog({"SPA-DB", "SPA-DB\\SQLEXPRESS", "10.0.0.5"});
  ASSERT_EQ(listed.RzComboBox1->count(), 3);
  EXPECT_EQ(listed.RzComboBox1->itemText(0), QStringLiteral("SPA-DB"));
  EXPECT_EQ(listed.RzComboBox1->itemText(1), QStringLiteral("SPA-DB\\SQLEXPRESS"));
  EXPECT_EQ(listed.RzComboBox1->itemText(2), QStringLiteral("10.0.0.5"));
  EXPECT_EQ(listed.RzComboBox1->currentText(), QString()) << "a name is offered, not picked";

  TFSqlServer::Services failing = recordingServices(record_);
  failing.listServers = []() -> std::vector<std::string> {
    throw std::runtime_error("no SQL Server Browser answered");
  };
  storeSettings("[ServerIP]\nServerIP1=db1\n");
  TFSqlServer unlisted(std::move(failing));
  EXPECT_EQ(unlisted.RzComboBox1->count(), 0);
  unlisted.show();
  EXPECT_EQ(unlisted.RzComboBox1->currentText(), QStringLiteral("db1"));

  TFSqlServer::Services none = recordingServices(record_);
  none.listServers = nullptr;
  const TFSqlServer hidden(std::move(none));
  EXPECT_EQ(hidden.RzComboBox1->count(), 0);
}

TEST_F(ServerDialogTest, ConnectSendsTrimmedValuesAndStoresThemInOrder) {
  TFSqlServer& d = makeDialog();
  d.show();
  d.RzComboBox1->setEditText(QStringLiteral("  db2 "));
  d.RzComboBox2->setEditText(QStringLiteral(" Spa\t"));
  d.RzEdit1->setText(QStringLiteral(" p;w "));
  d.RzEdit2->setText(QStringLiteral("80"));
  ASSERT_FALSE(fs::exists(settingsPath()));
  d.RzBitBtn1Click();

  EXPECT_TRUE(form_->connected);
  EXPECT_TRUE(form_->ADOCon.isOpen());
  EXPECT_EQ(form_->ADOCon.connectionString(),
            "Provider=SQLOLEDB.1;Password=p;w;Persist Security Info=False;User ID=sa;"
            "Initial Catalog=Spa;Data Source=db2");
  EXPECT_EQ(record_.events, (std::vector<std::string>{"busy", "open db2 (busy)", "normal"}));
  EXPECT_FALSE(d.isVisible());
  EXPECT_EQ(d.result(), QDialog::Accepted);

  // Server and database name as typed, the password trimmed, the port a number;
  // the sections in the order they were written.
  std::string text = readFile(settingsPath());
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  EXPECT_EQ(text,
            "[Dbname]\nDbname1= Spa\t\n[ServerIP]\nServerIP1=  db2 \n"
            "[ServerPass]\nServerPass1=p;w\n[ServerPort]\nServerPort1=80\n");
  EXPECT_EQ(form_->settings.readInteger("ServerPort", "ServerPort1", 0), 80);
}

TEST_F(ServerDialogTest, FailedConnectShowsTheMessageThenEndsTheProgram) {
  TFSqlServer& d = makeDialog();
  activate(d);
  d.RzComboBox1->setEditText(QStringLiteral("nowhere"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F2);
  EXPECT_EQ(record_.events, (std::vector<std::string>{
                                "busy", "open nowhere (busy)", "normal",
                                "dialog message 服务器连接出错，请重新启动软件重试！ (normal)",
                                "kill Update.exe"}));
  EXPECT_EQ(record_.messageOwner, &d);
  EXPECT_EQ(record_.messageTitle, QStringLiteral("系统提示"));
  EXPECT_FALSE(form_->connected);
  EXPECT_FALSE(fs::exists(settingsPath()));
  // Under another file name the program survives that, and the dialog stays for
  // another try.
  EXPECT_TRUE(d.isVisible());
}

TEST_F(ServerDialogTest, PortThatIsNotAWholeNumberFailsAfterConnecting) {
  for (const char* port : {"8O", "80 ", "", "1.5", "99999999999"}) {
    SCOPED_TRACE(port);
    record_.events.clear();
    fs::remove(settingsPath());
    TFSqlServer& d = makeDialog();
    d.show();
    d.RzComboBox1->setEditText(QStringLiteral("db2"));
    d.RzEdit2->setText(QString::fromLatin1(port));
    d.RzBitBtn1Click();
    EXPECT_EQ(record_.events, (std::vector<std::string>{
                                  "busy", "open db2 (busy)", "normal",
                                  "dialog message 服务器连接出错，请重新启动软件重试！ (normal)",
                                  "kill Update.exe"}));
    // What came before the port is stored; the connection does not count.
    EXPECT_EQ(form_->settings.readString("ServerIP", "ServerIP1", ""), "db2");
    EXPECT_EQ(form_->settings.readString("ServerPort", "ServerPort1", "none"), "none");
    EXPECT_FALSE(form_->connected);
    EXPECT_FALSE(form_->ADOCon.isOpen());
    EXPECT_TRUE(d.isVisible());
  }
}

TEST_F(ServerDialogTest, PortAcceptsTheIntegerForms) {
  EXPECT_EQ(portFromText(QStringLiteral("80")), 80);
  EXPECT_EQ(portFromText(QStringLiteral("  1433")), 1433);
  EXPECT_EQ(portFromText(QStringLiteral("$50")), 80);
  EXPECT_EQ(portFromText(QStringLiteral("0x50")), 80);
  EXPECT_EQ(portFromText(QStringLiteral("-1")), -1);
  EXPECT_EQ(portFromText(QStringLiteral("８０")), std::nullopt) << "full-width digits";
  EXPECT_EQ(trimBlanks(QStringLiteral("\t a b \r\n")), QStringLiteral("a b"));
  EXPECT_EQ(trimBlanks(QStringLiteral("\u3000db\u3000")), QStringLiteral("\u3000db\u3000"))
      << "only blanks and control characters are trimmed";
}

TEST_F(ServerDialogTest, SettingsFileThatCannotBeWrittenFailsLikeAFailedConnect) {
  fs::create_directory(settingsPath());  // a directory where the file should be
  TFSqlServer& d = makeDialog();
  d.show();
  d.RzComboBox1->setEditText(QStringLiteral("db2"));
  d.RzBitBtn1Click();
  EXPECT_TRUE(record_.has("kill Update.exe"));
  EXPECT_FALSE(form_->connected);
}

TEST_F(ServerDialogTest, AbandonEndsTheProgram) {
  TFSqlServer& d = makeDialog();
  activate(d);
  QTest::mouseClick(d.RzBitBtn2, Qt::LeftButton);
  EXPECT_EQ(record_.events, (std::vector<std::string>{"end", "kill update.exe"}));
  EXPECT_FALSE(d.isVisible()) << "the end request closes the dialog when the program survives";
  EXPECT_EQ(d.result(), QDialog::Rejected);
  EXPECT_FALSE(form_->connected);
}

// --- Inside start-up ----------------------------------------------------------

TEST_F(ServerDialogTest, ConnectThroughTheDialogLetsTheLadderRunOnItsConnection) {
  DialogOperator op([](TFSqlServer& d) {
    EXPECT_FALSE(busyPointer()) << "the normal pointer while the dialog waits";
    d.RzComboBox1->setEditText(QStringLiteral(" db2 "));
    QTest::keyClick(d.RzEdit2, Qt::Key_Return);
  });
  runProgram();
  EXPECT_EQ(op.shown, 1);
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
  EXPECT_EQ(db_.sim.version(), "1.0.0.0.31") << "the last step ran on the dialog's connection";
  EXPECT_EQ(form_->settings.readString("ServerIP", "ServerIP1", ""), "db2");
}

TEST_F(ServerDialogTest, EscInTheDialogEndsTheRunWithTheFailedConnection) {
  storeSettings("[ServerIP]\nServerIP1=db1\n");
  DialogOperator op([](TFSqlServer& d) { QTest::keyClick(d.RzComboBox2, Qt::Key_Escape); });
  runProgram();
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
  EXPECT_TRUE(db_.sim.journal().empty());
}

TEST_F(ServerDialogTest, AfterAHalfFinishedConnectAbandonStillEndsWithoutUpgrading) {
  DialogOperator op([](TFSqlServer& d) {
    d.RzComboBox1->setEditText(QStringLiteral("db2"));
    d.RzEdit2->setText(QStringLiteral("eighty"));
    QTest::keyClick(d.RzEdit1, Qt::Key_F2);  // connects, then fails on the port
    QTest::mouseClick(d.RzBitBtn2, Qt::LeftButton);
  });
  runProgram();
  EXPECT_TRUE(record_.has("kill Update.exe"));
  EXPECT_TRUE(record_.has("kill update.exe"));
  EXPECT_EQ(record_.events.end()[-2], "message 服务器连接失败！ (normal)");
  EXPECT_EQ(record_.events.back(), "end");
  EXPECT_FALSE(form_->connected);
  EXPECT_TRUE(db_.sim.journal().empty()) << "nothing reaches the database after Abandon";
}

TEST_F(ServerDialogTest, ProductionMessageBoxIsOwnedByTheDialog) {
  TFSqlServer& d = makeDialog();
  struct Seen {
    QString title, text;
    QMessageBox::Icon icon;
    QWidget* parent;
  };
  std::vector<Seen> seen;
  class Confirm final : public QObject {
   public:
    explicit Confirm(std::vector<Seen>& out) : out_(out) {
      QCoreApplication::instance()->installEventFilter(this);
    }
    ~Confirm() override { QCoreApplication::instance()->removeEventFilter(this); }
    Confirm(const Confirm&) = delete;
    Confirm& operator=(const Confirm&) = delete;
    bool eventFilter(QObject* watched, QEvent* event) override {
      if (event->type() == QEvent::Show) {
        if (auto* box = qobject_cast<QMessageBox*>(watched)) {
          out_.push_back({box->windowTitle(), box->text(), box->icon(), box->parentWidget()});
          QMetaObject::invokeMethod(
              box, [box] { box->button(QMessageBox::Ok)->click(); }, Qt::QueuedConnection);
        }
      }
      return false;
    }

   private:
    std::vector<Seen>& out_;
  } confirm(seen);
  TFSqlServer::productionServices().showMessage(
      &d, QStringLiteral("系统提示"), QStringLiteral("服务器连接出错，请重新启动软件重试！"));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].title, QStringLiteral("系统提示"));
  EXPECT_EQ(seen[0].text, QStringLiteral("服务器连接出错，请重新启动软件重试！"));
  EXPECT_EQ(seen[0].icon, QMessageBox::Information);
  EXPECT_EQ(seen[0].parent, &d);
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
