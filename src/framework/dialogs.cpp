#include "framework/dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "framework/application.h"

namespace framework {

void ShowMessage(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, Application::title(), text, QMessageBox::Ok);
  box.setObjectName(QStringLiteral("MessageBox"));
  box.exec();
}

void MessageBox(const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
  box.setObjectName(QStringLiteral("MessageBox"));
  box.exec();
}

static QString qtFilter(const QString& filter) {
  // "Bitmap|*.bmp" -> "Bitmap (*.bmp)"; more pairs become more lines.
  const QStringList parts = filter.split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) out << QStringLiteral("%1 (%2)").arg(parts[i], parts[i + 1]);
  return out.join(QStringLiteral(";;"));
}

bool FileDialog::Execute(QWidget* parent) {
  QFileDialog dlg(parent);
  dlg.setObjectName(name_);
  dlg.setOption(QFileDialog::DontUseNativeDialog, true);
  dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
  dlg.setAcceptMode(kind_ == Kind::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dlg.setFileMode(kind_ == Kind::Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!Title.isEmpty()) dlg.setWindowTitle(Title);
  if (!Filter.isEmpty()) dlg.setNameFilter(qtFilter(Filter));
  // The dialog itself adds the extension to a typed name that has none, so
  // an open dialog finds "clip.avi" when the user typed "clip".
  QString suffix = DefaultExt;
  while (suffix.startsWith('.')) suffix.remove(0, 1);
  if (!suffix.isEmpty()) dlg.setDefaultSuffix(suffix);
  if (!FileName.isEmpty()) {
    const QFileInfo fi(FileName);
    if (fi.isAbsolute()) dlg.setDirectory(fi.absolutePath());
    dlg.selectFile(fi.fileName());
  }
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return false;
  QString chosen = dlg.selectedFiles().first();
  if (!suffix.isEmpty() && QFileInfo(chosen).suffix().isEmpty()) {
    if (chosen.endsWith('.')) chosen.chop(1);
    chosen += '.' + suffix;
  }
  FileName = chosen;
  return true;
}

}  // namespace framework
