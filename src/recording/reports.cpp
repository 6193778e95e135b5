#include "recording/reports.h"

#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <cstring>

#include "framework/errors.h"

namespace recording {

namespace {

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

}  // namespace

QString bytesText(qint64 bytes) {
  const double b = double(bytes);
  // One decimal while it says something (1.2 GB), none above (38 GB).
  if (b >= 1e9) return QStringLiteral("%1 GB").arg(b / 1e9, 0, 'f', b >= 1e10 ? 0 : 1);
  if (b >= 1e6) return QStringLiteral("%1 MB").arg(b / 1e6, 0, 'f', b >= 1e7 ? 0 : 1);
  return QStringLiteral("%1 kB").arg(qRound(b / 1e3));
}

QString describe(const RecordingEnd& end) {
  QString why;
  switch (end.cause) {
    case EndCause::Stopped:
    case EndCause::Cancelled:
      why = QStringLiteral("it was ended");
      break;
    case EndCause::DiskFull:
      why = QStringLiteral("the disk is full");
      break;
    case EndCause::DiskAlmostFull:
      why = QStringLiteral("the disk is almost full (%1 left)").arg(end.detail);
      break;
    case EndCause::FileTooLarge:
      why = QStringLiteral("the file reached the largest size this system allows");
      break;
    case EndCause::WriteError:
      why = end.error ? QStringLiteral("the file could not be written (%1)").arg(errnoText(end.error))
                      : QStringLiteral("the file could not be written");
      break;
    case EndCause::GrabFailing:
      why = QStringLiteral("the screen could not be read (%1)").arg(end.detail);
      break;
    case EndCause::CloseFailed:
      why = end.error ? QStringLiteral("the file's index could not be written (%1)").arg(errnoText(end.error))
                      : QStringLiteral("the file's index could not be written");
      break;
  }
  const QString name = QFileInfo(end.file).fileName();
  const QString frames = end.framesKept == 1 ? QStringLiteral("1 frame") : QStringLiteral("%1 frames").arg(end.framesKept);
  const QString length = QStringLiteral("%1 s").arg(double(end.framesKept) / std::max(1, end.rate), 0, 'f', 1);
  const QString kept = end.plays ? QStringLiteral("%1 holds %2 (%3) and plays.").arg(name, frames, length)
                                 : QStringLiteral("%1 holds %2 (%3), but players may not open it.").arg(name, frames, length);
  return QStringLiteral("Recording stopped: %1. %2").arg(why, kept);
}

QString whyCannotCreate(const QString& path) {
  const QFileInfo f(path);
  const QFileInfo folder(f.absolutePath());
  if (!folder.exists()) return QStringLiteral("the folder %1 does not exist").arg(folder.filePath());
  if (!folder.isDir()) return QStringLiteral("%1 is not a folder").arg(folder.filePath());
  if (f.isDir()) return QStringLiteral("%1 is a folder").arg(f.filePath());
  if (f.exists() && !f.isFile()) return QStringLiteral("%1 is not an ordinary file").arg(f.filePath());
  if (f.exists() ? !f.isWritable() : !folder.isWritable())
    return QStringLiteral("permission to write %1 is denied").arg(f.exists() ? f.filePath() : folder.filePath());
  return {};
}

QString healthText(const Health& h) {
  const qint64 s = h.elapsedMs / 1000;
  QString t = s >= 3600 ? QStringLiteral("REC %1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                              .arg(s % 60, 2, 10, QLatin1Char('0'))
                        : QStringLiteral("REC %1:%2").arg(s / 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
  const QLocale c(QLocale::English);
  t += QStringLiteral(" - %1 fr - %2").arg(c.toString(h.frames), bytesText(h.fileBytes));
  if (h.freeBytes >= 0) t += QStringLiteral(" - %1 free").arg(bytesText(h.freeBytes));
  if (h.sound) {
    t += QStringLiteral(" - sound %1 dB").arg(h.soundDb);
    if (h.soundDevicesGone > 0) t += QStringLiteral(" (%1 gone)").arg(h.soundDevicesGone);
  }
  if (h.lostFrames > 0) t += QStringLiteral(" - %1 lost").arg(c.toString(h.lostFrames));
  return t.left(62);
}

QString lostText(quint64 lost) {
  if (lost == 0) return {};
  return lost == 1 ? QStringLiteral(" (1 frame lost)") : QStringLiteral(" (%1 frames lost)").arg(lost);
}

bool parseFrameRate(const QString& text, int& rate, QString& problem, const QString& button) {
  bool ok = false;
  const int value = framework::StrToIntDef(text, 0, &ok);
  if (!ok) {
    problem = QStringLiteral("The frame rate \"%1\" is not a whole number. Enter the number of frames per "
                             "second, from %2 to %3, and press %4 again.")
                  .arg(text.trimmed())
                  .arg(kMinFrameRate)
                  .arg(kMaxFrameRate)
                  .arg(button);
    return false;
  }
  if (value < kMinFrameRate || value > kMaxFrameRate) {
    problem = QStringLiteral("A frame rate of %1 frames per second cannot be recorded. Enter a number from %2 "
                             "to %3 and press %4 again.")
                  .arg(value)
                  .arg(kMinFrameRate)
                  .arg(kMaxFrameRate)
                  .arg(button);
    return false;
  }
  rate = value;
  return true;
}

}  // namespace recording
