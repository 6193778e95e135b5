#include "app/mainwindow.h"

#include <algorithm>
#include <functional>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedLayout>
#include <QToolBar>
#include <QVBoxLayout>

#include "app/frameratedialog.h"
#include "app/keeppreviewdialog.h"
#include "app/optionsdialog.h"
#include "builder/builderpanel.h"
#include "components/launch.h"
#include "components/settingsstore.h"
#include "components/trayicon.h"
#include "framework/dialogs.h"
#include "framework/image.h"
#include "framework/statusbar.h"
#include "framework/timer.h"
#include "framework/widgets.h"
#include "platform/window/grabsource.h"
#include "target/capturemodedialog.h"
#include "target/captureframe.h"
#include "target/remotecontrol.h"

namespace app {

namespace {

// Menu items keep the framework's rule: a click runs the handler and the
// handler alone decides the check mark (Qt would flip it first).
QAction* addItem(MainWindow* form, QMenu* menu, const char* name, const char* caption, std::function<void()> handler,
                 bool checked = false, bool checkable = false) {
  auto* a = menu->addAction(QString::fromLatin1(caption));
  a->setObjectName(QString::fromLatin1(name));
  a->setCheckable(checkable || checked);
  a->setChecked(checked);
  QObject::connect(a, &QAction::triggered, form, [form, a, handler](bool state) {
    if (a->isCheckable()) a->setChecked(!state);
    if (handler) handler();
  });
  return a;
}

QAction* addSeparator(QMenu* menu, const char* name) {
  QAction* s = menu->addSeparator();
  s->setObjectName(QString::fromLatin1(name));
  return s;
}

QMenu* addMenu(QWidget* parent, const char* name, const char* caption) {
  auto* m = new QMenu(QString::fromLatin1(caption), parent);
  m->setObjectName(QString::fromLatin1(name));
  m->menuAction()->setObjectName(QString::fromLatin1(name));
  return m;
}

}  // namespace

MainWindow::MainWindow(recording::Recorder& recorder, QWidget* parent)
    : QMainWindow(parent),
      SaveDialog1(framework::FileDialog::Kind::Save, QStringLiteral("SaveDialog1")),
      OpenDialog2(framework::FileDialog::Kind::Open, QStringLiteral("OpenDialog2")),
      SaveDialog2(framework::FileDialog::Kind::Save, QStringLiteral("SaveDialog2")),
      recorder_(recorder) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Kestrel 2.5"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/kestrel.png")));
  resize(520, 400);
  createMenus();
  createToolBar();
  createClientArea();
  createComponents();
  connectRecorder();
  // Wide enough for the whole toolbar: a narrower window would fold "Exit"
  // into an overflow arrow.
  resize(std::max(width(), ToolBar1->sizeHint().width() + 8), height());
}

MainWindow::~MainWindow() = default;

