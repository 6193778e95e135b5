#include "components/launch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include "platform/shell/shell.h"

namespace components {

int LaunchFile(const QString& file, const QString& params, const QString& dir, int showCmd) {
  // Each string goes to the shell whole. Cutting a long path to a fixed
  // buffer would open a different file, or none.
  const QByteArray f = QFile::encodeName(file);
  const QByteArray p = params.toUtf8();
  const QByteArray d = QFile::encodeName(dir);
  return int(shell::ShellExecuteA(shell::HWND(0), nullptr, f.constData(), p.constData(), d.constData(), showCmd));
}

QString launchFailureMessage(const QString& what, const QString& target, int code) {
  const QUrl url(target);
  const bool isAddress = target.contains(QStringLiteral("://"));
  const QString local = isAddress ? (url.isLocalFile() ? url.toLocalFile() : QString()) : target;
  const QString shown = local.isEmpty() ? target : local;
  QString why;
  // The causes are told apart here, where they can be looked at, rather
  // than trusted to the one code the shell has for two of them.
  if (!local.isEmpty() && !QFileInfo::exists(local))
    why = QStringLiteral("the file does not exist.");
  else if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty())
    why = QStringLiteral(
        "xdg-open, which opens files with the desktop's programs, is not installed or not on the PATH.");
  else if (code == int(shell::SE_ERR_PNF))
    why = QStringLiteral("its folder does not exist.");
  else if (code == int(shell::SE_ERR_FNF))
    why = QStringLiteral("xdg-open reports that it does not exist.");
  else
    why = isAddress && local.isEmpty() ? QStringLiteral("no web browser is set up to open addresses.")
                                       : QStringLiteral("no program is set up to open this kind of file.");
  return QStringLiteral("Cannot open %1 %2: %3").arg(what, shown, why);
}

QStringList helpDirs() {
  QStringList dirs;
  const QString app = QCoreApplication::applicationDirPath();
  if (!app.isEmpty()) dirs << QDir(app).absoluteFilePath(QStringLiteral("../share/kestrel/help"));
#ifdef KESTREL_SOURCE_HELP_DIR
  // A run from the build tree finds the pages in the sources.
  dirs << QStringLiteral(KESTREL_SOURCE_HELP_DIR);
#endif
  return dirs;
}

QString helpPageUrl(const QString& page) {
  const QStringList dirs = helpDirs();
  QString path;
  for (const QString& dir : dirs) {
    const QFileInfo fi(QDir(dir), page);
    if (fi.isFile()) {
      path = fi.absoluteFilePath();
      break;
    }
  }
  // Not found anywhere: point at the installed place, so the browser says
  // what is missing rather than opening something else.
  if (path.isEmpty() && !dirs.isEmpty()) path = QDir::cleanPath(dirs.first() + QLatin1Char('/') + page);
  return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

}  // namespace components
