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
#include <type_traits>

namespace upgrade::ui::qt {
namespace {

const QString kBackgroundPicture = QStringLiteral(":/upgrade/server_dialog_background.jpg");

QString fromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The form's face, "宋体", is SimSun's Chinese name, which Windows knows. Where it is
// missing, an installed CJK font takes its place rather than a font without
// Chinese glyphs.
void substituteSongTi() {
  static const bool substituted = [] {
    QFont::insertSubstitutions(
        fromUtf8(run::kServerDialogForm.fontFace),
        {QStringLiteral("SimSun"), QStringLiteral("NSimSun"), QStringLiteral("Noto Serif CJK SC"),
         QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei"),
         QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("AR PL UMing CN")});
    return true;
  }();
  (void)substituted;
}

// The form's face. The GB2312 character set it was designed with has no
// counterpart in Qt; the substitutes above all cover GB2312.
QFont songTi(run::DialogFont look) {
  QFont font(fromUtf8(run::kServerDialogForm.fontFace));
  font.setPixelSize(look.pixels);
  font.setBold(look.bold);
  return font;
}

QRect rectOf(const run::DialogRect& place) {
  return {place.left, place.top, place.width, place.height};
}

QString css(run::DialogColour colour) {
  return QStringLiteral("rgb(%1, %2, %3)").arg(colour.red).arg(colour.green).arg(colour.blue);
}

// The buttons' face colour, lighter under the mouse. Focus shows only in the
// frame's colour: the style's own focus rectangle would tint the whole face.
QString buttonStyle(run::DialogColour text) {
  const run::DialogButtonColours& c = run::kDialogButtonColours;
  return QStringLiteral(
             "QPushButton { background-color: %1; color: %2; border: 1px solid %3;"
             " border-radius: 3px; outline: none; }"
             "QPushButton:hover { background-color: %4; border-color: %5; }"
             "QPushButton:focus { border-color: %6; }"
             "QPushButton:pressed { background-color: %7; }")
      .arg(css(c.face), css(text), css(c.edge), css(c.faceHot), css(c.edgeHot), css(c.edgeFocus),
           css(c.facePressed));
}

bool within(const QWidget* control, const QWidget* widget) {
  return widget == control || control->isAncestorOf(widget);
}

// The keys the dialog acts on; nullopt for every other key.
std::optional<run::DialogKey> dialogKey(int key) {
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:  // the keypad's
      return run::DialogKey::Enter;
    case Qt::Key_F2:
      return run::DialogKey::F2;
    case Qt::Key_Escape:
      return run::DialogKey::Escape;
    default:
      return std::nullopt;
  }
}

}  // namespace

