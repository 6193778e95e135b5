#include "app/mainwindow.h"

#include <algorithm>
#include <functional>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
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

using framework::checkOneOf;

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

// Dialogs are modeless: shown, raised, and the program goes on.
void showModeless(QWidget* w) {
  w->show();
  w->raise();
  w->activateWindow();
}

QMenu* addMenu(QWidget* parent, const char* name, const char* caption) {
  auto* m = new QMenu(QString::fromLatin1(caption), parent);
  m->setObjectName(QString::fromLatin1(name));
  m->menuAction()->setObjectName(QString::fromLatin1(name));
  return m;
}

}  // namespace

MainWindow::MainWindow(recording::Session& session, QWidget* parent)
    : QMainWindow(parent),
      session_(session),
      recordingFileDialog_(framework::FileDialog::Kind::Save, QStringLiteral("SaveDialog1")),
      playFileDialog_(framework::FileDialog::Kind::Open, QStringLiteral("OpenDialog2")),
      snapshotFileDialog_(framework::FileDialog::Kind::Save, QStringLiteral("SaveDialog2")) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Kestrel 2.5"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/kestrel.png")));
  resize(520, 400);
  createToolBar();
  createClientArea();
  createMenus();
  createComponents();
  connectSession();
  // Wide enough for the whole toolbar: a narrower window would fold "Exit"
  // into an overflow arrow.
  resize(std::max(width(), toolBar_->sizeHint().width() + 8), height());
}

MainWindow::~MainWindow() = default;

void MainWindow::createMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));

  QMenu* file = addMenu(this, "File1", "&Kestrel");
  addItem(this, file, "NameFile1", "Record New File", [this] { recordNewFile(); });
  addItem(this, file, "CloseFile1", "&Close File", [this] { stopRecording(); });
  QMenu* options = addMenu(file, "Options", "Avi Capture Options");
  file->addMenu(options);
  options->menuAction()->setVisible(false);
  addSeparator(file, "N2");
  addItem(this, file, "OpenFile1", "&Play Avi", [this] { playRecording(); });
  addSeparator(file, "N4");
  addItem(this, file, "Help5", "&Help", [this] {
    showHelp(QStringLiteral(
        "1. Start Avi is the first step in recording an avi from the desktop\r\n"
        "2. Close Avi is how you close an avi you recorded\r\n"
        "3. Avi Options  This is how you fine tune your Avi, these are advanced controls.\r\n"
        "4. Play Avi is one way you can play the avis you record."));
  });
  addItem(this, file, "OnlineHelp1", "Online Help", [this] { showHelpPage("recording.html"); });
  addSeparator(file, "N1");
  addItem(this, file, "Exit1", "E&xit", [this] { close(); });

  QMenu* window = addMenu(options, "Image2", "&Avi Window");
  options->addMenu(window);
  stretch_ = addItem(this, window, "Strech1", "Stretch", [this] { chooseStretch(true); }, false, true);
  noStretch_ = addItem(this, window, "NonStretch1", "Non-Stretch", [this] { chooseStretch(false); }, true);
  QMenu* type = addMenu(options, "Type1", "&Capture Type");
  options->addMenu(type);
  type->menuAction()->setVisible(false);
  type->menuAction()->setEnabled(false);
  singleImage_ = addItem(this, type, "Single1", "Single Image", [this] { chooseCaptureType(CaptureType::SingleImage); },
                         false, true);
  singleImage_->setEnabled(false);
  aviCapture_ = addItem(this, type, "Avi1", "Avi", [this] { chooseCaptureType(CaptureType::Avi); }, true);
  QMenu* recordType = addMenu(options, "RecordType1", "&Record Type");
  options->addMenu(recordType);
  recordType->menuAction()->setVisible(false);
  recordType->menuAction()->setEnabled(false);
  addItem(this, recordType, "RealTime1", "Real Time", nullptr, true);
  addItem(this, recordType, "NonRealTime1", "Non-Real Time", nullptr, false, true)->setEnabled(false);
  QMenu* remote = addMenu(options, "RemoteControl1", "R&emote Control");
  options->addMenu(remote);
  remoteOn_ = addItem(this, remote, "On1", "On", [this] { chooseRemote(true); }, true);
  remoteOffItem_ = addItem(this, remote, "Off1", "Off", [this] { chooseRemote(false); }, false, true);
  addSeparator(remote, "N5");
  remoteMoveableItem_ = addItem(this, remote, "Moveable1", "Moveable", [this] { toggleRemoteMoveable(); }, false, true);
  QMenu* afterRecording = addMenu(options, "Preview1", "&Preview After Recording");
  options->addMenu(afterRecording);
  keepPreview_ = addItem(this, afterRecording, "Keep1", "Keep", [this] { checkOneOf(keepPreview_, askPreview_); },
                         false, true);
  askPreview_ = addItem(this, afterRecording, "Ask1", "Ask", [this] { checkOneOf(askPreview_, keepPreview_); },
                        false, true);
  addItem(this, options, "FrameRate1", "&Frame Rate", [this] { showModeless(peers_.frameRate); });
  addSeparator(options, "N6");
  addItem(this, options, "Help4", "&Help", [this] {
    showHelp(QStringLiteral(
        "Avi Capture Options\r\n"
        "1. Avi Window  This allows you to strech the video you record, often this leads to distortion if strech "
        "is set to true.\r\n"
        "2. Capture Type This allows you to switch between recording an avi and a bitmap\r\n"
        "3. Record Type This allows you to record the capture to files then come back and make an avi with the "
        "captures.\r\n"
        "6. Remote Control. This allows a a set of control record under your set window\r\n"
        "5. Frame Rate.  This allows you to change the rate of frames recorded per second,"));
  });
  addItem(this, options, "OnlineHelp4", "&Online Help", [this] { showHelpPage("options.html"); });

  QMenu* setup = addMenu(this, "Options1", "Options");
  addItem(this, setup, "Setup1", "&Setup", [this] { showModeless(peers_.options); });

  QMenu* builderMenu = addMenu(this, "AviMaker1", "Avi Builder");
  openBuilder_ = addItem(this, builderMenu, "Open1", "&Start", [this] {
    builderPanel_->show();
    builderPanel_->raise();
  });
  closeBuilder_ = addItem(this, builderMenu, "Close1", "&Close", [this] { builderPanel_->hide(); });
  addSeparator(builderMenu, "N3");
  addItem(this, builderMenu, "Help6", "&Help", [this] {
    showHelp(QStringLiteral(
        "1. Start This allows you to make avis from bitmaps i.e. *.bmp in a non-real time\r\n"
        "2.  Close This closes the window that allows you to record non-real time avis and returns you to "
        "real-time recording."));
  });
  addItem(this, builderMenu, "OnlineHelp2", "&Online Help", [this] { showHelpPage("builder.html"); });

  QMenu* capture = addMenu(this, "Capture1", "Eazy Capture");
  snapshotsOn_ = addItem(this, capture, "On2", "&On", [this] { chooseSnapshots(true); }, false, true);
  snapshotsOff_ = addItem(this, capture, "Off2", "O&ff", [this] { chooseSnapshots(false); }, true);
  addSeparator(capture, "N8");
  addItem(this, capture, "Help7", "&Help", [this] {
    showHelp(QStringLiteral(
        "Easy Capture allows the you to save a capture of what you are previewing.  The file is saved in bitmap "
        "format."));
  });

  QMenu* about = addMenu(this, "About1", "Help");
  addItem(this, about, "LatestVersion1", "Latest Version", [this] { showHelpPage("version.html"); });
  addSeparator(about, "N7");
  addItem(this, about, "OnlineHelp3", "Online Help", [this] { showHelpPage("index.html"); });

  for (QMenu* m : {file, setup, builderMenu, capture, about}) bar->addMenu(m);
  builderMenu->menuAction()->setVisible(false);
  capture->menuAction()->setVisible(false);
  connect(builderPanel_, &builder::BuilderPanel::buildingChanged, this, [this](bool building) {
    openBuilder_->setEnabled(!building);
    closeBuilder_->setEnabled(!building);
  });
}

