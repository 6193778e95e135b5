#pragma once
// The builder panel: the list of bitmap files, the rate and "Make Avi".
// It lies over the main window's preview while the "Avi Builder" menu's
// Start has shown it, and drives an AviBuilder.
//
// | objectName   | caption / text               | what it does                          |
// |--------------|------------------------------|---------------------------------------|
// | Panel1       |                              | the panel                             |
// | ListBox1     |                              | the files, in frame order             |
// | Button1      | "Add File"                   | adds a file (OpenDialog1)             |
// | Button8      | "Clear List"                 | empties the list                      |
// | Button3      | "Make Avi"                   | builds the file (Esc aborts)          |
// | Label2       | "Frame Rate"                 | the rate's label                      |
// | Edit1        | "1"                          | the rate, frames per second           |
// | Image3       |                              | the frame being built                 |
// | Label1       | "No Actual Size"             | says the preview is not to scale      |
// | Label3/4     | "All Files must have the" ...| the rule for the files                |
// | ProgressBar1 |                              | 1 once a build has ended              |
#include <QWidget>

#include "framework/dialogs.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace framework {
class Image;
class StatusBar;
}  // namespace framework
namespace recording {
class Session;
}

namespace builder {

class BuilderPanel : public QWidget {
  Q_OBJECT
 public:
  // `status` is the main window's status line, `saveDialog` the dialog
  // that names the file (shared with "Record New File", which keeps its
  // last name). Builds are refused while `session` holds a file.
  BuilderPanel(framework::StatusBar* status, framework::FileDialog& saveDialog, const recording::Session& session,
               QWidget* parent);

  // The rate as typed, and the line under it that a recording writes its
  // frame count into while the panel is shown.
  QString rateText() const;
  void showRecordingStatus(const QString& text);
  // "Make Avi": builds the listed files (refused while a recording holds
  // its file).
  void buildFromList();
  // Builds the listed files into a file named in the save dialog.
  void makeAvi();
  // The dialog "Add File" asks with.
  framework::FileDialog& addFileDialog() { return addFileDialog_; }

  // A build is under way; Esc in the main window aborts it.
  bool isBuilding() const { return building_; }
  bool abortRequested() const { return abort_; }
  void requestAbort() {
    if (building_) abort_ = true;
  }

 signals:
  // A build began or ended (the menu's Start and Close are off meanwhile).
  void buildingChanged(bool building);

 private:
  friend class BuildScope;
  void addFile();
  void clearList();

  QListWidget* files_;
  QPushButton* addButton_;
  QPushButton* makeButton_;
  QPushButton* clearButton_;
  QLabel* rateLabel_;
  QLineEdit* rateEdit_;
  framework::Image* frameView_;
  QLabel* scaleNote_;
  QLabel* ruleLine1_;
  QLabel* ruleLine2_;
  QProgressBar* progress_;
  framework::FileDialog addFileDialog_;
  framework::StatusBar* status_;
  framework::FileDialog& saveDialog_;
  const recording::Session& session_;
  bool building_ = false;
  bool abort_ = false;
};

}  // namespace builder
