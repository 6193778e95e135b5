#pragma once
// Every test of the main window starts the program's windows afresh, with
// its settings folder in a temporary place holding an empty kestrel.ini.
#include <QDir>
#include <QFile>
#include <QMenu>
#include <cstdlib>
#include <gtest/gtest.h>

#include "app/forms.h"
#include "app/main.h"
#include "support/modal.h"
#include "support/tempdir.h"

class MainWindowTest : public ::testing::Test {
 protected:
  testsupport::TempDir config;
  QString iniPath;

  void SetUp() override {
    setenv("XDG_CONFIG_HOME", config.path().toStdString().c_str(), 1);
    QDir().mkpath(config.path() + QStringLiteral("/kestrel"));
    iniPath = config.path() + QStringLiteral("/kestrel/kestrel.ini");
    QFile(iniPath).open(QIODevice::WriteOnly);
    CreateForms();
  }
  void TearDown() override { DestroyForms(); }

  QByteArray ini() const {
    QFile f(iniPath);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
  }

  // A command (not a submenu's own item) by designer name.
  static QAction* item(const char* name) {
    for (QAction* a : Form1->findChildren<QAction*>(QLatin1String(name)))
      if (!a->menu()) return a;
    return nullptr;
  }
  static QMenu* menu(const char* name) { return Form1->findChild<QMenu*>(QLatin1String(name)); }
  static QStringList names(const QList<QAction*>& actions) {
    QStringList out;
    for (QAction* a : actions) out << a->objectName();
    return out;
  }
};
