#pragma once
// Names a file in one of the program's file dialogs the way a person
// would: by typing the full path into the name box and confirming. The
// dialog lists its folder in the background and, once the listing is in,
// selects the name it was opened with, overwriting the name box; so the
// typing waits until the dialog has settled, as a person's would.
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <string>

namespace testsupport {
inline void chooseFile(QFileDialog* fd, const QString& path) {
  QPointer<QFileDialog> dlg(fd);
  QTimer::singleShot(300, fd, [dlg, path] {
    QFileDialog* d = dlg.data();
    if (d == nullptr) return;
    if (auto* edit = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) edit->setText(path);
    static_cast<QDialog*>(d)->accept();
  });
}
inline void chooseFile(QFileDialog* fd, const std::string& path) { chooseFile(fd, QString::fromStdString(path)); }
}  // namespace testsupport
