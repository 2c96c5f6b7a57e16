#include "Unit1.h"

#include <QCoreApplication>
#include <QFile>
#include <utility>

TForm1* Form1 = nullptr;

TForm1::TForm1(upgrade::Database& database, std::filesystem::path settingsPath,
               upgrade::StartupUi& ui, Creation creation, QWidget* parent)
    : QWidget(parent), upgrade::UpgradeRun(database, std::move(settingsPath), ui) {
  setWindowTitle(QStringLiteral("升级程序"));
  ADOCon.close();
  Form1 = this;
  if (creation == Creation::RunStartUp) {
    FormCreate();
  }
}

TForm1::~TForm1() {
  if (Form1 == this) {
    Form1 = nullptr;
  }
}

void TForm1::FormCreate() {
  runStartup();
}

std::filesystem::path programSettingsPath() {
  const QByteArray directory = QFile::encodeName(QCoreApplication::applicationDirPath());
  return upgrade::settingsPathIn(std::filesystem::path(directory.toStdString()));
}
