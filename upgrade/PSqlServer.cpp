#include "PSqlServer.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QtGlobal>
#include <stdexcept>
#include <utility>

#include "Unit1.h"
#include "kill_processes.h"
#include "server_listing.h"
#include "settings_file.h"

namespace {

using upgrade::ConnectionSettings;

const QString kBackgroundPicture = QStringLiteral(":/upgrade/server_dialog_background.jpg");
const QString kErrorTitle = QStringLiteral("系统提示");
const QString kConnectError = QStringLiteral("服务器连接出错，请重新启动软件重试！");
// The file name whose processes are ended. The two spellings differ only in
// letter case, which the comparison ignores.
constexpr std::string_view kProgramOnFailedConnect = "Update.exe";
constexpr std::string_view kProgramOnAbandon = "update.exe";

// "宋体" is SimSun's Chinese name, which Windows knows. Where it is missing, an
// installed CJK font takes its place rather than a font without Chinese glyphs.
void substituteSongTi() {
  static const bool substituted = [] {
    QFont::insertSubstitutions(
        QStringLiteral("宋体"),
        {QStringLiteral("SimSun"), QStringLiteral("NSimSun"), QStringLiteral("Noto Serif CJK SC"),
         QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei"),
         QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("AR PL UMing CN")});
    return true;
  }();
  (void)substituted;
}

// The form's font. The GB2312 character set it was designed with has no
// counterpart in Qt; the substitutes above all cover GB2312.
QFont formFont() {
  QFont font(QStringLiteral("宋体"));
  font.setPixelSize(12);
  return font;
}

QFont boldFont() {
  QFont font = formFont();
  font.setPixelSize(14);
  font.setBold(true);
  return font;
}

// The buttons' face colour, lighter under the mouse.
const QString kButtonStyle = QStringLiteral(
    "QPushButton { background-color: rgb(236, 233, 216); color: black;"
    " border: 1px solid rgb(128, 125, 110); border-radius: 3px; }"
    "QPushButton:hover { background-color: rgb(252, 250, 240);"
    " border-color: rgb(230, 150, 30); }"
    "QPushButton:focus { border-color: rgb(50, 90, 180); }"
    "QPushButton:pressed { background-color: rgb(214, 210, 190); }");

std::string toUtf8(const QString& text) {
  return text.toStdString();
}

QString fromUtf8(const std::string& text) {
  return QString::fromStdString(text);
}

bool isEnter(int key) {
  return key == Qt::Key_Return || key == Qt::Key_Enter;
}

bool within(const QWidget* control, const QWidget* widget) {
  return widget == control || control->isAncestorOf(widget);
}

}  // namespace

TFSqlServer::Services TFSqlServer::productionServices() {
  Services services;
  services.listServers = [] { return upgrade::listVisibleSqlServers(); };
  services.killProcesses = [](std::string_view name) { upgrade::KillProcessesByName(name); };
  services.showMessage = [](QWidget* owner, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, owner);
    box.exec();
  };
  return services;
}

