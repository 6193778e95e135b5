#pragma once
#include <QDir>
#include <QTemporaryDir>
#include <QString>
#include <string>

namespace testsupport {

// A fresh folder below the build tree's test-tmp (or /tmp), removed at the end.
class TempDir {
 public:
  TempDir();
  QString path() const { return dir_.path(); }
  std::string file(const QString& name) const { return (dir_.path() + "/" + name).toStdString(); }

 private:
  QTemporaryDir dir_;
};

}  // namespace testsupport
