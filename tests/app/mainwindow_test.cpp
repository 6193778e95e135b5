// The windows, menus, toolbar and components as the program creates them.
#include <QApplication>
#include <QMenuBar>
#include <QPushButton>
#include <QToolBar>

#include "app/frameratedialog.h"
#include "app/keeppreviewdialog.h"
#include "app/optionsdialog.h"
#include "components/settingsstore.h"
#include <QVariant>
#include "components/trayicon.h"
#include "framework/image.h"
#include "framework/statusbar.h"
#include "framework/timer.h"
#include "builder/builderpanel.h"
#include "mainwindow_fixture.h"
#include "target/captureframe.h"
#include "target/picturewindow.h"
#include "target/remotecontrol.h"
#include "target/capturemodedialog.h"

namespace {
// Records every top-level widget as it is created, in order.
struct CreationOrder : QObject {
  QList<QWidget*> created;
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::Create && o->isWidgetType()) {
      auto* w = static_cast<QWidget*>(o);
      if (!w->parentWidget()) created << w;
    }
    return false;
  }
};
}  // namespace

TEST(Startup, EightWindowsCreatedHiddenInOrderWithTheirCaptions) {
  CreationOrder order;
  qApp->installEventFilter(&order);
  testsupport::ProgramWindows program(testsupport::ProgramWindows::Preferences::Pending);
  qApp->removeEventFilter(&order);
  const QList<QWidget*> forms{remoteControl(), mainWindow(), captureModeDialog(), pictureWindow(), captureFrame(), keepPreviewDialog(), frameRateDialog(), optionsDialog()};
  const QStringList captions{"Remote Control", "Kestrel 2.5", "Type recording ?", "Picture",
                             "Click on X",     "Keep Preview ?", "Frame Rate",     "Options"};
  int last = -1;
  for (int i = 0; i < forms.size(); ++i) {
    ASSERT_NE(forms[i], nullptr) << i;
    EXPECT_EQ(forms[i]->windowTitle(), captions[i]);
    EXPECT_FALSE(forms[i]->isVisible()) << captions[i].toStdString();
    const int at = int(order.created.indexOf(forms[i]));
    EXPECT_GT(at, last) << captions[i].toStdString() << " created out of order";
    last = at;
  }
  EXPECT_EQ(mainWindow()->objectName(), QStringLiteral("Form1"));
  EXPECT_EQ(session().frameIndex(), -1);
  EXPECT_EQ(mainWindow()->captureType(), app::MainWindow::CaptureType::Avi);
  EXPECT_EQ(session().state(), recording::RecordState::Idle);
  EXPECT_EQ(session().grabCount(), 0u);
  EXPECT_FALSE(session().previewing());
  EXPECT_EQ(!mainWindow()->remoteShown(), false);
  EXPECT_EQ(!mainWindow()->remoteFollowsCapture(), false);
  program.close();
  EXPECT_EQ(mainWindow(), nullptr);
}

TEST_F(MainWindowTest, MenuBarShowsOnlyTheThreeVisibleMenus) {
  QMenuBar* bar = mainWindow()->menuBar();
  EXPECT_EQ(bar->objectName(), QStringLiteral("MainMenu1"));
  EXPECT_EQ(names(bar->actions()), (QStringList{"File1", "Options1", "AviMaker1", "Capture1", "About1"}));
  QStringList shown;
  for (QAction* a : bar->actions())
    if (a->isVisible()) shown << a->text();
  EXPECT_EQ(shown, (QStringList{"&Kestrel", "Options", "Help"}));
  // Hidden menus stay hidden once the window shows and the program runs.
  mainWindow()->show();
  testsupport::pumpFor(250);
  EXPECT_FALSE(menu("AviMaker1")->menuAction()->isVisible());
  EXPECT_FALSE(menu("Capture1")->menuAction()->isVisible());
  EXPECT_FALSE(menu("Options")->menuAction()->isVisible());
  EXPECT_FALSE(bar->actionGeometry(menu("AviMaker1")->menuAction()).isValid() &&
               !bar->actionGeometry(menu("AviMaker1")->menuAction()).isEmpty());
}

