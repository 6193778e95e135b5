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

  QListWidget* ListBox1;
  QPushButton* Button1;  // "Add File"
  QPushButton* Button3;  // "Make Avi"
  QPushButton* Button8;  // "Clear List"
  QLabel* Label2;        // "Frame Rate"
  QLineEdit* Edit1;      // "1"
  framework::Image* Image3;
  QLabel* Label1;  // "No Actual Size"
  QLabel* Label3;  // "All Files must have the"
  QLabel* Label4;  // "the exact format and size"
  QProgressBar* ProgressBar1;
  framework::FileDialog OpenDialog1;

  void Button1Click();
  void Button8Click();
  void Button3Click();
  // Builds the listed files into a file named in the save dialog.
  void makeAvi();

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
  framework::StatusBar* status_;
  framework::FileDialog& saveDialog_;
  const recording::Session& session_;
  bool building_ = false;
  bool abort_ = false;
};

}  // namespace builder
