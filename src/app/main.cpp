#include "app/main.h"

#include <algorithm>
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

#include "components/fmxutils.h"
#include "components/myregistry.h"
#include "components/trayicon.h"
#include "framework/dialogs.h"
#include "framework/image.h"
#include "framework/statusbar.h"
#include "framework/timer.h"

namespace {

// Menu items keep the framework's rule: a click runs the handler and the
// handler alone decides the check mark (Qt would flip it first).
QAction* addItem(TForm1* form, QMenu* menu, const char* name, const char* caption, void (TForm1::*handler)(),
                 bool checked = false, bool checkable = false) {
  auto* a = menu->addAction(QString::fromLatin1(caption));
  a->setObjectName(QString::fromLatin1(name));
  a->setCheckable(checkable || checked);
  a->setChecked(checked);
  QObject::connect(a, &QAction::triggered, form, [form, a, handler](bool state) {
    if (a->isCheckable()) a->setChecked(!state);
    if (handler) (form->*handler)();
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

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent),
      OpenDialog1(forms::FileDialog::Kind::Open, QStringLiteral("OpenDialog1")),
      SaveDialog1(forms::FileDialog::Kind::Save, QStringLiteral("SaveDialog1")),
      OpenDialog2(forms::FileDialog::Kind::Open, QStringLiteral("OpenDialog2")),
      SaveDialog2(forms::FileDialog::Kind::Save, QStringLiteral("SaveDialog2")) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Kestrel 2.5"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/kestrel.png")));
  resize(520, 400);
  createMenus();
  createToolBar();
  createBuilderPanel();
  createComponents();
  // Wide enough for the whole toolbar: a narrower window would fold "Exit"
  // into an overflow arrow.
  resize(std::max(width(), ToolBar1->sizeHint().width() + 8), height());
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::createMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));

  File1 = addMenu(this, "File1", "&Kestrel");
  NameFile1 = addItem(this, File1, "NameFile1", "Record New File", &TForm1::NameFile1Click);
  CloseFile1 = addItem(this, File1, "CloseFile1", "&Close File", &TForm1::CloseFile1Click);
  Options = addMenu(File1, "Options", "Avi Capture Options");
  File1->addMenu(Options);
  Options->menuAction()->setVisible(false);
  N2 = addSeparator(File1, "N2");
  OpenFile1 = addItem(this, File1, "OpenFile1", "&Play Avi", &TForm1::OpenFile1Click);
  N4 = addSeparator(File1, "N4");
  Help5 = addItem(this, File1, "Help5", "&Help", &TForm1::Help5Click);
  OnlineHelp1 = addItem(this, File1, "OnlineHelp1", "Online Help", &TForm1::OnlineHelp1Click);
  N1 = addSeparator(File1, "N1");
  Exit1 = addItem(this, File1, "Exit1", "E&xit", &TForm1::Exit1Click);

  Image2 = addMenu(Options, "Image2", "&Avi Window");
  Options->addMenu(Image2);
  Strech1 = addItem(this, Image2, "Strech1", "Stretch", &TForm1::Strech1Click, false, true);
  NonStretch1 = addItem(this, Image2, "NonStretch1", "Non-Stretch", &TForm1::NonStretch1Click, true);
  Type1 = addMenu(Options, "Type1", "&Capture Type");
  Options->addMenu(Type1);
  Type1->menuAction()->setVisible(false);
  Type1->menuAction()->setEnabled(false);
  Single1 = addItem(this, Type1, "Single1", "Single Image", &TForm1::Single1Click, false, true);
  Single1->setEnabled(false);
  Avi1 = addItem(this, Type1, "Avi1", "Avi", &TForm1::Avi1Click, true);
  RecordType1 = addMenu(Options, "RecordType1", "&Record Type");
  Options->addMenu(RecordType1);
  RecordType1->menuAction()->setVisible(false);
  RecordType1->menuAction()->setEnabled(false);
  RealTime1 = addItem(this, RecordType1, "RealTime1", "Real Time", nullptr, true);
  NonRealTime1 = addItem(this, RecordType1, "NonRealTime1", "Non-Real Time", nullptr, false, true);
  NonRealTime1->setEnabled(false);
  RemoteControl1 = addMenu(Options, "RemoteControl1", "R&emote Control");
  Options->addMenu(RemoteControl1);
  On1 = addItem(this, RemoteControl1, "On1", "On", &TForm1::On1Click, true);
  Off1 = addItem(this, RemoteControl1, "Off1", "Off", &TForm1::Off1Click, false, true);
  N5 = addSeparator(RemoteControl1, "N5");
  Moveable1 = addItem(this, RemoteControl1, "Moveable1", "Moveable", &TForm1::Moveable1Click, false, true);
  Preview1 = addMenu(Options, "Preview1", "&Preview After Recording");
  Options->addMenu(Preview1);
  Keep1 = addItem(this, Preview1, "Keep1", "Keep", &TForm1::Keep1Click, false, true);
  Ask1 = addItem(this, Preview1, "Ask1", "Ask", &TForm1::Ask1Click, false, true);
  FrameRate1 = addItem(this, Options, "FrameRate1", "&Frame Rate", &TForm1::FrameRate1Click);
  N6 = addSeparator(Options, "N6");
  Help4 = addItem(this, Options, "Help4", "&Help", &TForm1::Help4Click);
  OnlineHelp4 = addItem(this, Options, "OnlineHelp4", "&Online Help", &TForm1::OnlineHelp4Click);

  Options1 = addMenu(this, "Options1", "Options");
  Setup1 = addItem(this, Options1, "Setup1", "&Setup", &TForm1::Setup1Click);

  AviMaker1 = addMenu(this, "AviMaker1", "Avi Builder");
  Open1 = addItem(this, AviMaker1, "Open1", "&Start", &TForm1::Open1Click);
  Close1 = addItem(this, AviMaker1, "Close1", "&Close", &TForm1::Close1Click);
  N3 = addSeparator(AviMaker1, "N3");
  Help6 = addItem(this, AviMaker1, "Help6", "&Help", &TForm1::Help6Click);
  OnlineHelp2 = addItem(this, AviMaker1, "OnlineHelp2", "&Online Help", &TForm1::OnlineHelp2Click);

  Capture1 = addMenu(this, "Capture1", "Eazy Capture");
  On2 = addItem(this, Capture1, "On2", "&On", &TForm1::On2Click, false, true);
  Off2 = addItem(this, Capture1, "Off2", "O&ff", &TForm1::Off2Click, true);
  N8 = addSeparator(Capture1, "N8");
  Help7 = addItem(this, Capture1, "Help7", "&Help", &TForm1::Help7Click);

  About1 = addMenu(this, "About1", "Help");
  LatestVersion1 = addItem(this, About1, "LatestVersion1", "Latest Version", &TForm1::LatestVersion1Click);
  N7 = addSeparator(About1, "N7");
  OnlineHelp3 = addItem(this, About1, "OnlineHelp3", "Online Help", &TForm1::OnlineHelp3Click);

  for (QMenu* m : {File1, Options1, AviMaker1, Capture1, About1}) bar->addMenu(m);
  AviMaker1->menuAction()->setVisible(false);
  Capture1->menuAction()->setVisible(false);
}

