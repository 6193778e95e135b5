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
    QElapsedTimer since;    // since the dialog opened
    qint64 typedAt = -1;    // when the name was last typed
  };
  auto state = std::make_shared<State>();
  state->since.start();
  QPointer<QFileDialog> dlg(fd);
  auto type = [dlg, path, state] {
    if (QFileDialog* d = dlg.data())
      if (auto* edit = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
        edit->setText(path);
        state->typedAt = state->since.elapsed();
      }
  };
  // The listing puts the old name back: type ours again after it.
  if (auto* model = fd->findChild<QFileSystemModel*>())
    QObject::connect(model, &QFileSystemModel::directoryLoaded, fd, [state, type] {
      state->listed = true;
      type();
    });
  auto* poll = new QTimer(fd);
  poll->setInterval(40);
  QObject::connect(poll, &QTimer::timeout, fd, [dlg, state, poll, type] {
    QFileDialog* d = dlg.data();
    if (d == nullptr) return;
    if (state->typedAt < 0) type();
    const qint64 now = state->since.elapsed();
    if (now - state->typedAt >= 250 && (state->listed || now >= 3000)) {
      poll->stop();
      static_cast<QDialog*>(d)->accept();
    }
  });
  poll->start();
}
inline void chooseFile(QFileDialog* fd, const std::string& path) { chooseFile(fd, QString::fromStdString(path)); }
}  // namespace testsupport