TFSqlServer::TFSqlServer(Services services, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      services_(std::move(services)) {
  substituteSongTi();
  setObjectName(QStringLiteral("FSqlServer"));
  setWindowTitle(QStringLiteral("服务器连接参数配置"));
  setFixedSize(348, 242);
  setFont(formFont());

  // First, so that everything else lies on top of it.
  Image27 = new QLabel(this);
  Image27->setObjectName(QStringLiteral("Image27"));
  Image27->setGeometry(0, 0, 348, 242);
  Image27->setScaledContents(true);
  const QPixmap picture(kBackgroundPicture);
  if (picture.isNull()) {
    qWarning("Update: the background picture of the server dialog could not be decoded");
  }
  Image27->setPixmap(picture);

  // Labels draw no background of their own, so the picture shows through them.
  const auto makeLabel = [this](const char* name, const QString& text, const QRect& geometry,
                                const QFont& font) {
    auto* label = new QLabel(text, this);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setFont(font);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
  };
  Label1 = makeLabel("Label1", QStringLiteral("服务器名称 / IP："), {34, 35, 130, 14}, boldFont());
  Label4 = makeLabel("Label4", QStringLiteral("服务器数据库名称："), {34, 67, 135, 14}, boldFont());
  Label2 =
      makeLabel("Label2", QStringLiteral("服务器数据库密码："), {34, 101, 135, 14}, boldFont());
  Label3 =
      makeLabel("Label3", QStringLiteral("服务器数据库端口："), {34, 133, 135, 14}, boldFont());
  RzLabel1 = makeLabel("RzLabel1", QStringLiteral("提示[数据库密码一般为空，数据库端口一般80]"),
                       {37, 158, 252, 12}, formFont());
  QPalette red = RzLabel1->palette();
  red.setColor(QPalette::WindowText, Qt::red);
  RzLabel1->setPalette(red);

  const auto makeCombo = [this](const char* name, const QRect& geometry) {
    auto* combo = new QComboBox(this);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setGeometry(geometry);
    combo->setEditable(true);
    // Enter moves on; it does not add the typed text to the list.
    combo->setInsertPolicy(QComboBox::NoInsert);
    return combo;
  };
  const auto makeEdit = [this](const char* name, const QRect& geometry, const QString& text) {
    auto* edit = new QLineEdit(text, this);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(geometry);
    return edit;
  };
  const auto makeButton = [this](const char* name, const QString& text, const QRect& geometry) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->setFont(boldFont());
    button->setStyleSheet(kButtonStyle);
    return button;
  };
  RzComboBox1 = makeCombo("RzComboBox1", {163, 32, 145, 20});
  RzComboBox2 = makeCombo("RzComboBox2", {163, 64, 145, 20});
  // The password is shown in clear text.
  RzEdit1 = makeEdit("RzEdit1", {163, 96, 145, 20}, QString());
  RzEdit2 = makeEdit("RzEdit2", {163, 133, 145, 20}, QStringLiteral("80"));
  RzBitBtn1 = makeButton("RzBitBtn1", QStringLiteral("连接[F2]"), {57, 183, 93, 31});
  RzBitBtn2 = makeButton("RzBitBtn2", QStringLiteral("放弃[Esc]"), {190, 183, 93, 31});
  connect(RzBitBtn1, &QPushButton::clicked, this, [this] { RzBitBtn1Click(); });
  connect(RzBitBtn2, &QPushButton::clicked, this, [this] { RzBitBtn2Click(); });

  // Tab goes server, password, port, Connect, Abandon, database name (Enter walks
  // in another order).
  setTabOrder(RzComboBox1, RzEdit1);
  setTabOrder(RzEdit1, RzEdit2);
  setTabOrder(RzEdit2, RzBitBtn1);
  setTabOrder(RzBitBtn1, RzBitBtn2);
  setTabOrder(RzBitBtn2, RzComboBox2);

  // The form sees every key before its controls do.
  QCoreApplication::instance()->installEventFilter(this);
  FormCreate();
}

TFSqlServer::~TFSqlServer() {
  if (QCoreApplication* app = QCoreApplication::instance()) {
    app->removeEventFilter(this);
  }
}

void TFSqlServer::fillFields(const ConnectionSettings& values) {
  RzComboBox1->setEditText(fromUtf8(values.server));
  RzEdit1->setText(fromUtf8(values.password));
  RzComboBox2->setEditText(fromUtf8(values.database));
  RzEdit2->setText(QString::number(values.port));
}

void TFSqlServer::FormCreate() {
  RzComboBox1->clear();
  if (!services_.listServers) {
    return;
  }
  try {
    for (const std::string& name : services_.listServers()) {
      RzComboBox1->addItem(fromUtf8(name));
    }
  } catch (...) {
    // No list: the operator types the server's name. Nothing is reported.
  }
  // Listing offers names; it does not pick one.
  RzComboBox1->setCurrentIndex(-1);
}

void TFSqlServer::FormShow() {
  if (Form1 != nullptr) {
    const upgrade::SettingsFile& settings = Form1->settings;
    const ConnectionSettings defaults;
    using upgrade::kDatabaseKey, upgrade::kPasswordKey, upgrade::kPortKey, upgrade::kServerKey;
    RzComboBox1->setEditText(
        fromUtf8(settings.readString(kServerKey.section, kServerKey.key, defaults.server)));
    RzEdit1->setText(
        fromUtf8(settings.readString(kPasswordKey.section, kPasswordKey.key, defaults.password)));
    RzComboBox2->setEditText(
        fromUtf8(settings.readString(kDatabaseKey.section, kDatabaseKey.key, defaults.database)));
    RzEdit2->setText(
        QString::number(settings.readInteger(kPortKey.section, kPortKey.key, defaults.port)));
  }
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    setGeometry(
        QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen->availableGeometry()));
  }
}

void TFSqlServer::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    try {
      FormShow();
    } catch (...) {
      // The fields keep what start-up put into them.
    }
  }
  QDialog::showEvent(event);
}

bool TFSqlServer::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) {
    return false;
  }
  const auto* widget = static_cast<const QWidget*>(watched);
  // Keys of this window only; its popups and message boxes are windows of their own.
  if (widget != this && !isAncestorOf(widget)) {
    return false;
  }
  const int key = static_cast<const QKeyEvent*>(event)->key();
  if (FormKeyDown(key)) {
    return true;
  }
  if (within(RzComboBox1, widget)) {
    return RzComboBox1KeyDown(key);
  }
  if (within(RzComboBox2, widget)) {
    return RzComboBox2KeyDown(key);
  }
  if (within(RzEdit1, widget)) {
    return RzEdit1KeyDown(key);
  }
  if (within(RzEdit2, widget)) {
    return RzEdit2KeyDown(key);
  }
  return false;
}

