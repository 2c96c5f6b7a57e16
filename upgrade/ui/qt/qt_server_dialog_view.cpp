#include "qt_server_dialog_view.h"

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

namespace upgrade {
namespace {

const QString kBackgroundPicture = QStringLiteral(":/upgrade/server_dialog_background.jpg");

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

// The buttons' face colour, lighter under the mouse. Focus shows only in the
// frame's colour: the style's own focus rectangle would tint the whole face.
const QString kButtonStyle = QStringLiteral(
    "QPushButton { background-color: rgb(236, 233, 216); color: black;"
    " border: 1px solid rgb(128, 125, 110); border-radius: 3px; outline: none; }"
    "QPushButton:hover { background-color: rgb(252, 250, 240);"
    " border-color: rgb(230, 150, 30); }"
    "QPushButton:focus { border-color: rgb(50, 90, 180); }"
    "QPushButton:pressed { background-color: rgb(214, 210, 190); }");

QString fromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool within(const QWidget* control, const QWidget* widget) {
  return widget == control || control->isAncestorOf(widget);
}

// The keys the dialog acts on; nullopt for every other key.
std::optional<DialogKey> dialogKey(int key) {
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:  // the keypad's
      return DialogKey::Enter;
    case Qt::Key_F2:
      return DialogKey::F2;
    case Qt::Key_Escape:
      return DialogKey::Escape;
    default:
      return std::nullopt;
  }
}

}  // namespace

QtServerDialogView::QtServerDialogView(ServerDialogEvents& events, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      events_(events) {
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
  connect(RzBitBtn1, &QPushButton::clicked, this,
          [this] { events_.ButtonClick(DialogButton::RzBitBtn1); });
  connect(RzBitBtn2, &QPushButton::clicked, this,
          [this] { events_.ButtonClick(DialogButton::RzBitBtn2); });

  // Tab goes server, password, port, Connect, Abandon, database name (Enter walks
  // in another order).
  setTabOrder(RzComboBox1, RzEdit1);
  setTabOrder(RzEdit1, RzEdit2);
  setTabOrder(RzEdit2, RzBitBtn1);
  setTabOrder(RzBitBtn1, RzBitBtn2);
  setTabOrder(RzBitBtn2, RzComboBox2);

  // The form sees every key before its controls do.
  QCoreApplication::instance()->installEventFilter(this);
}

QtServerDialogView::~QtServerDialogView() {
  if (QCoreApplication* app = QCoreApplication::instance()) {
    app->removeEventFilter(this);
  }
}

void QtServerDialogView::setText(DialogField field, std::string_view text) {
  switch (field) {
    case DialogField::RzComboBox1:
      RzComboBox1->setEditText(fromUtf8(text));
      break;
    case DialogField::RzComboBox2:
      RzComboBox2->setEditText(fromUtf8(text));
      break;
    case DialogField::RzEdit1:
      RzEdit1->setText(fromUtf8(text));
      break;
    case DialogField::RzEdit2:
      RzEdit2->setText(fromUtf8(text));
      break;
  }
}

std::string QtServerDialogView::text(DialogField field) const {
  switch (field) {
    case DialogField::RzComboBox1:
      return RzComboBox1->currentText().toStdString();
    case DialogField::RzComboBox2:
      return RzComboBox2->currentText().toStdString();
    case DialogField::RzEdit1:
      return RzEdit1->text().toStdString();
    case DialogField::RzEdit2:
      return RzEdit2->text().toStdString();
  }
  return {};
}

void QtServerDialogView::setFocus(DialogField field) {
  QWidget* controls[] = {RzComboBox1, RzComboBox2, RzEdit1, RzEdit2};
  controls[static_cast<int>(field)]->setFocus(Qt::TabFocusReason);
}

void QtServerDialogView::setServerList(const std::vector<std::string>& names) {
  RzComboBox1->clear();
  for (const std::string& name : names) {
    RzComboBox1->addItem(fromUtf8(name));
  }
  // Listing offers names; it does not pick one.
  RzComboBox1->setCurrentIndex(-1);
}

void QtServerDialogView::showMessage(std::string_view title, std::string_view text) {
  QMessageBox box(QMessageBox::Information, fromUtf8(title), fromUtf8(text), QMessageBox::Ok, this);
  box.exec();
}

void QtServerDialogView::runModal() {
  exec();
}

void QtServerDialogView::close() {
  reject();
}

std::optional<DialogField> QtServerDialogView::fieldOf(const QWidget* widget) const {
  if (within(RzComboBox1, widget)) {
    return DialogField::RzComboBox1;
  }
  if (within(RzComboBox2, widget)) {
    return DialogField::RzComboBox2;
  }
  if (within(RzEdit1, widget)) {
    return DialogField::RzEdit1;
  }
  if (within(RzEdit2, widget)) {
    return DialogField::RzEdit2;
  }
  return std::nullopt;
}

void QtServerDialogView::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    events_.FormShow();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                      screen->availableGeometry()));
    }
  }
  QDialog::showEvent(event);
}

bool QtServerDialogView::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) {
    return false;
  }
  const auto* widget = static_cast<const QWidget*>(watched);
  // Keys of this window only; its popups and message boxes are windows of their own.
  if (widget != this && !isAncestorOf(widget)) {
    return false;
  }
  const std::optional<DialogKey> key = dialogKey(static_cast<const QKeyEvent*>(event)->key());
  if (!key) {
    return false;
  }
  return events_.FormKeyDown(fieldOf(widget), *key);
}

}  // namespace upgrade