void TForm1::createToolBar() {
  ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
  ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  ToolBar1->setMovable(false);
  auto make = [this](const char* name, const char* caption, bool enabled, void (TForm1::*h)()) {
    auto* b = new QPushButton(QString::fromLatin1(caption), ToolBar1);
    b->setObjectName(QString::fromLatin1(name));
    b->setEnabled(enabled);
    b->setFocusPolicy(Qt::NoFocus);
    ToolBar1->addWidget(b);
    connect(b, &QPushButton::clicked, this, [this, h] { (this->*h)(); });
    return b;
  };
  Button11 = make("Button11", "Record", true, &TForm1::Button11Click);
  Button4 = make("Button4", "Start", false, &TForm1::Button4Click);
  Button5 = make("Button5", "Pause", false, &TForm1::Button5Click);
  Button6 = make("Button6", "Stop", false, &TForm1::Button6Click);
  Button7 = make("Button7", "Cancel", false, &TForm1::Button7Click);
  Button9 = make("Button9", "Hide", true, &TForm1::Button9Click);
  Button10 = make("Button10", "Exit", true, &TForm1::Button10Click);

  StatusBar1 = new forms::StatusBar(this, QStringLiteral("StatusBar1"));
  setStatusBar(StatusBar1);
}

void TForm1::createBuilderPanel() {
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("ClientArea"));
  auto* stack = new QStackedLayout(client);
  stack->setStackingMode(QStackedLayout::StackAll);
  Image1 = new forms::Image(client, QStringLiteral("Image1"));
  stack->addWidget(Image1);

  Panel1 = new QWidget(client);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setAutoFillBackground(true);
  auto* grid = new QGridLayout(Panel1);
  ListBox1 = new QListWidget(Panel1);
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  Button1 = new QPushButton(QStringLiteral("Add File"), Panel1);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button3 = new QPushButton(QStringLiteral("Make Avi"), Panel1);
  Button3->setObjectName(QStringLiteral("Button3"));
  Button8 = new QPushButton(QStringLiteral("Clear List"), Panel1);
  Button8->setObjectName(QStringLiteral("Button8"));
  Label2 = new QLabel(QStringLiteral("Frame Rate"), Panel1);
  Label2->setObjectName(QStringLiteral("Label2"));
  Edit1 = new QLineEdit(QStringLiteral("1"), Panel1);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Label2->setBuddy(Edit1);
  Image3 = new forms::Image(Panel1, QStringLiteral("Image3"));
  Image3->setMinimumSize(120, 90);
  Label1 = new QLabel(QStringLiteral("No Actual Size"), Panel1);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label3 = new QLabel(QStringLiteral("All Files must have the"), Panel1);
  Label3->setObjectName(QStringLiteral("Label3"));
  Label4 = new QLabel(QStringLiteral("the exact format and size"), Panel1);
  Label4->setObjectName(QStringLiteral("Label4"));
  ProgressBar1 = new QProgressBar(Panel1);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  grid->addWidget(ListBox1, 0, 0, 6, 1);
  grid->addWidget(Button1, 0, 1);
  grid->addWidget(Button8, 1, 1);
  grid->addWidget(Button3, 2, 1);
  grid->addWidget(Label2, 3, 1);
  grid->addWidget(Edit1, 4, 1);
  grid->addWidget(Label3, 6, 0);
  grid->addWidget(Label4, 7, 0);
  grid->addWidget(Label1, 6, 1);
  grid->addWidget(Image3, 7, 1, 2, 1);
  grid->addWidget(ProgressBar1, 9, 0, 1, 2);
  stack->addWidget(Panel1);
  Panel1->hide();
  setCentralWidget(client);

  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
  connect(Button8, &QPushButton::clicked, this, [this] { Button8Click(); });
}