void MainWindow::createMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));

  File1 = addMenu(this, "File1", "&Kestrel");
  NameFile1 = addItem(this, File1, "NameFile1", "Record New File", [this] { NameFile1Click(); });
  CloseFile1 = addItem(this, File1, "CloseFile1", "&Close File", [this] { Button6Click(); });
  Options = addMenu(File1, "Options", "Avi Capture Options");
  File1->addMenu(Options);
  Options->menuAction()->setVisible(false);
  N2 = addSeparator(File1, "N2");
  OpenFile1 = addItem(this, File1, "OpenFile1", "&Play Avi", [this] { OpenFile1Click(); });
  N4 = addSeparator(File1, "N4");
  Help5 = addItem(this, File1, "Help5", "&Help", [this] { Help5Click(); });
  OnlineHelp1 = addItem(this, File1, "OnlineHelp1", "Online Help", [this] { showHelpPage("recording.html"); });
  N1 = addSeparator(File1, "N1");
  Exit1 = addItem(this, File1, "Exit1", "E&xit", [this] { Exit1Click(); });

  Image2 = addMenu(Options, "Image2", "&Avi Window");
  Options->addMenu(Image2);
  Strech1 = addItem(this, Image2, "Strech1", "Stretch", [this] { Strech1Click(); }, false, true);
  NonStretch1 = addItem(this, Image2, "NonStretch1", "Non-Stretch", [this] { NonStretch1Click(); }, true);
  Type1 = addMenu(Options, "Type1", "&Capture Type");
  Options->addMenu(Type1);
  Type1->menuAction()->setVisible(false);
  Type1->menuAction()->setEnabled(false);
  Single1 = addItem(this, Type1, "Single1", "Single Image", [this] { Single1Click(); }, false, true);
  Single1->setEnabled(false);
  Avi1 = addItem(this, Type1, "Avi1", "Avi", [this] { Avi1Click(); }, true);
  RecordType1 = addMenu(Options, "RecordType1", "&Record Type");
  Options->addMenu(RecordType1);
  RecordType1->menuAction()->setVisible(false);
  RecordType1->menuAction()->setEnabled(false);
  RealTime1 = addItem(this, RecordType1, "RealTime1", "Real Time", nullptr, true);
  NonRealTime1 = addItem(this, RecordType1, "NonRealTime1", "Non-Real Time", nullptr, false, true);
  NonRealTime1->setEnabled(false);
  RemoteControl1 = addMenu(Options, "RemoteControl1", "R&emote Control");
  Options->addMenu(RemoteControl1);
  On1 = addItem(this, RemoteControl1, "On1", "On", [this] { On1Click(); }, true);
  Off1 = addItem(this, RemoteControl1, "Off1", "Off", [this] { Off1Click(); }, false, true);
  N5 = addSeparator(RemoteControl1, "N5");
  Moveable1 = addItem(this, RemoteControl1, "Moveable1", "Moveable", [this] { Moveable1Click(); }, false, true);
  Preview1 = addMenu(Options, "Preview1", "&Preview After Recording");
  Options->addMenu(Preview1);
  Keep1 = addItem(this, Preview1, "Keep1", "Keep", [this] { Keep1Click(); }, false, true);
  Ask1 = addItem(this, Preview1, "Ask1", "Ask", [this] { Ask1Click(); }, false, true);
  FrameRate1 = addItem(this, Options, "FrameRate1", "&Frame Rate", [this] { FrameRate1Click(); });
  N6 = addSeparator(Options, "N6");
  Help4 = addItem(this, Options, "Help4", "&Help", [this] { Help4Click(); });
  OnlineHelp4 = addItem(this, Options, "OnlineHelp4", "&Online Help", [this] { showHelpPage("options.html"); });

  Options1 = addMenu(this, "Options1", "Options");
  Setup1 = addItem(this, Options1, "Setup1", "&Setup", [this] { Setup1Click(); });

  AviMaker1 = addMenu(this, "AviMaker1", "Avi Builder");
  Open1 = addItem(this, AviMaker1, "Open1", "&Start", [this] { Open1Click(); });
  Close1 = addItem(this, AviMaker1, "Close1", "&Close", [this] { Close1Click(); });
  N3 = addSeparator(AviMaker1, "N3");
  Help6 = addItem(this, AviMaker1, "Help6", "&Help", [this] { Help6Click(); });
  OnlineHelp2 = addItem(this, AviMaker1, "OnlineHelp2", "&Online Help", [this] { showHelpPage("builder.html"); });

  Capture1 = addMenu(this, "Capture1", "Eazy Capture");
  On2 = addItem(this, Capture1, "On2", "&On", [this] { On2Click(); }, false, true);
  Off2 = addItem(this, Capture1, "Off2", "O&ff", [this] { Off2Click(); }, true);
  N8 = addSeparator(Capture1, "N8");
  Help7 = addItem(this, Capture1, "Help7", "&Help", [this] { Help7Click(); });

  About1 = addMenu(this, "About1", "Help");
  LatestVersion1 = addItem(this, About1, "LatestVersion1", "Latest Version", [this] { showHelpPage("version.html"); });
  N7 = addSeparator(About1, "N7");
  OnlineHelp3 = addItem(this, About1, "OnlineHelp3", "Online Help", [this] { showHelpPage("index.html"); });

  for (QMenu* m : {File1, Options1, AviMaker1, Capture1, About1}) bar->addMenu(m);
  AviMaker1->menuAction()->setVisible(false);
  Capture1->menuAction()->setVisible(false);
}

