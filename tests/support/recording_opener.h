#pragma once
// A stand-in `xdg-open` first on PATH that writes down how it was called:
// the folder it ran in and each argument, one file per call. Lets a test
// check exactly what the program launched, and that nothing else ran.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/modal.h"
#include "support/tempdir.h"

namespace testsupport {

class RecordingOpener {
 public:
  struct Call {
    QString cwd;
    QStringList args;
  };

  // exitStatus: what the stand-in exits with after writing the call down,
  // as xdg-open does (3: no program for the file, 2: no such file).
  explicit RecordingOpener(int exitStatus = 0) {
    const QString bin = dir_.path() + QStringLiteral("/bin");
    log_ = dir_.path() + QStringLiteral("/log");
    QDir().mkpath(bin);
    QDir().mkpath(log_);
    QFile script(bin + QStringLiteral("/xdg-open"));
    script.open(QIODevice::WriteOnly);
    script.write(
        "#!/bin/sh\n"
        "out=\"$KESTREL_OPENER_LOG/call.$$\"\n"
        "printf '%s\\0' \"$PWD\" \"$@\" > \"$out.tmp\" && mv \"$out.tmp\" \"$out\"\n"
        "exit " +
        QByteArray::number(exitStatus) + "\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const char* old = std::getenv("PATH");
    oldPath_ = old ? old : "";
    setenv("PATH", (bin.toStdString() + ":" + oldPath_).c_str(), 1);
    setenv("KESTREL_OPENER_LOG", log_.toStdString().c_str(), 1);
  }
  ~RecordingOpener() {
    setenv("PATH", oldPath_.c_str(), 1);
    unsetenv("KESTREL_OPENER_LOG");
  }
  RecordingOpener(const RecordingOpener&) = delete;
  RecordingOpener& operator=(const RecordingOpener&) = delete;

  // Calls finished so far.
  std::vector<Call> calls() const {
    std::vector<Call> out;
    for (const QFileInfo& fi : QDir(log_).entryInfoList({QStringLiteral("call.*")}, QDir::Files, QDir::Time)) {
      if (fi.suffix() == QLatin1String("tmp")) continue;
      QFile f(fi.absoluteFilePath());
      if (!f.open(QIODevice::ReadOnly)) continue;
      QList<QByteArray> parts = f.readAll().split('\0');
      if (!parts.isEmpty() && parts.last().isEmpty()) parts.removeLast();
      Call c;
      if (!parts.isEmpty()) c.cwd = QFile::decodeName(parts.takeFirst());
      for (const QByteArray& p : parts) c.args << QFile::decodeName(p);
      out.push_back(c);
    }
    return out;
  }
  // Waits (running the event loop) until n calls have finished.
  bool waitFor(std::size_t n, int ms = 5000) const {
    return pumpUntil([&] { return calls().size() >= n; }, ms);
  }
  QString folder() const { return dir_.path(); }

 private:
  TempDir dir_;
  QString log_;
  std::string oldPath_;
};

}  // namespace testsupport