void MainWindow::createToolBar() {
  toolBar_ = addToolBar(QStringLiteral("ToolBar1"));
  toolBar_->setObjectName(QStringLiteral("ToolBar1"));
  toolBar_->setMovable(false);
  auto make = [this](const char* name, const char* caption, bool enabled, void (MainWindow::*command)()) {
    return framework::addToolButton(toolBar_, name, caption, enabled, [this, command] { (this->*command)(); });
  };
  recordButton_ = make("Button11", "Record", true, &MainWindow::recordNewFile);
  startButton_ = make("Button4", "Start", false, &MainWindow::startRecording);
  pauseButton_ = make("Button5", "Pause", false, &MainWindow::togglePause);
  stopButton_ = make("Button6", "Stop", false, &MainWindow::stopRecording);
  cancelButton_ = make("Button7", "Cancel", false, &MainWindow::cancelRecording);
  hideButton_ = make("Button9", "Hide", true, &QWidget::hide);
  exitButton_ = make("Button10", "Exit", true, &MainWindow::exitSavingPreferences);

  statusLine_ = new framework::StatusBar(this, QStringLiteral("StatusBar1"));
  setStatusBar(statusLine_);
}

void MainWindow::createClientArea() {
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("ClientArea"));
  auto* stack = new QStackedLayout(client);
  stack->setStackingMode(QStackedLayout::StackAll);
  preview_ = new framework::Image(client, QStringLiteral("Image1"));
  stack->addWidget(preview_);
  // The builder panel shares the client area with the preview and covers
  // all of it while shown.
  builderPanel_ = new builder::BuilderPanel(statusLine_, recordingFileDialog_, session_, client);
  stack->addWidget(builderPanel_);
  builderPanel_->hide();
  setCentralWidget(client);
}