bool TFSqlServer::FormKeyDown(int key) {
  if (key == Qt::Key_F2) {
    RzBitBtn1Click();
    return true;
  }
  if (key == Qt::Key_Escape) {
    requestEnd();
    // The end request closes the modal dialog without connecting.
    reject();
    return true;
  }
  return false;
}

bool TFSqlServer::RzComboBox1KeyDown(int key) {
  if (!isEnter(key)) {
    return false;
  }
  RzComboBox2->setFocus(Qt::TabFocusReason);
  return true;
}

bool TFSqlServer::RzComboBox2KeyDown(int key) {
  if (!isEnter(key)) {
    return false;
  }
  RzEdit1->setFocus(Qt::TabFocusReason);
  return true;
}

bool TFSqlServer::RzEdit1KeyDown(int key) {
  if (!isEnter(key)) {
    return false;
  }
  RzEdit2->setFocus(Qt::TabFocusReason);
  return true;
}

bool TFSqlServer::RzEdit2KeyDown(int key) {
  if (!isEnter(key)) {
    return false;
  }
  RzBitBtn1Click();
  return true;
}

void TFSqlServer::RzBitBtn1Click() {
  upgrade::StartupUi* ui = Form1 != nullptr ? &Form1->ui() : nullptr;
  bool failed = false;
  try {
    if (Form1 == nullptr) {
      throw std::logic_error("the server dialog has no main form to connect");
    }
    const std::string server = toUtf8(upgrade::trimBlanks(RzComboBox1->currentText()));
    const std::string password = toUtf8(upgrade::trimBlanks(RzEdit1->text()));
    const std::string database = toUtf8(upgrade::trimBlanks(RzComboBox2->currentText()));
    Form1->ADOCon.close();
    Form1->ADOCon.setConnection(password, database, server);
    ui->showBusyPointer();
    Form1->ADOCon.open();
    Form1->connected = true;
    // Server and database name as typed; the password as it was used.
    upgrade::SettingsFile& settings = Form1->settings;
    using upgrade::kDatabaseKey, upgrade::kPasswordKey, upgrade::kPortKey, upgrade::kServerKey;
    settings.writeString(kDatabaseKey.section, kDatabaseKey.key,
                         toUtf8(RzComboBox2->currentText()));
    settings.writeString(kServerKey.section, kServerKey.key, toUtf8(RzComboBox1->currentText()));
    settings.writeString(kPasswordKey.section, kPasswordKey.key, password);
    const std::optional<int> port = upgrade::portFromText(RzEdit2->text());
    if (!port) {
      throw std::invalid_argument("the port is not a whole number");
    }
    settings.writeInteger(kPortKey.section, kPortKey.key, *port);
    accept();
  } catch (...) {
    failed = true;
  }
  if (ui != nullptr) {
    try {
      ui->restorePointer();
    } catch (...) {
    }
  }
  if (!failed) {
    return;
  }
  if (Form1 != nullptr) {
    // Where the program survives the ending below (it runs under another file
    // name), the dialog stays open; a half-finished Connect must not pass for a
    // connection when it is closed some other way.
    Form1->ADOCon.close();
    Form1->connected = false;
  }
  try {
    services_.showMessage(this, kErrorTitle, kConnectError);
  } catch (...) {
  }
  try {
    services_.killProcesses(kProgramOnFailedConnect);
  } catch (...) {
  }
}

void TFSqlServer::RzBitBtn2Click() {
  requestEnd();
  try {
    services_.killProcesses(kProgramOnAbandon);
  } catch (...) {
  }
  // Still running: the end request closes the modal dialog, and start-up reports
  // the connection that was never made.
  reject();
}

void TFSqlServer::requestEnd() {
  if (Form1 == nullptr) {
    return;
  }
  try {
    Form1->ui().endRun();
  } catch (...) {
  }
}

namespace upgrade {
namespace {

class ServerDialogForm final : public ServerDialog {
 public:
  explicit ServerDialogForm(TFSqlServer::Services services) : form_(std::move(services)) {}

  void fillFields(const ConnectionSettings& values) override { form_.fillFields(values); }
  void showModal() override { form_.exec(); }

 private:
  TFSqlServer form_;
};

}  // namespace

std::unique_ptr<ServerDialog> makeServerDialog(TFSqlServer::Services services) {
  return std::make_unique<ServerDialogForm>(std::move(services));
}

std::unique_ptr<ServerDialog> createServerDialog() {
  return makeServerDialog(TFSqlServer::productionServices());
}

QString trimBlanks(const QString& text) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && text.at(begin).unicode() <= u' ') {
    ++begin;
  }
  while (end > begin && text.at(end - 1).unicode() <= u' ') {
    --end;
  }
  return text.mid(begin, end - begin);
}

std::optional<int> portFromText(const QString& text) {
  qsizetype begin = 0;
  while (begin < text.size() && text.at(begin) == u' ') {
    ++begin;
  }
  return parseProfileInteger(toUtf8(text.mid(begin)));
}

}  // namespace upgrade
