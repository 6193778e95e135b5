#pragma once
// The main window: menu bar, toolbar, preview and status line, and every
// piece of recording state. Its methods are defined in the folder of the
// subsystem they serve: start-up and help here, preferences in
// app/prefs.cpp, the recorder and frame capture in recording/, target
// selection, remote-control commands and snapshots in target/, the AVI
// builder in builder/.
#include <QMainWindow>
#include <QString>
#include <cstdint>

#include "framework/dialogs.h"
#include "platform/gdi/bitmap.h"
#include "recording/aviwriter.h"

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QToolBar;
class QWidget;
class TMyRegistry;
class TTrayIcon;
namespace forms {
class Image;
class StatusBar;
class Timer;
}  // namespace forms

class TForm1 : public QMainWindow, public TAviWriterState {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Toolbar.
  QToolBar* ToolBar1;
  QPushButton* Button11;  // "Record"
  QPushButton* Button4;   // "Start"
  QPushButton* Button5;   // "Pause" / "UnPause"
  QPushButton* Button6;   // "Stop"
  QPushButton* Button7;   // "Cancel"
  QPushButton* Button9;   // "Hide"
  QPushButton* Button10;  // "Exit"

  // Preview and status line.
  forms::Image* Image1;
  forms::StatusBar* StatusBar1;

  // Menu bar. Submenus are QMenu, commands QAction.
  QMenu* File1;
  QAction* NameFile1;
  QAction* CloseFile1;
  QMenu* Options;
  QMenu* Image2;
  QAction* Strech1;
  QAction* NonStretch1;
  QMenu* Type1;
  QAction* Single1;
  QAction* Avi1;
  QMenu* RecordType1;
  QAction* RealTime1;
  QAction* NonRealTime1;
  QMenu* RemoteControl1;
  QAction* On1;
  QAction* Off1;
  QAction* N5;
  QAction* Moveable1;
  QMenu* Preview1;
  QAction* Keep1;
  QAction* Ask1;
  QAction* FrameRate1;
  QAction* N6;
  QAction* Help4;
  QAction* OnlineHelp4;
  QAction* N2;
  QAction* OpenFile1;
  QAction* N4;
  QAction* Help5;
  QAction* OnlineHelp1;
  QAction* N1;
  QAction* Exit1;
  QMenu* Options1;
  QAction* Setup1;
  QMenu* AviMaker1;
  QAction* Open1;
  QAction* Close1;
  QAction* N3;
  QAction* Help6;
  QAction* OnlineHelp2;
  QMenu* Capture1;
  QAction* On2;
  QAction* Off2;
  QAction* N8;
  QAction* Help7;
  QMenu* About1;
  QAction* LatestVersion1;
  QAction* N7;
  QAction* OnlineHelp3;

  // Builder panel.
  QWidget* Panel1;
  QListWidget* ListBox1;
  QPushButton* Button1;  // "Add File"
  QPushButton* Button3;  // "Make Avi"
  QPushButton* Button8;  // "Clear List"
  QLabel* Label2;        // "Frame Rate"
  QLineEdit* Edit1;      // "1"
  forms::Image* Image3;
  QLabel* Label1;  // "No Actual Size"
  QLabel* Label3;  // "All Files must have the"
  QLabel* Label4;  // "the exact format and size"
  QProgressBar* ProgressBar1;

  // Timers.
  forms::Timer* Timer1;
  forms::Timer* getpic;
  forms::Timer* WindowMirror;
  forms::Timer* Timer2;

  // File dialogs.
  forms::FileDialog OpenDialog1;
  forms::FileDialog SaveDialog1;
  forms::FileDialog OpenDialog2;
  forms::FileDialog SaveDialog2;

  // Components.
  TTrayIcon* TrayIcon1;
  TTrayIcon* TrayIcon2;
  TMyRegistry* MyRegistry1;

  // Recording state (the writer's fields come from TAviWriterState).
  std::int32_t recordState = 0;
  std::int32_t frameGate = 0;
  std::int32_t frameIndex = -1;
  QString outputFileName;
  gdi::Bitmap frameBitmap;
  std::int32_t remoteOff = 0;
  std::int32_t remoteMoveable = 0;
  std::int32_t captureType = 0;
  bool buildRunning = false;  // a GenerateAVI call is under way
  bool buildAbort = false;    // Esc seen during a build

  // Start-up, help, exit (app/main.cpp).
  void FormCreate();
  bool FormCloseQuery();
  void FormClose();
  void Button9Click();
  void Button10Click();
  void Exit1Click();
  void OpenFile1Click();
  void Help5Click();
  void Help6Click();
  void Help4Click();
  void OnlineHelp1Click();
  void OnlineHelp2Click();
  void OnlineHelp3Click();
  void OnlineHelp4Click();
  void LatestVersion1Click();
  void TrayIcon1Click();
  void TrayIcon1DblClick();

  // Preferences (app/prefs.cpp).
  void Timer2Timer();
  void loadvalues();
  void closeit();
  void Strech1Click();
  void NonStretch1Click();
  void Keep1Click();
  void Ask1Click();
  void FrameRate1Click();
  void Setup1Click();

  // Recorder (recording/recorder.cpp).
  void NameFile1Click();
  void Button11Click();
  void setuptorecord();
  void Button4Click();
  void makeavi();
  void Button5Click();
  void Button6Click();
  void CloseFile1Click();
  void Button7Click();
  void closeavi();
  void Timer1Timer();
  // Run before the program ends: finishes an open recording's file.
  void closeRecordingOnExit();

  // Frame capture (recording/capture.cpp).
  void getpicTimer();
  void addfile();

  // Target selection (target/).
  void WindowMirrorTimer();

  // Remote-control commands (target/).
  // The grab's last steps: place the remote control below the capture
  // rectangle and show it, unless it is off or moveable.
  void placeRemoteControl();
  void On1Click();
  void Off1Click();
  void Moveable1Click();

  // Snapshots (target/).
  void On2Click();
  void Off2Click();
  void Help7Click();
  void TrayIcon2Click();
  void TrayIcon2DblClick();
  void Single1Click();
  void Avi1Click();

  // AVI builder (builder/).
  void Open1Click();
  void Close1Click();
  void Button1Click();
  void Button8Click();
  void Button3Click();
  void GenerateAVI();

 protected:
  void closeEvent(QCloseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  void createMenus();
  void createToolBar();
  void createBuilderPanel();
  void createComponents();
};

extern TForm1* Form1;
