#pragma once
// The main window: menu bar, toolbar, preview and status line. It carries
// out the user's commands: the recorder records, the builder panel builds,
// the capture frame and the remote control are the windows it directs.
//
// | objectName      | caption                      | what it does                                   |
// |-----------------|------------------------------|------------------------------------------------|
// | Form1           | "Kestrel 2.5"                | the window; closing it ends the program        |
// | ToolBar1        |                              | the recording commands                         |
// | Button11        | "Record"                     | names the file, then the capture mode          |
// | Button4         | "Start"                      | starts the recording (compressor dialog)       |
// | Button5         | "Pause" / "UnPause"          | pauses and resumes                             |
// | Button6         | "Stop"                       | stops and completes the file                   |
// | Button7         | "Cancel"                     | cancels the recording or the choice            |
// | Button9         | "Hide"                       | hides the window (the tray icon brings it back) |
// | Button10        | "Exit"                       | saves the preferences and ends the program     |
// | Image1          |                              | the live preview                               |
// | StatusBar1      |                              | one status text                                |
// | Panel1          |                              | the builder panel (builder/builderpanel.h)     |
// | File1           | "&Kestrel"                   | Record New File, Close File, Play Avi, Help, Exit |
// | Options         | "Avi Capture Options"        | (hidden) stretch, remote control, preview, rate |
// | Options1        | "Options"                    | Setup: the options dialog                      |
// | AviMaker1       | "Avi Builder"                | (hidden) Start/Close show and hide the panel   |
// | Capture1        | "Eazy Capture"               | (hidden) snapshots On/Off                      |
// | About1          | "Help"                       | Latest Version, Online Help                    |
// | Timer2, getpic  | (timers)                     | loads the preferences once; grabs the screen   |
// | TrayIcon1/2     | (tray icons)                 | shows this window; saves a snapshot            |
// | MyRegistry1     | (settings store)             | kestrel.ini                                    |
#include <QMainWindow>
#include <QTimer>
#include <QString>
#include <cstdint>
#include <exception>

#include "framework/dialogs.h"
#include "recording/recorder.h"

class QAction;
class QMenu;
class QPushButton;
class QToolBar;
namespace components {
class SettingsStore;
class TrayIcon;
}  // namespace components
namespace framework {
class Image;
class StatusBar;
class Timer;
}  // namespace framework
namespace builder {
class BuilderPanel;
}
namespace target {
class CaptureFrame;
class CaptureModeDialog;
class RemoteControl;
}  // namespace target

namespace app {

class FrameRateDialog;
class KeepPreviewDialog;
class OptionsDialog;

// The other windows the main window directs; they are created and owned
// by app::Windows.
struct MainWindowPeers {
  target::RemoteControl* remote = nullptr;
  target::CaptureModeDialog* captureMode = nullptr;
  target::CaptureFrame* captureFrame = nullptr;
  KeepPreviewDialog* keepPreview = nullptr;
  FrameRateDialog* frameRate = nullptr;
  OptionsDialog* options = nullptr;
};

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(recording::Recorder& recorder, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Called once every window exists: wires their signals to this window.
  void connectPeers(const MainWindowPeers& peers);

  recording::Recorder& recorder() { return recorder_; }
  builder::BuilderPanel* builderPanel() const { return Panel1; }

  // Toolbar.
  QToolBar* ToolBar1;
  QPushButton* Button11;  // "Record"
  QPushButton* Button4;   // "Start"
  QPushButton* Button5;   // "Pause" / "UnPause"
  QPushButton* Button6;   // "Stop"
  QPushButton* Button7;   // "Cancel"
  QPushButton* Button9;   // "Hide"
  QPushButton* Button10;  // "Exit"

  // Preview, status line, builder panel.
  framework::Image* Image1;
  framework::StatusBar* StatusBar1;
  builder::BuilderPanel* Panel1;

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

  // Timers: the grab, and the one-off loading of the preferences.
  framework::Timer* getpic;
  framework::Timer* Timer2;

  // File dialogs.
  framework::FileDialog SaveDialog1;  // the recording's (and the builder's) file
  framework::FileDialog OpenDialog2;  // "Play Avi"
  framework::FileDialog SaveDialog2;  // a snapshot

  // Components.
  components::TrayIcon* TrayIcon1;
  components::TrayIcon* TrayIcon2;
  components::SettingsStore* MyRegistry1;

  // What the remote-control and capture-type menus chose.
  bool remoteOff = false;       // the remote control is not shown
  bool remoteMoveable = false;  // the remote control stays where the user put it
  enum class CaptureType { Avi, SingleImage };
  CaptureType captureType = CaptureType::Avi;

  // Start-up, help, exit (mainwindow.cpp).
  bool FormCloseQuery();
  void FormClose();
  void Button9Click();
  void Button10Click();
  void Exit1Click();
  void OpenFile1Click();
  void Help5Click();
  void Help6Click();
  void Help4Click();
  void showHelpPage(const char* page);
  void TrayIcon1Click();

  // Preferences (preferences.cpp).
  void loadvalues();
  void closeit();
  void Strech1Click();
  void NonStretch1Click();
  void Keep1Click();
  void Ask1Click();
  void FrameRate1Click();
  void Setup1Click();
  void On1Click();
  void Off1Click();
  void Moveable1Click();

  // Recording commands (recording.cpp).
  void NameFile1Click();
  void setuptorecord();
  void Button4Click();
  // Opens the file; false when it was not (refused, cancelled, failed).
  bool makeavi();
  void Button5Click();
  void Button6Click();
  void Button7Click();
  // The capture frame's X: the rectangle is fixed and the grab starts.
  void targetChosen();
  // One grab: the screen under the capture frame becomes the preview and
  // the recorder's newest frame; the remote control follows the frame.
  void getpicTimer();
  void placeRemoteControl();
  // Run before the program ends: finishes an open recording's file.
  void closeRecordingOnExit();

  // Snapshots and the capture type (snapshots.cpp).
  void On2Click();
  void Off2Click();
  void Help7Click();
  void TrayIcon2DblClick();
  void Single1Click();
  void Avi1Click();

  // The builder panel's menu.
  void Open1Click();
  void Close1Click();

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void createMenus();
  void createToolBar();
  void createClientArea();
  void createComponents();
  void connectRecorder();
  void setToolbar(bool record, bool start, bool pause, bool stop, bool cancel);
  QString frameRateText() const;
  void showRecordingStatus(const QString& text);
  // The windows as after Stop, and one box that says what happened.
  void recordingFailed(const recording::RecordingEnd& end);
  // A box that does not hold up the program (timers and grabs go on).
  void tell(const QString& text);
  void showHealth(const recording::Health& h);
  void readyToStart();
  // The second half of a grab, once its pixels are in.
  void finishGrab();
  // A grab that failed: the recorder decides while recording, else a box.
  void grabFailed(const std::exception& e);

  recording::Recorder& recorder_;
  MainWindowPeers peers_;
  bool showingHealth_ = false;
  QString trayTip_;  // the tooltip before the recording's figures replaced it
  QTimer* grabPoll_ = nullptr;  // looks for a grab's pixels while they are on their way
  bool grabbing_ = false;
  bool reportingGrabError_ = false;
};

}  // namespace app
