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
// | Button1    | "Frame Rate"      | shows the frame-rate dialog                |
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
  QCheckBox* desktopSoundBox() const { return desktopSound_; }
  QCheckBox* microphoneBox() const { return microphone_; }
  QCheckBox* soundCompressedBox() const { return soundCompressed_; }

 signals:
  // OK hid the dialog.
  void closed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
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
  QCheckBox* desktopSound_;
  QCheckBox* microphone_;
  QCheckBox* soundCompressed_;
  QPushButton* frameRateButton_;
  QPushButton* okButton_;
  QPushButton* helpButton_;
  FrameRateDialog* frameRate_;
};

}  // namespace app
