#include "app/commandline.h"

#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringList>
#include <atomic>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <exception>
#include <vector>

#include "builder/avibuilder.h"
#include "framework/errors.h"
#include "platform/gdi/bmpfile.h"
#include "platform/vfw/codec.h"
#include "recording/aviwriter.h"

namespace app {

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kBadUsage = 2;

// Set by Ctrl+C: the build stops after the frame under way, as Esc does in
// the builder panel, and the file keeps the frames written so far.
std::atomic<bool> g_interrupted{false};
extern "C" void onInterrupt(int) { g_interrupted = true; }

void say(std::FILE* to, const QString& text) {
  std::fputs(text.toLocal8Bit().constData(), to);
  std::fflush(to);
}

// "kestrel: FILE: message", the way command-line tools name what failed.
int fail(const QString& file, const QString& message, int status = kFailed) {
  say(stderr, file.isEmpty() ? QStringLiteral("kestrel: %1\n").arg(message)
                             : QStringLiteral("kestrel: %1: %2\n").arg(file, message));
  return status;
}

int usage(const QString& message) {
  say(stderr, QStringLiteral("kestrel: %1\nTry 'kestrel --help' for more information.\n").arg(message));
  return kBadUsage;
}

QString fourccText(vfw::FOURCC f) {
  QString s;
  for (int i = 0; i < 4; ++i) s += QChar(char((f >> (8 * i)) & 0xff));
  return s;
}

// A compressor by its FOURCC ("ULRG", "dib") or by its name, whole or its
// beginning ("Ut Video", "h.264"), case ignored.
const vfw::CompressorInfo* compressorNamed(const QString& wanted) {
  const QString w = wanted.trimmed();
  for (const auto& c : vfw::compressors())
    if (fourccText(c.fccHandler).trimmed().compare(w, Qt::CaseInsensitive) == 0) return &c;
  for (const auto& c : vfw::compressors())
    if (c.name.compare(w, Qt::CaseInsensitive) == 0) return &c;
  const vfw::CompressorInfo* found = nullptr;
  for (const auto& c : vfw::compressors()) {
    if (!c.name.startsWith(w, Qt::CaseInsensitive)) continue;
    if (found) return nullptr;  // more than one: the name must say which
    found = &c;
  }
  return found;
}

// A 32-bit input format of w x h, the screen's; what a recording gives.
std::vector<std::uint8_t> screenFormat(int w, int h) {
  gdi::BITMAPINFOHEADER bi{};
  bi.biSize = sizeof bi;
  bi.biWidth = w;
  bi.biHeight = h;
  bi.biPlanes = 1;
  bi.biBitCount = 32;
  bi.biCompression = gdi::BI_RGB;
  bi.biSizeImage = gdi::DWORD(gdi::rowBytes(w, 32) * h);
  std::vector<std::uint8_t> out(sizeof bi);
  std::memcpy(out.data(), &bi, sizeof bi);
  return out;
}

int listCompressors(const QString& size) {
  std::vector<std::uint8_t> format;
  if (!size.isEmpty()) {
    const QStringList wh = size.split(QLatin1Char('x'), Qt::KeepEmptyParts, Qt::CaseInsensitive);
    bool okW = false, okH = false;
    const int w = wh.size() == 2 ? wh[0].toInt(&okW) : 0;
    const int h = wh.size() == 2 ? wh[1].toInt(&okH) : 0;
    if (!okW || !okH || w < 1 || h < 1 || w > 16384 || h > 16384)
      return usage(QStringLiteral("--size takes WIDTHxHEIGHT, for example 1920x1080, each from 1 to 16384"));
    format = screenFormat(w, h);
  }
  const bool measured = !format.empty();
  say(stdout, measured ? QStringLiteral("FOURCC  LOSSLESS  FRAMES/S  NAME\n")
                       : QStringLiteral("FOURCC  LOSSLESS  NAME\n"));
  // The compressor dialog's own figures: conversion, compression and a file
  // write of synthetic frames of this size, for a fraction of a second.
  for (const auto& c : vfw::describeCompressors(format, measured)) {
    QString line = QStringLiteral("%1    %2").arg(fourccText(c.fccHandler), (c.lossless ? QStringLiteral("yes")
                                                                                      : QStringLiteral("no"))
                                                                                     .leftJustified(8));
    QString name = c.name;
    if (measured) {
      QString rate = QStringLiteral("-");
      if (c.usable && c.framesPerSecond >= 0)
        rate = c.framesPerSecond >= 1000 ? QStringLiteral(">1000") : QString::number(qRound(c.framesPerSecond));
      line += QStringLiteral("  %1").arg(rate, -8);
      if (!c.usable) name += QStringLiteral(" (%1)").arg(c.refusal);
    }
    say(stdout, line + QStringLiteral("  ") + name + QLatin1Char('\n'));
  }
  return kDone;
}

// Progress on a terminal: one line redrawn in place; elsewhere a plain
// line about once a second and one at the end.
class Progress {
 public:
  explicit Progress(int total) : total_(total), tty_(isatty(fileno(stderr)) != 0) { clock_.start(); }
  void frame(int done) {
    const qint64 ms = clock_.elapsed();
    const bool last = done == total_;
    if (!tty_ && !last && ms - lastPlain_ < 1000) return;
    lastPlain_ = ms;
    const double fps = ms > 0 ? done * 1000.0 / double(ms) : 0;
    const int left = fps > 0 ? int((total_ - done) / fps + 0.5) : 0;
    const QString figures = QStringLiteral("%1/%2 frames  %3 frames/s  %4:%5 left")
                                .arg(done)
                                .arg(total_)
                                .arg(fps, 0, 'f', 1)
                                .arg(left / 60)
                                .arg(left % 60, 2, 10, QLatin1Char('0'));
    if (!tty_) {
      say(stderr, QStringLiteral("kestrel: ") + figures + QLatin1Char('\n'));
      return;
    }
    constexpr int kWidth = 30;
    const int filled = total_ > 0 ? kWidth * done / total_ : kWidth;
    say(stderr, QStringLiteral("\r[%1%2] %3").arg(QString(filled, QLatin1Char('#')),
                                                 QString(kWidth - filled, QLatin1Char(' ')), figures));
    if (last) say(stderr, QStringLiteral("\n"));
  }
  void interrupted() {
    if (tty_) say(stderr, QStringLiteral("\n"));
  }

