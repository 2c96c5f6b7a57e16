// The Qt view of the server connection dialog on the offscreen platform: its look,
// its layout and Tab order, and how Qt's keys, clicks and showing reach the dialog's
// events. What the dialog does with them is tested without Qt, in run/tests.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRawFont>
#include <QScreen>
#include <QTest>

#include "qt_server_dialog_view.h"
#include "server_dialog_look.h"

namespace upgrade::ui::qt {
namespace {

// Records what the view delivers; claims every key it is given.
class RecordingEvents final : public run::ServerDialogEvents {
 public:
  void FormShow() override { seen.push_back("show"); }
  bool FormKeyDown(std::optional<run::DialogField> focus, run::DialogKey key) override {
    keys.emplace_back(focus, key);
    return true;
  }
  void ButtonClick(run::DialogButton button) override {
    seen.push_back(button == run::DialogButton::RzBitBtn1 ? "connect" : "abandon");
  }

  std::vector<std::string> seen;
  std::vector<std::pair<std::optional<run::DialogField>, run::DialogKey>> keys;
};

QString fromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Makes the dialog the active window, so that focus and Tab work as on screen.
void activate(QWidget& window) {
  window.show();
  QApplication::setActiveWindow(&window);
  ASSERT_TRUE(window.isActiveWindow());
}

class QtServerDialogViewTest : public ::testing::Test {
 protected:
  RecordingEvents events_;
  QtServerDialogView d{events_};
};

// --- Look -------------------------------------------------------------------

TEST_F(QtServerDialogViewTest, LooksAsDesigned) {
  d.show();
  EXPECT_EQ(events_.seen, std::vector<std::string>{"show"});
  const run::DialogFormLook& form = run::kServerDialogForm;
  EXPECT_EQ(d.objectName(), fromUtf8(form.name));
  EXPECT_EQ(d.windowTitle(), fromUtf8(form.caption));
  EXPECT_EQ(d.size(), QSize(form.clientWidth, form.clientHeight));
  EXPECT_EQ(d.minimumSize(), d.maximumSize()) << "fixed size";
  const Qt::WindowFlags flags = d.windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowContextHelpButtonHint));
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_LE((d.geometry().center() - screen.center()).manhattanLength(), 2) << "centred";
  EXPECT_EQ(d.font().family(), fromUtf8(form.fontFace));
  EXPECT_EQ(d.font().pixelSize(), form.font.pixels);

  for (const run::DialogControlLook& look : run::kServerDialogControls) {
    SCOPED_TRACE(look.name);
    const auto* control = d.findChild<QWidget*>(fromUtf8(look.name));
    ASSERT_NE(control, nullptr);
    const run::DialogRect& place = look.place;
    EXPECT_EQ(control->geometry(), QRect(place.left, place.top, place.width, place.height));
    EXPECT_EQ(control->font().family(), fromUtf8(form.fontFace));
    EXPECT_EQ(control->font().pixelSize(), look.font.pixels);
    EXPECT_EQ(control->font().bold(), look.font.bold);
    if (look.kind == run::DialogControlKind::Label) {
      const auto* label = qobject_cast<const QLabel*>(control);
      ASSERT_NE(label, nullptr);
      ASSERT_TRUE(look.colour.has_value());
      EXPECT_EQ(label->text(), fromUtf8(look.caption));
      EXPECT_FALSE(label->autoFillBackground()) << "over the picture";
      EXPECT_EQ(label->palette().color(QPalette::WindowText),
                QColor(look.colour->red, look.colour->green, look.colour->blue));
    }
  }
  EXPECT_TRUE(d.RzComboBox1->isEditable());
  EXPECT_TRUE(d.RzComboBox2->isEditable());
  EXPECT_EQ(d.RzEdit1->echoMode(), QLineEdit::Normal) << "the password in clear text";
  EXPECT_EQ(d.RzEdit2->text(), fromUtf8(run::lookOf(run::DialogControl::RzEdit2).caption));
  EXPECT_EQ(d.RzBitBtn1->text(), fromUtf8(run::lookOf(run::DialogControl::RzBitBtn1).caption));
}

TEST_F(QtServerDialogViewTest, SongTiResolvesToAFontWithTheChineseTexts) {
  const QRawFont raw = QRawFont::fromFont(d.Label1->font());
  ASSERT_TRUE(raw.isValid());
  for (const QChar c : QStringLiteral("服务器连接参数配置数据库名称密码端口提示一般为空放弃")) {
    EXPECT_TRUE(raw.supportsCharacter(c))
        << "no glyph for " << QString(c).toStdString() << " in " << raw.familyName().toStdString();
  }
}