void TForm1::createComponents() {
  Timer1 = new forms::Timer(this, QStringLiteral("Timer1"), 1000, false);
  Timer1->OnTimer = [this] { Timer1Timer(); };
  getpic = new forms::Timer(this, QStringLiteral("getpic"), 300, false);
  getpic->OnTimer = [this] { getpicTimer(); };
  WindowMirror = new forms::Timer(this, QStringLiteral("WindowMirror"), 3000, false);
  WindowMirror->OnTimer = [this] { WindowMirrorTimer(); };
  Timer2 = new forms::Timer(this, QStringLiteral("Timer2"), 100, true);
  Timer2->OnTimer = [this] { Timer2Timer(); };

  OpenDialog1.DefaultExt = QStringLiteral(".bmp");
  OpenDialog1.Filter = QStringLiteral("Bitmap|*.bmp");
  SaveDialog1.DefaultExt = QStringLiteral(".avi");
  SaveDialog1.FileName = QStringLiteral("make.avi");
  SaveDialog1.Filter = QStringLiteral("Video For Windows|*.avi");
  OpenDialog2.DefaultExt = QStringLiteral(".avi");
  OpenDialog2.Filter = QStringLiteral("Video For Windows|*.avi");
  SaveDialog2.DefaultExt = QStringLiteral(".bmp");
  SaveDialog2.FileName = QStringLiteral("capture.bmp");
  SaveDialog2.Filter = QStringLiteral("Bitmap|*.bmp");

  TrayIcon1 = new TTrayIcon(this, QStringLiteral("TrayIcon1"));
  TrayIcon1->setIcon(QIcon(QStringLiteral(":/icons/kestrel.png")));
  TrayIcon1->OnClick = [this](QObject*) { TrayIcon1Click(); };
  TrayIcon1->OnDblClick = [this](QObject*) { TrayIcon1DblClick(); };
  TrayIcon2 = new TTrayIcon(this, QStringLiteral("TrayIcon2"));
  TrayIcon2->setIcon(QIcon(QStringLiteral(":/icons/snapshot.png")));
  TrayIcon2->OnClick = [this](QObject*) { TrayIcon2Click(); };
  TrayIcon2->OnDblClick = [this](QObject*) { TrayIcon2DblClick(); };

  MyRegistry1 = new TMyRegistry(this);
  MyRegistry1->setObjectName(QStringLiteral("MyRegistry1"));
  MyRegistry1->setSaveToINI(true);
  MyRegistry1->setINIFile(QStringLiteral("kestrel.ini"));
  MyRegistry1->setCanCreate(false);
}

