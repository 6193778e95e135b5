#pragma once
// Names a file in one of the program's file dialogs the way a person
// would: by typing the full path into the name box and confirming. The
// dialog lists its folder in the background and, once the listing is in,
// selects the name it was opened with, overwriting the name box; so the
// name is typed again until the listing is in and the box has kept it for a
// moment, as a person would look before pressing Save. A loaded machine
// can take well over a second to list a folder.
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <string>

namespace testsupport {
inline void chooseFile(QFileDialog* fd, const QString& path) {
  struct State {
    bool listed = false;
    QElapsedTimer since;      // since the dialog opened
    qint64 keptSince = -1;    // since when the box holds the path
  };
  auto state = std::make_shared<State>();
  state->since.start();
  if (auto* model = fd->findChild<QFileSystemModel*>())
    QObject::connect(model, &QFileSystemModel::directoryLoaded, fd, [state] { state->listed = true; });
  QPointer<QFileDialog> dlg(fd);
  auto* poll = new QTimer(fd);
  poll->setInterval(40);
  QObject::connect(poll, &QTimer::timeout, fd, [dlg, path, state, poll] {
    QFileDialog* d = dlg.data();
    if (d == nullptr) return;
    auto* edit = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!edit) return;
    const qint64 now = state->since.elapsed();
    if (edit->text() != path) {
      edit->setText(path);
      state->keptSince = now;
      return;
    }
    if (state->keptSince < 0) state->keptSince = now;
    if (now - state->keptSince >= 250 && (state->listed || now >= 3000)) {
      poll->stop();
      static_cast<QDialog*>(d)->accept();
    }
  });
  poll->start();
}
inline void chooseFile(QFileDialog* fd, const std::string& path) { chooseFile(fd, QString::fromStdString(path)); }
}  // namespace testsupport