 private:
  int total_;
  bool tty_;
  QElapsedTimer clock_;
  qint64 lastPlain_ = -1000;
};

int buildAvi(const QString& out, const QStringList& files, const QString& rateText, const QString& compressor,
             const QString& quality) {
  if (files.isEmpty()) return usage(QStringLiteral("--build-avi needs at least one bitmap file"));
  // The panel's rules for the rate: a whole number of at least 1.
  bool isNumber = false;
  const int rate = framework::StrToIntDef(rateText, 0, &isNumber);
  if (!isNumber) return usage(QStringLiteral("'%1' is not a valid integer value").arg(rateText));
  if (rate <= 0) return usage(QStringLiteral("The frame rate must be a whole number of at least 1."));
  const vfw::CompressorInfo* c = compressorNamed(compressor);
  if (!c) return usage(QStringLiteral("no compressor is called '%1'; 'kestrel --list-compressors' lists them").arg(compressor));
  builder::BuildJob job;
  job.files = files;
  job.rate = rate;
  job.outputFile = out;
  job.compressor.cbSize = vfw::COMPVARS_CBSIZE;
  job.compressor.fccType = vfw::streamtypeVIDEO;
  job.compressor.fccHandler = c->fccHandler;
  job.compressor.lQ = vfw::ICQUALITY_DEFAULT;
  if (!quality.isEmpty()) {
    bool ok = false;
    const int q = quality.toInt(&ok);
    if (!ok || q < 0 || q > 100) return usage(QStringLiteral("--quality takes a whole number from 0 to 100"));
    job.compressor.lQ = q * 100;
  }

  // The first file decides the format every other file must have, and
  // whether the compressor can take it: both are said before a file is
  // created.
  std::vector<std::uint8_t> format;
  try {
    if (!recording::frameFormat(gdi::loadBmp(files[0]), format))
      return fail(files[0], QStringLiteral("ERROR: Unable to Initialize Image Data"));
  } catch (const std::exception& e) {
    return fail(files[0], QString::fromUtf8(e.what()));
  }
  if (const QString refusal = vfw::compressorRefusal(*c, format); !refusal.isEmpty())
    return fail(files[0], QStringLiteral("%1 cannot compress frames of this size or format: it %2").arg(c->name, refusal));

  Progress progress(int(files.size()));
  int loaded = -1;
  builder::AviBuilder b;
  b.onFrameLoaded = [&loaded](const gdi::Bitmap&, int index) { loaded = index; };
  b.onFrameWritten = [&progress](int written) {
    progress.frame(written);
    return g_interrupted.load();
  };
  struct sigaction sa{};
  sa.sa_handler = onInterrupt;
  sigemptyset(&sa.sa_mask);
  struct sigaction previous{};
  sigaction(SIGINT, &sa, &previous);
  builder::BuildResult r;
  try {
    r = b.build(job);
  } catch (const std::exception& e) {
    sigaction(SIGINT, &previous, nullptr);
    progress.interrupted();
    // The loader raised for the file after the last one shown.
    const int bad = std::min<int>(loaded + 1, int(files.size()) - 1);
    return fail(files[bad], QString::fromUtf8(e.what()));
  }
  sigaction(SIGINT, &previous, nullptr);

  switch (r.outcome) {
    case builder::BuildOutcome::Completed:
      say(stdout, QStringLiteral("%1: %2 frames at %3 frames/s, %4\n").arg(out).arg(r.framesWritten).arg(rate).arg(c->name));
      return kDone;
    case builder::BuildOutcome::Aborted:
      progress.interrupted();
      return fail(out, r.framesWritten == 1 ? QStringLiteral("AVI stopped: 1 frame written")
                                            : QStringLiteral("AVI stopped: %1 frames written").arg(r.framesWritten));
    case builder::BuildOutcome::NotOpened:
      return fail(files[0], QStringLiteral("ERROR: Unable to Initialize Image Data"));
    case builder::BuildOutcome::Failed:
      break;
  }
  progress.interrupted();
  if (!r.error.isEmpty()) {
    // The frame that did not fit is the one after those written.
    const int bad = std::min<int>(r.framesWritten, int(files.size()) - 1);
    return fail(files[bad], r.error + QStringLiteral(" (every file must have the size and format of the first)"));
  }
  return fail(out, r.framesWritten == 0
                       ? QStringLiteral("the file could not be created or written")
                       : QStringLiteral("writing failed after %1 frames; those frames are in the file").arg(r.framesWritten));
}

}  // namespace

