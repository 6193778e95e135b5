#include "support/tempdir.h"

namespace testsupport {

static QString baseDir() {
  QString base = qEnvironmentVariable("KESTREL_TEST_TMP");
  if (base.isEmpty()) base = QDir::tempPath();
  QDir().mkpath(base);
  return base + "/kestrel-XXXXXX";
}

TempDir::TempDir() : dir_(baseDir()) {}

}  // namespace testsupport