void TForm1::FormCreate() {
  frameIndex = -1;
  captureType = 0;
}

bool TForm1::FormCloseQuery() { return true; }

void TForm1::FormClose() {
  closeRecordingOnExit();
  QCoreApplication::quit();
}

void TForm1::closeEvent(QCloseEvent* e) {
  if (!FormCloseQuery()) {
    e->ignore();
    return;
  }
  e->accept();
  FormClose();
}

void TForm1::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape && buildRunning) buildAbort = true;
  QMainWindow::keyPressEvent(e);
}

void TForm1::Button9Click() { hide(); }

void TForm1::Button10Click() {
  closeit();
  close();
}

void TForm1::Exit1Click() { close(); }

void TForm1::TrayIcon1Click() {
  show();
  raise();
  activateWindow();
}

void TForm1::TrayIcon1DblClick() { TrayIcon1Click(); }

void TForm1::OpenFile1Click() {
  if (OpenDialog2.Execute(this)) LaunchFile(OpenDialog2.FileName, QString(), QString(), 1);
}

void TForm1::Help5Click() {
  forms::ShowMessage(QStringLiteral(
      "1. Start Avi is the first step in recording an avi from the desktop\r\n"
      "2. Close Avi is how you close an avi you recorded\r\n"
      "3. Avi Options  This is how you fine tune your Avi, these are advanced controls.\r\n"
      "4. Play Avi is one way you can play the avis you record."));
}

void TForm1::Help6Click() {
  forms::ShowMessage(QStringLiteral(
      "1. Start This allows you to make avis from bitmaps i.e. *.bmp in a non-real time\r\n"
      "2.  Close This closes the window that allows you to record non-real time avis and returns you to "
      "real-time recording."));
}

void TForm1::Help4Click() {
  forms::ShowMessage(QStringLiteral(
      "Avi Capture Options\r\n"
      "1. Avi Window  This allows you to strech the video you record, often this leads to distortion if strech "
      "is set to true.\r\n"
      "2. Capture Type This allows you to switch between recording an avi and a bitmap\r\n"
      "3. Record Type This allows you to record the capture to files then come back and make an avi with the "
      "captures.\r\n"
      "6. Remote Control. This allows a a set of control record under your set window\r\n"
      "5. Frame Rate.  This allows you to change the rate of frames recorded per second,"));
}

void TForm1::OnlineHelp1Click() { LaunchFile(QStringLiteral("iexplore"), helpPageUrl("recording.html"), {}, 1); }
void TForm1::OnlineHelp4Click() { LaunchFile(QStringLiteral("iexplore"), helpPageUrl("options.html"), {}, 1); }
void TForm1::OnlineHelp2Click() { LaunchFile(QStringLiteral("iexplore"), helpPageUrl("builder.html"), {}, 1); }
void TForm1::OnlineHelp3Click() { LaunchFile(QStringLiteral("iexplore"), helpPageUrl("index.html"), {}, 1); }
void TForm1::LatestVersion1Click() { LaunchFile(QStringLiteral("iexplore"), helpPageUrl("version.html"), {}, 1); }