std::optional<int> runCommandLine(int argc, char** argv) {
  static const char* const kOwn[] = {"-h", "--help", "-v", "--version", "--build-avi", "--list-compressors"};
  bool ours = false;
  for (int i = 1; i < argc && !ours; ++i)
    for (const char* o : kOwn)
      if (std::strcmp(argv[i], o) == 0 || std::strncmp(argv[i], "--build-avi=", 12) == 0) ours = true;
  if (!ours) return std::nullopt;

  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("kestrel"));
  QCoreApplication::setApplicationVersion(QStringLiteral(KESTREL_VERSION));
  QCommandLineParser p;
  p.setApplicationDescription(QStringLiteral(
      "Records a window or an area of the screen into an AVI file; without options it starts the desktop "
      "program.\nWith --build-avi it builds an AVI file from bitmap files, one key frame each, without windows."));
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and exit."));
  const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                   QStringLiteral("Show the version and exit."));
  const QCommandLineOption build(QStringLiteral("build-avi"),
                                 QStringLiteral("Build OUT.avi from the bitmap files given after the options."),
                                 QStringLiteral("OUT.avi"));
  const QCommandLineOption rate(QStringLiteral("rate"), QStringLiteral("Frames per second of the built file (1)."),
                                QStringLiteral("N"), QStringLiteral("1"));
  const QCommandLineOption compressor(
      QStringLiteral("compressor"),
      QStringLiteral("The compressor, by FOURCC or name (Full Frames); see --list-compressors."),
      QStringLiteral("FOURCC-or-name"), QStringLiteral("DIB"));
  const QCommandLineOption quality(QStringLiteral("quality"),
                                   QStringLiteral("Quality for the compressors that use one, 0 to 100."),
                                   QStringLiteral("0-100"));
  const QCommandLineOption list(QStringLiteral("list-compressors"),
                                QStringLiteral("List the compressors: FOURCC, lossless or not, name."));
  const QCommandLineOption size(QStringLiteral("size"),
                                QStringLiteral("With --list-compressors: also the frames per second each sustains "
                                               "at this size."),
                                QStringLiteral("WxH"));
  p.addOptions({help, version, build, rate, compressor, quality, list, size});
  p.addPositionalArgument(QStringLiteral("FILE.bmp"), QStringLiteral("With --build-avi: the bitmap files, in frame order."),
                          QStringLiteral("[FILE.bmp...]"));
  if (!p.parse(QCoreApplication::arguments())) return usage(p.errorText());
  if (p.isSet(help)) {
    say(stdout, p.helpText());
    say(stdout, QStringLiteral("\nExit status: 0 done, 1 failed, 2 bad usage.\n"));
    return kDone;
  }
  if (p.isSet(version)) {
    say(stdout, QStringLiteral("kestrel %1\n").arg(QCoreApplication::applicationVersion()));
    return kDone;
  }
  if (p.isSet(build) && p.isSet(list)) return usage(QStringLiteral("--build-avi and --list-compressors go alone"));
  if (p.isSet(list)) {
    if (!p.positionalArguments().isEmpty())
      return usage(QStringLiteral("--list-compressors takes no files"));
    return listCompressors(p.value(size));
  }
  if (p.isSet(size)) return usage(QStringLiteral("--size goes with --list-compressors"));
  if (p.value(build).isEmpty()) return usage(QStringLiteral("--build-avi needs the name of the file to write"));
  return buildAvi(p.value(build), p.positionalArguments(), p.value(rate), p.value(compressor), p.value(quality));
}

}  // namespace app