QtServerDialogView::QtServerDialogView(run::ServerDialogEvents& events, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      events_(events) {
  substituteSongTi();
  const run::DialogFormLook& form = run::kServerDialogForm;
  setObjectName(fromUtf8(form.name));
  setWindowTitle(fromUtf8(form.caption));
  setFixedSize(form.clientWidth, form.clientHeight);
  setFont(songTi(form.font));

  // Each control lies over the ones made before it: the labels beneath the fields.
  Image27 = make<QLabel>(run::DialogControl::Image27);
  Image27->setScaledContents(true);
  const QPixmap picture(kBackgroundPicture);
  if (picture.isNull()) {
    qWarning("Update: the background picture of the server dialog could not be decoded");
  }
  Image27->setPixmap(picture);
  Label1 = make<QLabel>(run::DialogControl::Label1);
  Label4 = make<QLabel>(run::DialogControl::Label4);
  Label2 = make<QLabel>(run::DialogControl::Label2);
  Label3 = make<QLabel>(run::DialogControl::Label3);
  RzLabel1 = make<QLabel>(run::DialogControl::RzLabel1);
  RzComboBox1 = make<QComboBox>(run::DialogControl::RzComboBox1);
  RzComboBox2 = make<QComboBox>(run::DialogControl::RzComboBox2);
  RzEdit1 = make<QLineEdit>(run::DialogControl::RzEdit1);
  RzEdit2 = make<QLineEdit>(run::DialogControl::RzEdit2);
  RzBitBtn1 = make<QPushButton>(run::DialogControl::RzBitBtn1);
  RzBitBtn2 = make<QPushButton>(run::DialogControl::RzBitBtn2);
  connect(RzBitBtn1, &QPushButton::clicked, this,
          [this] { events_.ButtonClick(run::DialogButton::RzBitBtn1); });
  connect(RzBitBtn2, &QPushButton::clicked, this,
          [this] { events_.ButtonClick(run::DialogButton::RzBitBtn2); });

  QWidget* previous = nullptr;
  for (const run::DialogControl control : run::dialogTabOrder()) {
    auto* next = findChild<QWidget*>(fromUtf8(run::lookOf(control).name));
    if (previous != nullptr) {
      setTabOrder(previous, next);
    }
    previous = next;
  }

  // The form sees every key before its controls do.
  QCoreApplication::instance()->installEventFilter(this);
}

template <typename Control>
Control* QtServerDialogView::make(run::DialogControl which) {
  const run::DialogControlLook& look = run::lookOf(which);
  auto* control = new Control(this);
  control->setObjectName(fromUtf8(look.name));
  control->setGeometry(rectOf(look.place));
  control->setFont(songTi(look.font));
  const QString caption = fromUtf8(look.caption);
  if constexpr (std::is_same_v<Control, QLabel>) {
    control->setText(caption);
    control->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // A label draws no background of its own: the picture shows through.
    control->setAutoFillBackground(false);
    if (look.colour) {
      QPalette palette = control->palette();
      palette.setColor(QPalette::WindowText,
                       QColor(look.colour->red, look.colour->green, look.colour->blue));
      control->setPalette(palette);
    }
  } else if constexpr (std::is_same_v<Control, QComboBox>) {
    control->setEditable(true);
    control->setEditText(caption);
    // Enter moves on; it does not add the typed text to the list.
    control->setInsertPolicy(QComboBox::NoInsert);
  } else if constexpr (std::is_same_v<Control, QLineEdit>) {
    control->setText(caption);
  } else {
    control->setText(caption);
    control->setStyleSheet(buttonStyle(look.colour.value_or(run::kDialogBlack)));
  }
  return control;
}

QtServerDialogView::~QtServerDialogView() {
  if (QCoreApplication* app = QCoreApplication::instance()) {
    app->removeEventFilter(this);
  }
}

void QtServerDialogView::setText(run::DialogField field, std::string_view text) {
  switch (field) {
    case run::DialogField::RzComboBox1:
      RzComboBox1->setEditText(fromUtf8(text));
      break;
    case run::DialogField::RzComboBox2:
      RzComboBox2->setEditText(fromUtf8(text));
      break;
    case run::DialogField::RzEdit1:
      RzEdit1->setText(fromUtf8(text));
      break;
    case run::DialogField::RzEdit2:
      RzEdit2->setText(fromUtf8(text));
      break;
  }
}

std::string QtServerDialogView::text(run::DialogField field) const {
  switch (field) {
    case run::DialogField::RzComboBox1:
      return RzComboBox1->currentText().toStdString();
    case run::DialogField::RzComboBox2:
      return RzComboBox2->currentText().toStdString();
    case run::DialogField::RzEdit1:
      return RzEdit1->text().toStdString();
    case run::DialogField::RzEdit2:
      return RzEdit2->text().toStdString();
  }
  return {};
}

void QtServerDialogView::setFocus(run::DialogField field) {
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

std::optional<run::DialogField> QtServerDialogView::fieldOf(const QWidget* widget) const {
  if (within(RzComboBox1, widget)) {
    return run::DialogField::RzComboBox1;
  }
  if (within(RzComboBox2, widget)) {
    return run::DialogField::RzComboBox2;
  }
  if (within(RzEdit1, widget)) {
    return run::DialogField::RzEdit1;
  }
  if (within(RzEdit2, widget)) {
    return run::DialogField::RzEdit2;
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
  const std::optional<run::DialogKey> key = dialogKey(static_cast<const QKeyEvent*>(event)->key());
  if (!key) {
    return false;
  }
  return events_.FormKeyDown(fieldOf(widget), *key);
}

}  // namespace upgrade::ui::qt
