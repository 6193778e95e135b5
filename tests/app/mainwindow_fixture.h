#pragma once
// Every test of the main window starts the program's windows afresh, with
// its settings folder in a temporary place holding an empty kestrel.ini.
#include <QDir>
#include <QFile>
#include <QMenu>
#include <cstdlib>
#include <gtest/gtest.h>

#include "app/mainwindow.h"
#include "support/programwindows.h"
#include "support/modal.h"
#include "support/tempdir.h"

class MainWindowTest : public ::testing::Test {
 protected:
  QString iniPath;
  std::unique_ptr<testsupport::ProgramWindows> program;

  void SetUp() override {
    program = std::make_unique<testsupport::ProgramWindows>(testsupport::ProgramWindows::Preferences::Pending);
    QDir().mkpath(QString::fromStdString(program->settingsDir().string()));
    iniPath = QString::fromStdString((program->settingsDir() / "kestrel.ini").string());
    QFile(iniPath).open(QIODevice::WriteOnly);
  }
  void TearDown() override { program.reset(); }

  QByteArray ini() const {
    QFile f(iniPath);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
  }

  // A command (not a submenu's own item) by designer name.
  static QAction* item(const char* name) {
    for (QAction* a : mainWindow()->findChildren<QAction*>(QLatin1String(name)))
      if (!a->menu()) return a;
    return nullptr;
  }
  static QMenu* menu(const char* name) { return mainWindow()->findChild<QMenu*>(QLatin1String(name)); }
  static QStringList names(const QList<QAction*>& actions) {
    QStringList out;
    for (QAction* a : actions) out << a->objectName();
    return out;
  }
};
