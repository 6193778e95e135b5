#include "recording/unfinishedfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/path.h"

namespace recording {

namespace {

// The path a symbolic link leads to, or the path itself; names are taken
// as bytes, whatever they hold.
QByteArray resolved(const QByteArray& path) {
  char buf[PATH_MAX];
  return ::realpath(path.constData(), buf) ? QByteArray(buf) : path;
}

}  // namespace

QString unfinishedName(const QString& outputFile) { return outputFile + QStringLiteral(".unfinished"); }

UnfinishedFile::UnfinishedFile(const QString& output) {
  // A link to a file stays a link: the file it leads to is replaced.
  struct stat st {};
  const QByteArray out = platform::encodePath(output);
  target_ = ::lstat(out.constData(), &st) == 0 && S_ISLNK(st.st_mode) ? resolved(out) : out;
  const bool replacing = ::stat(target_.constData(), &st) == 0;
  QByteArray base = platform::encodePath(unfinishedName(platform::decodePath(target_)));
  // A name the file system takes may leave no room for the suffix: the
  // unfinished file then takes a shorter one, in the same folder.
  const qsizetype slash = base.lastIndexOf('/') + 1;
  constexpr qsizetype kMaxName = NAME_MAX - 4;  // room for "-99"
  if (base.size() - slash > kMaxName) base = base.left(slash + kMaxName - 11) + ".unfinished";
  int fd = -1;
  for (int n = 1; n < 100 && fd < 0; ++n) {
    path_ = n == 1 ? base : base + '-' + QByteArray::number(n);
    fd = ::open(path_.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    errno_ = errno;
    path_.clear();
    return;
  }
  if (replacing && S_ISREG(st.st_mode)) (void)::fchmod(fd, st.st_mode & 07777);
  ::close(fd);
}

UnfinishedFile::~UnfinishedFile() {
  if (!path_.isEmpty()) ::unlink(path_.constData());
}

QString UnfinishedFile::path() const { return platform::decodePath(path_); }
QString UnfinishedFile::target() const { return platform::decodePath(target_); }

QString UnfinishedFile::keep() {
  if (path_.isEmpty()) return {};
  QString kept;
  if (::rename(path_.constData(), target_.constData()) == 0) {
    kept = platform::decodePath(target_);
  } else {
    errno_ = errno;
    kept = platform::decodePath(path_);
  }
  path_.clear();
  return kept;
}

}  // namespace recording