TEST_F(MainWindowTest, EveryMenuHoldsItsItemsInOrder) {
  const struct {
    const char* menu;
    const char* caption;
    QStringList items;
  } menus[] = {
      {"File1", "&Kestrel", {"NameFile1", "CloseFile1", "Options", "N2", "OpenFile1", "N4", "Help5", "OnlineHelp1", "N1", "Exit1"}},
      {"Options", "Avi Capture Options",
       {"Image2", "Type1", "RecordType1", "RemoteControl1", "Preview1", "FrameRate1", "N6", "Help4", "OnlineHelp4"}},
      {"Image2", "&Avi Window", {"Strech1", "NonStretch1"}},
      {"Type1", "&Capture Type", {"Single1", "Avi1"}},
      {"RecordType1", "&Record Type", {"RealTime1", "NonRealTime1"}},
      {"RemoteControl1", "R&emote Control", {"On1", "Off1", "N5", "Moveable1"}},
      {"Preview1", "&Preview After Recording", {"Keep1", "Ask1"}},
      {"Options1", "Options", {"Setup1"}},
      {"AviMaker1", "Avi Builder", {"Open1", "Close1", "N3", "Help6", "OnlineHelp2"}},
      {"Capture1", "Eazy Capture", {"On2", "Off2", "N8", "Help7"}},
      {"About1", "Help", {"LatestVersion1", "N7", "OnlineHelp3"}},
  };
  for (const auto& m : menus) {
    QMenu* q = menu(m.menu);
    ASSERT_NE(q, nullptr) << m.menu;
    EXPECT_EQ(q->title(), QLatin1String(m.caption)) << m.menu;
    EXPECT_EQ(names(q->actions()), m.items) << m.menu;
  }
  for (const char* sep : {"N1", "N2", "N3", "N4", "N5", "N6", "N7", "N8"}) {
    ASSERT_NE(item(sep), nullptr) << sep;
    EXPECT_TRUE(item(sep)->isSeparator()) << sep;
  }
}

TEST_F(MainWindowTest, ItemsHaveTheirCaptionsChecksVisibilityAndEnabledState) {
  struct Row {
    const char* name;
    const char* caption;
    bool checked, visible, enabled;
  };
  const Row rows[] = {
      {"NameFile1", "Record New File", false, true, true}, {"CloseFile1", "&Close File", false, true, true},
      {"OpenFile1", "&Play Avi", false, true, true},       {"Help5", "&Help", false, true, true},
      {"OnlineHelp1", "Online Help", false, true, true},   {"Exit1", "E&xit", false, true, true},
      {"Strech1", "Stretch", false, true, true},           {"NonStretch1", "Non-Stretch", true, true, true},
      {"Single1", "Single Image", false, true, false},     {"Avi1", "Avi", true, true, true},
      {"RealTime1", "Real Time", true, true, true},        {"NonRealTime1", "Non-Real Time", false, true, false},
      {"On1", "On", true, true, true},                     {"Off1", "Off", false, true, true},
      {"Moveable1", "Moveable", false, true, true},        {"Keep1", "Keep", false, true, true},
      {"Ask1", "Ask", false, true, true},                  {"FrameRate1", "&Frame Rate", false, true, true},
      {"Help4", "&Help", false, true, true},               {"OnlineHelp4", "&Online Help", false, true, true},
      {"Setup1", "&Setup", false, true, true},             {"Open1", "&Start", false, true, true},
      {"Close1", "&Close", false, true, true},             {"Help6", "&Help", false, true, true},
      {"OnlineHelp2", "&Online Help", false, true, true},  {"On2", "&On", false, true, true},
      {"Off2", "O&ff", true, true, true},                  {"Help7", "&Help", false, true, true},
      {"LatestVersion1", "Latest Version", false, true, true}, {"OnlineHelp3", "Online Help", false, true, true},
  };
  for (const Row& r : rows) {
    QAction* a = item(r.name);
    ASSERT_NE(a, nullptr) << r.name;
    EXPECT_EQ(a->text(), QLatin1String(r.caption)) << r.name;
    EXPECT_EQ(a->isChecked(), r.checked) << r.name;
    EXPECT_EQ(a->isVisible(), r.visible) << r.name;
    EXPECT_EQ(a->isEnabled(), r.enabled) << r.name;
  }
  // Submenus: hidden and disabled where the designer left them so.
  EXPECT_FALSE(menu("Options")->menuAction()->isVisible());
  EXPECT_FALSE(menu("Type1")->menuAction()->isVisible());
  EXPECT_FALSE(menu("Type1")->menuAction()->isEnabled());
  EXPECT_FALSE(menu("RecordType1")->menuAction()->isVisible());
  EXPECT_FALSE(menu("RecordType1")->menuAction()->isEnabled());
  EXPECT_TRUE(menu("Image2")->menuAction()->isVisible());
  EXPECT_TRUE(menu("RemoteControl1")->menuAction()->isVisible());
}

