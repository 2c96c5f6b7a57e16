#include "qt_run_control.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QMetaObject>
#include <QString>

namespace upgrade::ui::qt {
namespace {

QString toQString(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// Queued, so the loop that picks it up is the one running once the current handler
// has returned.
void postQuit() {
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

}  // namespace

QtRunControl::~QtRunControl() {
  if (busy_ && QApplication::instance() != nullptr) {
    QApplication::restoreOverrideCursor();
  }
}

void QtRunControl::showBusyPointer() noexcept {
  if (!busy_) {
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    busy_ = true;
  }
}

void QtRunControl::restorePointer() noexcept {
  if (busy_) {
    QApplication::restoreOverrideCursor();
    busy_ = false;
  }
}

void QtRunControl::showMessage(std::string_view title, std::string_view text) noexcept {
  QMessageBox box(QMessageBox::Information, toQString(title), toQString(text), QMessageBox::Ok);
  box.exec();
}

void QtRunControl::endRun() noexcept {
  endRequested_ = true;
  if (inMessageLoop_) {
    postQuit();
  }
}

int QtRunControl::runMessageLoop() noexcept {
  inMessageLoop_ = true;
  postQuit();
  const int status = QApplication::exec();
  inMessageLoop_ = false;
  return status;
}

}  // namespace upgrade::ui::qt