void MainWindow::createToolBar() {
  ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
  ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  ToolBar1->setMovable(false);
  auto make = [this](const char* name, const char* caption, bool enabled, void (MainWindow::*h)()) {
    return framework::addToolButton(ToolBar1, name, caption, enabled, [this, h] { (this->*h)(); });
  };
  Button11 = make("Button11", "Record", true, &MainWindow::NameFile1Click);
  Button4 = make("Button4", "Start", false, &MainWindow::Button4Click);
  Button5 = make("Button5", "Pause", false, &MainWindow::Button5Click);
  Button6 = make("Button6", "Stop", false, &MainWindow::Button6Click);
  Button7 = make("Button7", "Cancel", false, &MainWindow::Button7Click);
  Button9 = make("Button9", "Hide", true, &MainWindow::Button9Click);
  Button10 = make("Button10", "Exit", true, &MainWindow::Button10Click);

  StatusBar1 = new framework::StatusBar(this, QStringLiteral("StatusBar1"));
  setStatusBar(StatusBar1);
}

void MainWindow::createClientArea() {
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("ClientArea"));
  auto* stack = new QStackedLayout(client);
  stack->setStackingMode(QStackedLayout::StackAll);
  Image1 = new framework::Image(client, QStringLiteral("Image1"));
  stack->addWidget(Image1);
  // The builder panel shares the client area with the preview and covers
  // all of it while shown.
  Panel1 = new builder::BuilderPanel(StatusBar1, SaveDialog1, recorder_, client);
  stack->addWidget(Panel1);
  Panel1->hide();
  setCentralWidget(client);
  connect(Panel1, &builder::BuilderPanel::buildingChanged, this, [this](bool building) {
    Open1->setEnabled(!building);
    Close1->setEnabled(!building);
  });
}

void MainWindow::createComponents() {
  getpic = new framework::Timer(this, QStringLiteral("getpic"), 300, false);
  getpic->OnTimer = [this] { getpicTimer(); };
  grabPoll_ = new QTimer(this);
  grabPoll_->setInterval(1);
  grabPoll_->setTimerType(Qt::PreciseTimer);
  connect(grabPoll_, &QTimer::timeout, this, [this] {
    if (wnd::ScreenCopyArrived()) finishGrab();
  });
  Timer2 = new framework::Timer(this, QStringLiteral("Timer2"), 100, true);
  Timer2->OnTimer = [this] {
    loadvalues();
    Timer2->setEnabled(false);
  };

  SaveDialog1.DefaultExt = QStringLiteral(".avi");
  SaveDialog1.FileName = QStringLiteral("make.avi");
  SaveDialog1.Filter = QStringLiteral("Video For Windows|*.avi");
  OpenDialog2.DefaultExt = QStringLiteral(".avi");
  OpenDialog2.Filter = QStringLiteral("Video For Windows|*.avi");
  SaveDialog2.DefaultExt = QStringLiteral(".bmp");
  SaveDialog2.FileName = QStringLiteral("capture.bmp");
  SaveDialog2.Filter = QStringLiteral("Bitmap|*.bmp");

  TrayIcon1 = new components::TrayIcon(this, QStringLiteral("TrayIcon1"));
  TrayIcon1->setIcon(QIcon(QStringLiteral(":/icons/kestrel.png")));
  TrayIcon1->OnClick = [this](QObject*) { TrayIcon1Click(); };
  TrayIcon1->OnDblClick = [this](QObject*) { TrayIcon1Click(); };
  TrayIcon2 = new components::TrayIcon(this, QStringLiteral("TrayIcon2"));
  TrayIcon2->setIcon(QIcon(QStringLiteral(":/icons/snapshot.png")));
  // A single click does nothing: a double-click also delivers two clicks.
  TrayIcon2->OnDblClick = [this](QObject*) { TrayIcon2DblClick(); };

  MyRegistry1 = new components::SettingsStore(this);
  MyRegistry1->setObjectName(QStringLiteral("MyRegistry1"));
  MyRegistry1->setSaveToINI(true);
  MyRegistry1->setINIFile(QStringLiteral("kestrel.ini"));
  MyRegistry1->setCanCreate(false);
}