TEST_F(QtServerDialogViewTest, BackgroundIsAJpegStretchedOverTheWindow) {
  QImageReader reader(QStringLiteral(":/upgrade/server_dialog_background.jpg"));
  EXPECT_EQ(reader.format(), QByteArray("jpeg")) << "decoded by the JPEG plugin";
  const QImage picture = reader.read();
  ASSERT_FALSE(picture.isNull()) << reader.errorString().toStdString();

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

TEST_F(QtServerDialogViewTest, ButtonsHaveTheirFaceColourAndLightUpUnderTheMouse) {
  activate(d);
  const QPoint inside(8, 15);  // clear of the caption and of the border
  const run::DialogColour face = run::kDialogButtonColours.face;
  const QColor faceColour(face.red, face.green, face.blue);
  EXPECT_EQ(d.RzBitBtn1->grab().toImage().pixelColor(inside), faceColour);
  // The pointer comes from elsewhere in the window onto the button.
  QTest::mouseMove(&d, QPoint(5, 5));
  QTest::mouseMove(d.RzBitBtn1, inside);
  ASSERT_TRUE(d.RzBitBtn1->underMouse());
  EXPECT_NE(d.RzBitBtn1->grab().toImage().pixelColor(inside), faceColour);

  // Focus alone, reached with the keyboard as the operator would, keeps the face.
  QTest::mouseMove(&d, QPoint(5, 5));
  d.RzEdit2->setFocus(Qt::TabFocusReason);
  QTest::keyClick(d.RzEdit2, Qt::Key_Tab);
  ASSERT_TRUE(d.RzBitBtn1->hasFocus());
  const QImage focused = d.RzBitBtn1->grab().toImage();
  EXPECT_EQ(focused.pixelColor(inside), faceColour);
  const run::DialogColour edge = run::kDialogButtonColours.edgeFocus;
  EXPECT_EQ(focused.pixelColor(0, inside.y()), QColor(edge.red, edge.green, edge.blue))
      << "the focus shows in the frame";
}

// --- Layout, keys and clicks --------------------------------------------------

TEST_F(QtServerDialogViewTest, TabGoesServerPasswordPortConnectAbandonDatabase) {
  activate(d);
  const std::vector<QWidget*> order{d.RzComboBox1, d.RzEdit1,     d.RzEdit2,    d.RzBitBtn1,
                                    d.RzBitBtn2,   d.RzComboBox2, d.RzComboBox1};
  const auto focused = [this] {
    QWidget* focus = QApplication::focusWidget();
    for (QWidget* control : std::initializer_list<QWidget*>{d.RzComboBox1, d.RzComboBox2, d.RzEdit1,
                                                            d.RzEdit2, d.RzBitBtn1, d.RzBitBtn2}) {
      if (focus == control || control->isAncestorOf(focus)) {
        return control;
      }
    }
    return focus;
  };
  EXPECT_EQ(focused(), order.front());
  for (std::size_t i = 1; i < order.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(focused(), order[i]) << "step " << i;
  }
  EXPECT_TRUE(events_.keys.empty()) << "Tab is Qt's own";
}

TEST_F(QtServerDialogViewTest, KeysReachTheDialogWithTheFocusedField) {
  activate(d);
  using Key = std::pair<std::optional<run::DialogField>, run::DialogKey>;
  std::vector<Key> expected;
  const std::pair<QWidget*, std::optional<run::DialogField>> controls[] = {
      {d.RzComboBox1, run::DialogField::RzComboBox1},
      {d.RzComboBox2, run::DialogField::RzComboBox2},
      {d.RzEdit1, run::DialogField::RzEdit1},
      {d.RzEdit2, run::DialogField::RzEdit2},
      {d.RzBitBtn1, std::nullopt},
      {d.RzBitBtn2, std::nullopt}};
  for (const auto& [control, field] : controls) {
    control->setFocus();
    for (const auto& [qtKey, key] : {std::pair(Qt::Key_Return, run::DialogKey::Enter),
                                     std::pair(Qt::Key_Enter, run::DialogKey::Enter),
                                     std::pair(Qt::Key_F2, run::DialogKey::F2),
                                     std::pair(Qt::Key_Escape, run::DialogKey::Escape)}) {
      QTest::keyClick(QApplication::focusWidget(), qtKey);
      expected.emplace_back(field, key);
    }
  }
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_A);
  EXPECT_EQ(events_.keys, expected) << "and no other keys";
  EXPECT_EQ(d.RzComboBox1->count(), 0) << "Enter adds nothing to the list";
  EXPECT_TRUE(d.isVisible()) << "what a key does is the dialog's to say";
}

TEST_F(QtServerDialogViewTest, ClicksAndFieldsGoThroughTheView) {
  activate(d);
  QTest::mouseClick(d.RzBitBtn1, Qt::LeftButton);
  QTest::mouseClick(d.RzBitBtn2, Qt::LeftButton);
  EXPECT_EQ(events_.seen, (std::vector<std::string>{"show", "connect", "abandon"}));

  d.setServerList({"SPA-DB", "SPA-DB\\SQLEXPRESS"});
  ASSERT_EQ(d.RzComboBox1->count(), 2);
  EXPECT_EQ(d.RzComboBox1->itemText(1), QStringLiteral("SPA-DB\\SQLEXPRESS"));
  EXPECT_EQ(d.text(run::DialogField::RzComboBox1), "") << "a name is offered, not picked";
  for (const run::DialogField field : {run::DialogField::RzComboBox1, run::DialogField::RzComboBox2,
                                       run::DialogField::RzEdit1, run::DialogField::RzEdit2}) {
    d.setText(field, " 测试库 ");
    EXPECT_EQ(d.text(field), " 测试库 ");
    d.setFocus(field);
    EXPECT_EQ(d.fieldOf(QApplication::focusWidget()), field);
  }
  d.close();
  EXPECT_FALSE(d.isVisible());
}

TEST_F(QtServerDialogViewTest, MessageBoxIsOwnedByTheDialog) {
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
  d.showMessage("系统提示", "服务器连接出错，请重新启动软件重试！");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].title, QStringLiteral("系统提示"));
  EXPECT_EQ(seen[0].text, QStringLiteral("服务器连接出错，请重新启动软件重试！"));
  EXPECT_EQ(seen[0].icon, QMessageBox::Information);
  EXPECT_EQ(seen[0].parent, &d);
}

}  // namespace
}  // namespace upgrade::ui::qt