TEST_F(MainWindowTest, ToolbarButtonsInOrderWithCaptionsAndStartState) {
  QToolBar* bar = mainWindow()->findChild<QToolBar*>(QStringLiteral("ToolBar1"));
  ASSERT_NE(bar, nullptr);
  QStringList order, captions, enabled;
  for (QAction* a : bar->actions())
    if (auto* b = qobject_cast<QPushButton*>(bar->widgetForAction(a))) {
      order << b->objectName();
      captions << b->text();
      enabled << (b->isEnabled() ? "on" : "off");
    }
  EXPECT_EQ(order, (QStringList{"Button11", "Button4", "Button5", "Button6", "Button7", "Button9", "Button10"}));
  EXPECT_EQ(captions, (QStringList{"Record", "Start", "Pause", "Stop", "Cancel", "Hide", "Exit"}));
  EXPECT_EQ(enabled, (QStringList{"on", "off", "off", "off", "off", "on", "on"}));
}

TEST_F(MainWindowTest, ComponentsAtCreation) {
  EXPECT_FALSE(mainWindow()->preview()->Stretch());
  EXPECT_TRUE(mainWindow()->preview()->picture().empty());
  EXPECT_TRUE(mainWindow()->statusLine()->SimpleText().isEmpty());
  EXPECT_FALSE(mainWindow()->builderPanel()->isVisibleTo(mainWindow()));

  const struct {
    framework::Timer* t;
    int interval;
    bool enabled;
  } timers[] = {{captureFrame()->followTimer(), 3000, false},
                {testsupport::control<framework::Timer>(mainWindow(), "Timer2"), 100, true}};
  for (const auto& t : timers) {
    EXPECT_EQ(t.t->Interval(), t.interval) << t.t->objectName().toStdString();
    EXPECT_EQ(t.t->Enabled(), t.enabled) << t.t->objectName().toStdString();
  }

  EXPECT_EQ(session().previewInterval(), 300);
  EXPECT_FALSE(session().previewing());

  EXPECT_EQ(mainWindow()->builderPanel()->addFileDialog().DefaultExt, QStringLiteral(".bmp"));
  EXPECT_EQ(mainWindow()->builderPanel()->addFileDialog().Filter, QStringLiteral("Bitmap|*.bmp"));
  EXPECT_EQ(mainWindow()->recordingFileDialog().DefaultExt, QStringLiteral(".avi"));
  EXPECT_EQ(mainWindow()->recordingFileDialog().FileName, QStringLiteral("make.avi"));
  EXPECT_EQ(mainWindow()->recordingFileDialog().Filter, QStringLiteral("Video For Windows|*.avi"));
  EXPECT_EQ(mainWindow()->playFileDialog().DefaultExt, QStringLiteral(".avi"));
  EXPECT_EQ(mainWindow()->playFileDialog().Filter, QStringLiteral("Video For Windows|*.avi"));
  EXPECT_EQ(mainWindow()->snapshotFileDialog().DefaultExt, QStringLiteral(".bmp"));
  EXPECT_EQ(mainWindow()->snapshotFileDialog().FileName, QStringLiteral("capture.bmp"));
  EXPECT_EQ(mainWindow()->snapshotFileDialog().Filter, QStringLiteral("Bitmap|*.bmp"));

  for (components::TrayIcon* t : {mainWindow()->trayIcon(), mainWindow()->snapshotTrayIcon()}) {
    EXPECT_FALSE(t->Active());
    EXPECT_FALSE(t->Animate());
    EXPECT_TRUE(t->ToolTip().isEmpty());
    EXPECT_EQ(t->PopupMenu(), nullptr);
    EXPECT_EQ(t->Images(), nullptr);
    EXPECT_FALSE(t->Icon().isNull());
  }
  EXPECT_EQ(mainWindow()->trayIcon()->objectName(), QStringLiteral("TrayIcon1"));
  EXPECT_EQ(mainWindow()->snapshotTrayIcon()->objectName(), QStringLiteral("TrayIcon2"));

  // Through the component's published properties, as a form designer sets them.
  const QObject* store = mainWindow()->settingsStore();
  EXPECT_EQ(store->property("SaveToINI"), QVariant(true));
  EXPECT_EQ(store->property("INIFile"), QVariant(QStringLiteral("kestrel.ini")));
  EXPECT_EQ(store->property("CanCreate"), QVariant(false));
}
