#pragma once
// Message boxes and file dialogs with the framework's rules.
#include <QString>

class QWidget;

namespace framework {

// The plain notice box: modal, OK only, no icon, the application's title.
void ShowMessage(const QString& text);

// A message box without owner window, with its own caption and OK only.
void MessageBox(const QString& text, const QString& caption);

// A file dialog that keeps the last chosen name for its next use and
// appends its default extension to a name typed without one. Qt's own
// widget dialog, so tests and screen readers can drive it by name.
class FileDialog {
 public:
  enum class Kind { Open, Save };
  FileDialog(Kind kind, const QString& objectName) : kind_(kind), name_(objectName) {}

  QString FileName;    // preset, and after Execute the chosen full path
  QString DefaultExt;  // e.g. ".bmp"
  QString Filter;      // "Description|*.ext"
  QString Title;

  // True when the user confirmed a name; false on Cancel (FileName unchanged).
  bool Execute(QWidget* parent = nullptr);
  const QString& objectName() const { return name_; }

 private:
  Kind kind_;
  QString name_;
};

}  // namespace framework
