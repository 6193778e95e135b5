#pragma once
// The options dialog: the three stored options, the frame-rate button and a
// hint line that explains the option under the mouse.
//
// | objectName | caption           | what it does                               |
// |------------|-------------------|--------------------------------------------|
// | Form9      | "Options"         | the dialog                                 |
// | GroupBox1  | "Options"         | frames the options                         |
// | CheckBox1  | "Stetch Image"    | stored; stretches the preview at next start |
// | CheckBox2  | "Remote Control"  | stored; the remote control at next start   |
// | CheckBox3  | "Final Preview"   | stored; the keep-preview question          |
// | PointerBox | "Record the mouse pointer" | stored; the pointer in the frames |
// | Button1    | "Frame Rate"      | shows the frame-rate dialog                |
// | ShortcutsBox | "Global shortcuts" | frames the two shortcuts                 |
// | StartStopKey | (key sequence)   | stored; Start/Stop from any program        |
// | PauseKey   | (key sequence)    | stored; Pause/UnPause from any program     |
// | ShortcutsNote | (label)        | why a shortcut does not work (hidden: none)|
// | Button2    | "OK"              | hides, shows the main window (closed)      |
// | Button3    | "Help" (hidden)   | nothing                                    |
// | StatusBar1 |                   | the hint line                              |
// | SoundGroup | "Sound"           | frames the sound sources                   |
// | SoundDesktop | "Record what the desktop plays" | stored; sound at next Start |
// | SoundMicrophone | "Record the microphone" | stored; sound at next Start     |
// | SoundCompressed | "Compress the sound (MP3, 128 kbit/s)" | stored; else PCM  |
#include <QWidget>

class QCheckBox;
class QGroupBox;
class QKeySequenceEdit;
class QLabel;
class QPushButton;
namespace framework {
class StatusBar;
}

namespace app {

class FrameRateDialog;

class OptionsDialog : public QWidget {
  Q_OBJECT
 public:
  explicit OptionsDialog(FrameRateDialog* frameRate, QWidget* parent = nullptr);

  // The stored options' boxes, for the preferences.
  QCheckBox* stretchBox() const { return stretch_; }
  QCheckBox* remoteBox() const { return remote_; }
  QCheckBox* finalPreviewBox() const { return finalPreview_; }
  QCheckBox* pointerBox() const { return pointer_; }
  // The global shortcuts' keys (empty: none).
  QKeySequenceEdit* startStopKeyEdit() const { return startStopKey_; }
  QKeySequenceEdit* pauseKeyEdit() const { return pauseKey_; }
  // Says under the shortcuts why one does not work.
  void showShortcutsNote(const QString& text);
  QCheckBox* desktopSoundBox() const { return desktopSound_; }
  QCheckBox* microphoneBox() const { return microphone_; }
  QCheckBox* soundCompressedBox() const { return soundCompressed_; }

 signals:
  // OK hid the dialog.
  void closed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void fitHeight();
  void showFrameRate();
  void confirm();
  void showHelp();
  void hintStretch();
  void hintNothingInGroup();
  void hintNothing();

  framework::StatusBar* hintLine_;
  QGroupBox* group_;
  QCheckBox* stretch_;
  QCheckBox* remote_;
  QCheckBox* finalPreview_;
  QCheckBox* pointer_;
  QKeySequenceEdit* startStopKey_;
  QKeySequenceEdit* pauseKey_;
  QLabel* shortcutsNote_;
  QCheckBox* desktopSound_;
  QCheckBox* microphone_;
  QCheckBox* soundCompressed_;
  QPushButton* frameRateButton_;
  QPushButton* okButton_;
  QPushButton* helpButton_;
  FrameRateDialog* frameRate_;
};

}  // namespace app