void MainWindow::connectPeers(const MainWindowPeers& peers) {
  peers_ = peers;
  using target::RemoteControl;
  connect(peers.remote, &RemoteControl::startClicked, this, &MainWindow::Button4Click);
  connect(peers.remote, &RemoteControl::pauseClicked, this, &MainWindow::Button5Click);
  connect(peers.remote, &RemoteControl::stopClicked, this, &MainWindow::Button6Click);
  connect(peers.remote, &RemoteControl::cancelClicked, this, &MainWindow::Button7Click);
  connect(peers.remote, &RemoteControl::showMainWindowClicked, this, &MainWindow::TrayIcon1Click);
  connect(peers.remote, &RemoteControl::shown, this, &QWidget::hide);

  connect(peers.captureMode, &target::CaptureModeDialog::areaChosen, peers.captureFrame,
          &target::CaptureFrame::chooseArea);
  connect(peers.captureMode, &target::CaptureModeDialog::windowChosen, peers.captureFrame,
          &target::CaptureFrame::chooseWindow);
  connect(peers.captureMode, &target::CaptureModeDialog::cancelled, this, &MainWindow::Button7Click);
  connect(peers.captureFrame, &target::CaptureFrame::xClicked, this, &MainWindow::targetChosen);

  connect(peers.keepPreview, &KeepPreviewDialog::chosen, this, [this](bool keep) {
    // "Keep Preview" means what it says: by now Stop or Cancel may have
    // stopped the grab, so it runs again.
    getpic->setEnabled(keep);
    if (!keep) peers_.remote->hide();
    show();
  });
  connect(peers.keepPreview, &KeepPreviewDialog::cancelled, this, [this] {
    getpic->setEnabled(false);
    show();
  });
  connect(peers.options, &OptionsDialog::closed, this, &QWidget::show);
}

void MainWindow::Open1Click() {
  Panel1->show();
  Panel1->raise();
}

void MainWindow::Close1Click() { Panel1->hide(); }

bool MainWindow::FormCloseQuery() { return true; }

void MainWindow::FormClose() {
  closeRecordingOnExit();
  QCoreApplication::quit();
}

void MainWindow::closeEvent(QCloseEvent* e) {
  if (!FormCloseQuery()) {
    e->ignore();
    return;
  }
  e->accept();
  FormClose();
}

void MainWindow::Button9Click() { hide(); }

void MainWindow::Button10Click() {
  closeit();
  close();
}

void MainWindow::Exit1Click() { close(); }

void MainWindow::TrayIcon1Click() {
  show();
  raise();
  activateWindow();
}

void MainWindow::OpenFile1Click() {
  if (!OpenDialog2.Execute(this)) return;
  const int rc = components::LaunchFile(OpenDialog2.FileName, QString(), QString(), 1);
  // Nothing playing and nothing said would look like a click that was lost.
  if (rc <= 32)
    framework::ShowMessage(
        components::launchFailureMessage(QStringLiteral("the recording"), OpenDialog2.FileName, rc));
}

void MainWindow::Help5Click() {
  framework::ShowMessage(QStringLiteral(
      "1. Start Avi is the first step in recording an avi from the desktop\r\n"
      "2. Close Avi is how you close an avi you recorded\r\n"
      "3. Avi Options  This is how you fine tune your Avi, these are advanced controls.\r\n"
      "4. Play Avi is one way you can play the avis you record."));
}

void MainWindow::Help6Click() {
  framework::ShowMessage(QStringLiteral(
      "1. Start This allows you to make avis from bitmaps i.e. *.bmp in a non-real time\r\n"
      "2.  Close This closes the window that allows you to record non-real time avis and returns you to "
      "real-time recording."));
}

void MainWindow::Help4Click() {
  framework::ShowMessage(QStringLiteral(
      "Avi Capture Options\r\n"
      "1. Avi Window  This allows you to strech the video you record, often this leads to distortion if strech "
      "is set to true.\r\n"
      "2. Capture Type This allows you to switch between recording an avi and a bitmap\r\n"
      "3. Record Type This allows you to record the capture to files then come back and make an avi with the "
      "captures.\r\n"
      "6. Remote Control. This allows a a set of control record under your set window\r\n"
      "5. Frame Rate.  This allows you to change the rate of frames recorded per second,"));
}

// The "Online Help" items open Kestrel's own pages in the browser.
void MainWindow::showHelpPage(const char* page) {
  const QString url = components::helpPageUrl(QLatin1String(page));
  const int rc = components::LaunchFile(QStringLiteral("iexplore"), url, {}, 1);
  if (rc <= 32) framework::ShowMessage(components::launchFailureMessage(QStringLiteral("the help page"), url, rc));
}

}  // namespace app