void MainWindow::createComponents() {
  loadTimer_ = new framework::Timer(this, QStringLiteral("Timer2"), 100, true);
  loadTimer_->OnTimer = [this] {
    loadPreferences();
    loadTimer_->setEnabled(false);
  };

  recordingFileDialog_.DefaultExt = QStringLiteral(".avi");
  recordingFileDialog_.FileName = QStringLiteral("make.avi");
  recordingFileDialog_.Filter = QStringLiteral("Video For Windows|*.avi");
  playFileDialog_.DefaultExt = QStringLiteral(".avi");
  playFileDialog_.Filter = QStringLiteral("Video For Windows|*.avi");
  snapshotFileDialog_.DefaultExt = QStringLiteral(".bmp");
  snapshotFileDialog_.FileName = QStringLiteral("capture.bmp");
  snapshotFileDialog_.Filter = QStringLiteral("Bitmap|*.bmp");

  trayIcon_ = new components::TrayIcon(this, QStringLiteral("TrayIcon1"));
  trayIcon_->setIcon(QIcon(QStringLiteral(":/icons/kestrel.png")));
  trayIcon_->OnClick = [this](QObject*) { showAndRaise(); };
  trayIcon_->OnDblClick = [this](QObject*) { showAndRaise(); };
  snapshotTrayIcon_ = new components::TrayIcon(this, QStringLiteral("TrayIcon2"));
  snapshotTrayIcon_->setIcon(QIcon(QStringLiteral(":/icons/snapshot.png")));
  // A single click does nothing: a double-click also delivers two clicks.
  snapshotTrayIcon_->OnDblClick = [this](QObject*) { saveSnapshot(); };

  settings_ = new components::SettingsStore(this);
  settings_->setObjectName(QStringLiteral("MyRegistry1"));
  settings_->setSaveToINI(true);
  settings_->setINIFile(QStringLiteral("kestrel.ini"));
  settings_->setCanCreate(false);
}

void MainWindow::connectPeers(const MainWindowPeers& peers) {
  peers_ = peers;
  using target::RemoteControl;
  connect(peers.remote, &RemoteControl::startClicked, this, &MainWindow::startRecording);
  connect(peers.remote, &RemoteControl::pauseClicked, this, &MainWindow::togglePause);
  connect(peers.remote, &RemoteControl::stopClicked, this, &MainWindow::stopRecording);
  connect(peers.remote, &RemoteControl::cancelClicked, this, &MainWindow::cancelRecording);
  connect(peers.remote, &RemoteControl::showMainWindowClicked, this, &MainWindow::showAndRaise);
  connect(peers.remote, &RemoteControl::shown, this, &QWidget::hide);

  connect(peers.captureMode, &target::CaptureModeDialog::areaChosen, peers.captureFrame,
          &target::CaptureFrame::chooseArea);
  connect(peers.captureMode, &target::CaptureModeDialog::windowChosen, peers.captureFrame,
          &target::CaptureFrame::chooseWindow);
  connect(peers.captureMode, &target::CaptureModeDialog::cancelled, this, &MainWindow::cancelRecording);
  connect(peers.captureFrame, &target::CaptureFrame::xClicked, this, &MainWindow::targetChosen);
  connect(peers.captureFrame, &target::CaptureFrame::rectangleChanged, this, [this](const framework::Bounds& b) {
    session_.setArea(recordedRect(b));
  });

  connect(peers.keepPreview, &KeepPreviewDialog::chosen, this, [this](bool keep) {
    // "Keep Preview" means what it says: by now Stop or Cancel may have
    // stopped the grab, so it runs again.
    if (keep)
      session_.startPreview();
    else
      session_.stopPreview();
    if (!keep) peers_.remote->hide();
    show();
  });
  connect(peers.keepPreview, &KeepPreviewDialog::cancelled, this, [this] {
    session_.stopPreview();
    show();
  });
  connect(peers.options, &OptionsDialog::closed, this, &QWidget::show);
  // The preview shows the pointer as the file will.
  connect(peers.options->pointerBox(), &QCheckBox::toggled, this, [this](bool on) { session_.showPointer(on); });
  showState(session_.state());
}

void MainWindow::closeEvent(QCloseEvent* e) {
  e->accept();
  closeRecordingOnExit();
  QCoreApplication::quit();
}

void MainWindow::exitSavingPreferences() {
  savePreferences();
  close();
}

void MainWindow::showAndRaise() {
  show();
  raise();
  activateWindow();
}

void MainWindow::playRecording() {
  if (!playFileDialog_.Execute(this)) return;
  const int rc = components::LaunchFile(playFileDialog_.FileName, QString(), QString(), 1);
  // Nothing playing and nothing said would look like a click that was lost.
  if (rc <= 32)
    framework::ShowMessage(
        components::launchFailureMessage(QStringLiteral("the recording"), playFileDialog_.FileName, rc));
}

void MainWindow::showHelp(const QString& text) { framework::ShowMessage(text); }

// The "Online Help" items open Kestrel's own pages in the browser.
void MainWindow::showHelpPage(const char* page) {
  const QString url = components::helpPageUrl(QLatin1String(page));
  const int rc = components::LaunchFile(QStringLiteral("iexplore"), url, {}, 1);
  if (rc <= 32) framework::ShowMessage(components::launchFailureMessage(QStringLiteral("the help page"), url, rc));
}

}  // namespace app
