#pragma once
// The main window: menu bar, toolbar, preview and status line. It passes
// the user's commands to the recording session and shows the session's
// state; the builder panel builds, the capture frame and the remote control
// are the windows it directs.
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
// | Timer2          | (timer)                      | loads the preferences once after start-up      |
// | TrayIcon1/2     | (tray icons)                 | shows this window; saves a snapshot            |
// | MyRegistry1     | (settings store)             | kestrel.ini                                    |
// | SaveDialog1     | (file dialog)                | the recording's (and the builder's) file       |
// | OpenDialog2     | (file dialog)                | "Play Avi"                                     |
// | SaveDialog2     | (file dialog)                | a snapshot                                     |
#include <QMainWindow>
#include <QString>
#include <vector>

#include "framework/bounds.h"
#include "framework/dialogs.h"
#include "recording/session.h"

class QAction;
class QCheckBox;
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
  explicit MainWindow(recording::Session& session, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Called once every window exists: wires their signals to this window.
  void connectPeers(const MainWindowPeers& peers);

  recording::Session& session() { return session_; }
  builder::BuilderPanel* builderPanel() const { return builderPanel_; }
  framework::Image* preview() const { return preview_; }
  framework::StatusBar* statusLine() const { return statusLine_; }
  components::TrayIcon* trayIcon() const { return trayIcon_; }
  components::TrayIcon* snapshotTrayIcon() const { return snapshotTrayIcon_; }
  components::SettingsStore* settingsStore() const { return settings_; }
  framework::FileDialog& recordingFileDialog() { return recordingFileDialog_; }
  framework::FileDialog& playFileDialog() { return playFileDialog_; }
  framework::FileDialog& snapshotFileDialog() { return snapshotFileDialog_; }

  // The recording commands, as the toolbar, the menu and the remote
  // control give them.
  void recordNewFile();
  void startRecording();
  void togglePause();
  void stopRecording();
  void cancelRecording();
  // The capture frame's X: the rectangle is fixed and the preview starts.
  void targetChosen();
  // Run before the program ends: finishes an open recording's file.
  void closeRecordingOnExit();

  // Brings the window back (the tray icon, the remote's Show).
  void showAndRaise();
  // Saves the preview as a bitmap (the snapshot tray icon's double-click).
  void saveSnapshot();
  // The remote control below the capture rectangle, as after every grab.
  void placeRemoteControl();

  // The preferences: loaded once after start-up, saved by the toolbar's Exit.
  void loadPreferences();
  void savePreferences();

  // What the remote-control and capture-type menus chose.
  bool remoteShown() const { return !remoteOff_; }
  // The remote-control menu's On or Off.
  void chooseRemote(bool shown);
  bool remoteFollowsCapture() const { return !remoteMoveable_; }
  enum class CaptureType { Avi, SingleImage };
  CaptureType captureType() const { return captureType_; }

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void createMenus();
  void createToolBar();
  void createClientArea();
  void createComponents();
  void connectSession();

  // The one place the toolbar, the remote control and the tray icon take
  // the session's state.
  void showState(recording::RecordState s);
  void showFrameWritten(int index);
  void showHealth(const recording::Health& h);
  void recordingEnded(const recording::RecordingEnd& end);
  void showGrabError(const QString& message);
  // A box that does not hold up the program (grabs go on).
  void tell(const QString& text);
  bool soundOrNone(recording::RecordingSettings& settings);
  // Opens the file; false when it was not (refused, cancelled, failed).
  bool openRecording();
  QString frameRateText() const;
  // The capture frame's outer bounds as the rectangle the session records.
  static wnd::RECT recordedRect(const framework::Bounds& b) {
    return {b.left, b.top, b.left + b.width, b.top + b.height};
  }

  void exitSavingPreferences();
  void playRecording();
  void showHelpPage(const char* page);
  void showHelp(const QString& text);
  void chooseStretch(bool stretch);
  void toggleRemoteMoveable();
  void chooseSnapshots(bool on);
  void chooseCaptureType(CaptureType t);

  // A preference of a check mark, kept under `key`: loaded into the menu
  // item (and the options dialog's box that mirrors it), saved from the box
  // where there is one, else from the item. The sound choices are boxes
  // alone.
  struct CheckPreference {
    const char* key;
    bool byDefault;
    QAction* item;
    QCheckBox* box;
  };
  std::vector<CheckPreference> checkPreferences() const;

  recording::Session& session_;
  MainWindowPeers peers_;

  QToolBar* toolBar_;
  QPushButton* recordButton_;
  QPushButton* startButton_;
  QPushButton* pauseButton_;
  QPushButton* stopButton_;
  QPushButton* cancelButton_;
  QPushButton* hideButton_;
  QPushButton* exitButton_;
  framework::Image* preview_;
  framework::StatusBar* statusLine_;
  builder::BuilderPanel* builderPanel_;

  QAction* openBuilder_;
  QAction* closeBuilder_;
  QAction* stretch_;
  QAction* noStretch_;
  QAction* singleImage_;
  QAction* aviCapture_;
  QAction* remoteOn_;
  QAction* remoteOffItem_;
  QAction* remoteMoveableItem_;
  QAction* keepPreview_;
  QAction* askPreview_;
  QAction* snapshotsOn_;
  QAction* snapshotsOff_;

  framework::Timer* loadTimer_;
  framework::FileDialog recordingFileDialog_;
  framework::FileDialog playFileDialog_;
  framework::FileDialog snapshotFileDialog_;
  components::TrayIcon* trayIcon_;
  components::TrayIcon* snapshotTrayIcon_;
  components::SettingsStore* settings_;

  bool remoteOff_ = false;
  bool remoteMoveable_ = false;
  CaptureType captureType_ = CaptureType::Avi;
  bool showingHealth_ = false;
  QString trayTip_;  // the tooltip before the recording's figures replaced it
  bool reportingGrabError_ = false;
};

}  // namespace app
