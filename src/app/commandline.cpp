#include "app/commandline.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <vector>

#include "app/controlclient.h"
#include "builder/avibuilder.h"
#include "platform/gdi/bmpfile.h"
#include "platform/path.h"
#include "platform/vfw/codec.h"
#include "recording/aviwriter.h"
#include "recording/reports.h"

namespace app {

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kBadUsage = 2;

// The largest width or height any compressor takes.
constexpr int kMaxFrameSide = 16384;

// ---- Output ---------------------------------------------------------------

// Names are written as the bytes they are, whatever the terminal makes of
// them; a failed write to standard output is remembered for the exit status.
int g_stdoutErrno = 0;

void say(std::FILE* to, const QString& text) {
  const QByteArray bytes = platform::encodePath(text);
  const bool ok = std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), to) == std::size_t(bytes.size()) &&
                  std::fflush(to) == 0;
  if (!ok && to == stdout && g_stdoutErrno == 0) g_stdoutErrno = errno ? errno : EIO;
}

// "kestrel: FILE: message", the way command-line tools name what failed.
int fail(const QString& file, const QString& message, int status = kFailed) {
  say(stderr, file.isEmpty() ? QStringLiteral("kestrel: %1\n").arg(message)
                             : QStringLiteral("kestrel: %1: %2\n").arg(file, message));
  return status;
}

const char* const kUsage =
    "Usage: kestrel\n"
    "  or:  kestrel --build-avi OUT [--rate N] [--compressor FOURCC|NAME] [--quality Q] [--quiet] FILE...\n"
    "  or:  kestrel --list-compressors [--size WxH] [--quiet]\n"
    "  or:  kestrel --record FILE (--area X,Y,W,H | --window) --rate N\n"
    "               --compressor FOURCC|NAME [--quality Q] [--seconds S] [--no-remote] [--pointer] [--quiet]\n"
    "  or:  kestrel --pause | --resume | --stop | --cancel | --status\n"
    "  or:  kestrel --help | --version\n";

int usage(const QString& message) {
  say(stderr, QStringLiteral("kestrel: %1\n").arg(message) + QString::fromUtf8(kUsage) +
                  QStringLiteral("Try 'kestrel --help' for more information.\n"));
  return kBadUsage;
}

// Why a call failed, from its errno, in the words the desktop program uses
// where it says the same.
QString because(int error) {
  switch (error) {
    case ENOENT: return QStringLiteral("there is no such file");
    case ENOTDIR: return QStringLiteral("a part of its path is not a folder");
    case EACCES:
    case EPERM: return QStringLiteral("permission denied");
    case EISDIR: return QStringLiteral("it is a folder");
    case ENOSPC:
    case EDQUOT: return QStringLiteral("the disk is full");
    case EFBIG: return QStringLiteral("the file reached the largest size this system allows");
    case EROFS: return QStringLiteral("the file system is read-only");
    default: return QString::fromLocal8Bit(std::strerror(error ? error : EIO));
  }
}

QString framesText(int frames, int rate) {
  return QStringLiteral("%1 (%2 s)")
      .arg(frames == 1 ? QStringLiteral("1 frame") : QStringLiteral("%1 frames").arg(frames))
      .arg(double(frames) / std::max(1, rate), 0, 'f', 1);
}

// ---- The options ----------------------------------------------------------

// The commands; an option that is no command modifies one or more of them.
enum Command : unsigned {
  kNoCommand = 0,
  kHelp = 1,
  kVersion = 2,
  kBuildAvi = 4,
  kListCompressors = 8,
  kRecord = 16,
  kPause = 32,
  kResume = 64,
  kStop = 128,
  kCancel = 256,
  kStatus = 512,
};

struct Option {
  const char* name;       // after "--"
  char letter;            // after "-", 0 for none
  const char* valueName;  // nullptr for an option without a value
  Command command;        // what it asks for, kNoCommand for a modifier
  unsigned goesWith;      // the commands a modifier belongs to
  const char* help;
};

// Every option there is; --help lists them in this order. A new option is
// one more row, and its command one more case in runCommandLine.
const Option kOptions[] = {
    {"build-avi", 0, "OUT", kBuildAvi, 0,
     "Build the AVI file OUT from the bitmap files given, one key frame each, in the order given, "
     "without a window or a display."},
    {"record", 0, "FILE", kRecord, 0,
     "Record the --area or the --window into the AVI file FILE without the dialogs, with the remote control "
     "below it, until --seconds, Ctrl+C, 'kestrel --stop' or the remote control's Stop."},
    {"area", 0, "X,Y,W,H", kNoCommand, kRecord,
     "The rectangle recorded: its left and top edges and its width and height, in screen pixels."},
    {"window", 0, nullptr, kNoCommand, kRecord,
     "Record the window in front (with its frame), following it as it moves."},
    {"rate", 0, "N", kNoCommand, kBuildAvi | kRecord,
     "Frames per second, 1 to 1000 (--build-avi: 1; --record needs it)."},
    {"compressor", 0, "FOURCC|NAME", kNoCommand, kBuildAvi | kRecord,
     "The compressor, by its FOURCC or its name, whole or its beginning (--build-avi: Full Frames; --record "
     "needs it); see --list-compressors."},
    {"quality", 0, "Q", kNoCommand, kBuildAvi | kRecord, "Quality for the compressors that use one, 0 to 100."},
    {"seconds", 0, "S", kNoCommand, kRecord, "Stop once the file holds S seconds (pauses not counted)."},
    {"no-remote", 0, nullptr, kNoCommand, kRecord, "Do not show the remote control."},
    {"pointer", 0, nullptr, kNoCommand, kRecord, "Draw the mouse pointer into the frames where it lies over them."},
    {"list-compressors", 0, nullptr, kListCompressors, 0, "List the compressors: FOURCC, lossless or not, name."},
    {"size", 0, "WxH", kNoCommand, kListCompressors,
     "Also the frames per second each compressor sustains at this size (1 to 16384 a side)."},
    {"quiet", 'q', nullptr, kNoCommand, kBuildAvi | kListCompressors | kRecord, "No progress lines and no summary."},
    {"pause", 0, nullptr, kPause, 0, "Pause the running Kestrel's recording, as its Pause button does."},
    {"resume", 0, nullptr, kResume, 0, "Resume the running Kestrel's paused recording."},
    {"stop", 0, nullptr, kStop, 0, "Stop the running Kestrel's recording; returns once its file is complete."},
    {"cancel", 0, nullptr, kCancel, 0, "Cancel the running Kestrel's recording (what was written stays)."},
    {"status", 0, nullptr, kStatus, 0,
     "Print the running Kestrel's state and its recording's file and figures; exit status 1 when no Kestrel "
     "is running."},
    {"help", 'h', nullptr, kHelp, 0, "Show this help and exit."},
    {"version", 'v', nullptr, kVersion, 0, "Show the version and exit."},
};

struct Parsed {
  unsigned commands = 0;
  std::map<QString, QString> values;  // by option name; "" for one without a value
  QStringList operands;
  bool has(const char* name) const { return values.count(QString::fromLatin1(name)) != 0; }
  QString value(const char* name, const QString& otherwise = {}) const {
    const auto it = values.find(QString::fromLatin1(name));
    return it == values.end() ? otherwise : it->second;
  }
};

const Option* optionNamed(const QString& name) {
  for (const Option& o : kOptions)
    if (name == QLatin1String(o.name)) return &o;
  return nullptr;
}

QString dashed(const Option& o) { return QStringLiteral("--") + QLatin1String(o.name); }

QString commandNames(unsigned commands, const QString& joiner = QStringLiteral(" or ")) {
  QStringList names;
  for (const Option& o : kOptions)
    if (o.command & commands) names << dashed(o);
  return names.join(joiner);
}

// "unknown option '--hel'", with the one it may be short for.
QString unknown(const QString& word) {
  QString text = QStringLiteral("unknown option '%1'").arg(word);
  if (word.startsWith(QLatin1String("--"))) {
    const QString name = word.mid(2).section(QLatin1Char('='), 0, 0);
    QStringList near;
    for (const Option& o : kOptions)
      if (!name.isEmpty() && QLatin1String(o.name).startsWith(name)) near << dashed(o);
    if (near.size() == 1) text += QStringLiteral("; did you mean '%1'?").arg(near[0]);
  } else if (word.contains(QLatin1Char('.')) || word.contains(QLatin1Char('/'))) {
    text += QStringLiteral("; a file whose name begins with '-' goes after '--'");
  }
  return text;
}

// GNU rules: "--name value" or "--name=value", single-letter options alone
// or together ("-qh"), "--" ends the options, and options and files may
// come in any order. Returns the problem, or an empty string.
QString parse(const QStringList& args, Parsed& p) {
  const auto take = [&p](const Option& o, const QString& value) -> QString {
    const QString name = QLatin1String(o.name);
    if (p.values.count(name)) return QStringLiteral("%1 is given twice").arg(dashed(o));
    p.values[name] = value;
    p.commands |= o.command;
    return {};
  };
  bool options = true;
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (!options || a == QLatin1String("-") || !a.startsWith(QLatin1Char('-'))) {
      p.operands << a;
      continue;
    }
    if (a == QLatin1String("--")) {
      options = false;
      continue;
    }
    if (a.startsWith(QLatin1String("--"))) {
      const qsizetype eq = a.indexOf(QLatin1Char('='));
      const Option* o = optionNamed(a.mid(2, eq < 0 ? -1 : eq - 2));
      if (!o) return unknown(a);
      QString value;
      if (!o->valueName) {
        if (eq >= 0) return QStringLiteral("%1 takes no value").arg(dashed(*o));
      } else if (eq >= 0) {
        value = a.mid(eq + 1);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        return QStringLiteral("%1 needs a value: %1 %2").arg(dashed(*o), QLatin1String(o->valueName));
      }
      if (o->valueName && value.isEmpty()) return QStringLiteral("%1 needs a value that is not empty").arg(dashed(*o));
      if (const QString problem = take(*o, value); !problem.isEmpty()) return problem;
      continue;
    }
    // Single letters: every one must be an option, or the word is refused
    // whole (a file called "-dash.bmp" is not six options).
    std::vector<const Option*> letters;
    for (qsizetype k = 1; k < a.size(); ++k) {
      const Option* found = nullptr;
      for (const Option& o : kOptions)
        if (o.letter && QChar(QLatin1Char(o.letter)) == a[k]) found = &o;
      if (!found) return unknown(a);
      letters.push_back(found);
    }
    for (const Option* o : letters)
      if (const QString problem = take(*o, {}); !problem.isEmpty()) return problem;
  }
  return {};
}

QString helpText() {
  QString t = QString::fromUtf8(kUsage);
  t += QStringLiteral(
      "Records a window or an area of the screen into an AVI file. Without any argument\n"
      "Kestrel starts the desktop program. --record records through the desktop\n"
      "program's own windows; --pause, --resume, --stop, --cancel and --status ask the\n"
      "Kestrel that runs, over the session bus; the others answer without a window or\n"
      "a display.\n\nOptions:\n");
  for (const Option& o : kOptions) {
    QString left = o.letter ? QStringLiteral("  -%1, ").arg(QLatin1Char(o.letter)) : QStringLiteral("      ");
    left += dashed(o);
    if (o.valueName) left += QLatin1Char(' ') + QLatin1String(o.valueName);
    if (left.size() < 30) left = left.leftJustified(30);
    else left += QStringLiteral("\n") + QString(30, QLatin1Char(' '));
    // Wrapped to the width of a terminal.
    QStringList lines;
    QString line;
    for (const QString& word : QString::fromUtf8(o.help).split(QLatin1Char(' '))) {
      if (!line.isEmpty() && line.size() + 1 + word.size() > 48) {
        lines << line;
        line.clear();
      }
      line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    lines << line;
    t += left + lines.join(QStringLiteral("\n") + QString(30, QLatin1Char(' '))) + QLatin1Char('\n');
  }
  t += QStringLiteral(
      "\nEvery file of --build-avi must have the size and format of the first; all are\n"
      "checked before anything is written. The frames go to OUT.unfinished, which\n"
      "becomes OUT when the build ends, also when Ctrl+C stops it or a write fails\n"
      "(the frames written so far are kept). --record writes FILE.unfinished the\n"
      "same way.\n"
      "\nExit status: 0 done, 1 failed (or no Kestrel is running), 2 bad usage, 130\n"
      "stopped by Ctrl+C.\n"
      "\nReport problems to <%1>.\n")
           .arg(QStringLiteral(KESTREL_REPORT_ADDRESS));
  return t;
}

// ---- Values ---------------------------------------------------------------

// A whole number written in decimal digits only, from lo to hi.
bool decimal(const QString& text, int lo, int hi, int& out) {
  static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
  if (!digits.match(text).hasMatch()) return false;
  const int v = text.toInt();
  if (v < lo || v > hi) return false;
  out = v;
  return true;
}

QString fourccText(vfw::FOURCC f) {
  QString s;
  for (int i = 0; i < 4; ++i) s += QChar(char((f >> (8 * i)) & 0xff));
  return s;
}

// A compressor by its FOURCC ("ULRG", "dib") or by its name, whole or its
// beginning ("Ut Video", "h.264"), case ignored. A beginning that fits
// several gives them all in `matches`.
const vfw::CompressorInfo* compressorNamed(const QString& wanted, QStringList& matches) {
  const QString w = wanted.trimmed();
  for (const auto& c : vfw::compressors())
    if (fourccText(c.fccHandler).trimmed().compare(w, Qt::CaseInsensitive) == 0) return &c;
  for (const auto& c : vfw::compressors())
    if (c.name.compare(w, Qt::CaseInsensitive) == 0) return &c;
  const vfw::CompressorInfo* found = nullptr;
  for (const auto& c : vfw::compressors()) {
    if (w.isEmpty() || !c.name.startsWith(w, Qt::CaseInsensitive)) continue;
    matches << c.name;
    found = &c;
  }
  return matches.size() == 1 ? found : nullptr;
}

// The frame rate, the quality and the compressor of --build-avi and --record.
struct Encoding {
  int rate = 1;
  int quality = -1;
  const vfw::CompressorInfo* compressor = nullptr;
};

int readEncoding(const Parsed& p, Encoding& e) {
  // The frame rates the program allows everywhere, in decimal digits only:
  // "0x10" or "1e3" in a script is a mistake, not a rate.
  if (p.has("rate") && !decimal(p.value("rate"), recording::kMinFrameRate, recording::kMaxFrameRate, e.rate))
    return usage(QStringLiteral("--rate takes a whole number of frames per second from %1 to %2, not '%3'")
                     .arg(recording::kMinFrameRate)
                     .arg(recording::kMaxFrameRate)
                     .arg(p.value("rate")));
  if (p.has("quality") && !decimal(p.value("quality"), 0, 100, e.quality))
    return usage(QStringLiteral("--quality takes a whole number from 0 to 100, not '%1'").arg(p.value("quality")));
  QStringList matches;
  const QString wanted = p.value("compressor", QStringLiteral("DIB"));
  e.compressor = compressorNamed(wanted, matches);
  if (!e.compressor && matches.size() > 1)
    return usage(QStringLiteral("--compressor '%1' could be %2 or %3; say which")
                     .arg(wanted, matches.mid(0, matches.size() - 1).join(QStringLiteral(", ")), matches.last()));
  if (!e.compressor)
    return usage(QStringLiteral("--compressor: no compressor is called '%1'; 'kestrel --list-compressors' lists them")
                     .arg(wanted));
  return kDone;
}

// ---- --list-compressors ---------------------------------------------------

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

// Standard error, while libavcodec's own lines (and x264's, which bypass
// its log) go nowhere: a measurement's trial encoders are ours to judge.
class QuietLibraries {
 public:
  QuietLibraries() : saved_(::dup(STDERR_FILENO)) {
    std::fflush(stderr);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) ::dup2(null, STDERR_FILENO);
    if (null >= 0) ::close(null);
    if (saved_ >= 0) own_ = ::fdopen(::dup(saved_), "w");
  }
  ~QuietLibraries() {
    if (own_) std::fclose(own_);
    if (saved_ >= 0) {
      ::dup2(saved_, STDERR_FILENO);
      ::close(saved_);
    }
  }
  QuietLibraries(const QuietLibraries&) = delete;
  QuietLibraries& operator=(const QuietLibraries&) = delete;
  std::FILE* err() const { return own_ ? own_ : stderr; }

 private:
  int saved_;
  std::FILE* own_ = nullptr;
};

// Measurements are made on at most this many pixels, so that each takes a
// fraction of a second to a few seconds whatever the size: larger sizes
// are measured on a frame of the same shape and scaled by the pixels, which
// is how the compressors' work grows.
constexpr qint64 kMeasuredPixels = 1920 * 1080;

int listCompressors(const Parsed& p) {
  const bool quiet = p.has("quiet");
  std::vector<std::uint8_t> format, trial;
  int w = 0, h = 0, tw = 0, th = 0;
  if (p.has("size")) {
    static const QRegularExpression size(QStringLiteral("^([0-9]{1,9})[xX]([0-9]{1,9})$"));
    const auto m = size.match(p.value("size"));
    if (!m.hasMatch())
      return usage(QStringLiteral("--size takes WIDTHxHEIGHT in pixels, for example 1920x1080, not '%1'")
                       .arg(p.value("size")));
    w = m.captured(1).toInt();
    h = m.captured(2).toInt();
    if (w < 1 || h < 1 || w > kMaxFrameSide || h > kMaxFrameSide)
      return usage(QStringLiteral("--size %1: no compressor takes frames of that size; each side is 1 to %2 pixels")
                       .arg(p.value("size"))
                       .arg(kMaxFrameSide));
    format = screenFormat(w, h);
    const double scale = std::min(1.0, std::sqrt(double(kMeasuredPixels) / (double(w) * double(h))));
    // Multiples of 4 keep every size rule the full size meets.
    const auto shrink = [scale](int side) {
      return scale >= 1.0 ? side : std::max(4, int(side * scale) / 4 * 4);
    };
    tw = shrink(w);
    th = shrink(h);
    trial = screenFormat(tw, th);
  }
  const bool measured = !format.empty();
  const bool estimated = measured && format != trial;
  std::vector<vfw::CompressorDescription> rows;
  {
    QuietLibraries quietly;
    const bool tty = isatty(::fileno(quietly.err())) != 0;
    const auto& all = vfw::compressors();
    for (std::size_t i = 0; i < all.size(); ++i) {
      const vfw::CompressorInfo& c = all[i];
      vfw::CompressorDescription d;
      d.fccHandler = c.fccHandler;
      d.name = c.name;
      d.lossless = c.lossless;
      if (measured) {
        if (!quiet) {
          std::fprintf(quietly.err(), "%skestrel: measuring %s at %dx%d (%zu of %zu)%s", tty ? "\r\033[K" : "",
                       c.name.toUtf8().constData(), w, h, i + 1, all.size(), tty ? "" : "\n");
          std::fflush(quietly.err());
        }
        d.refusal = vfw::compressorRefusal(c, format);
        d.usable = d.refusal.isEmpty();
        if (d.usable) {
          const double fps = vfw::measureFrameRate(c.fccHandler, trial);
          d.framesPerSecond = fps < 0 ? fps : fps * (double(tw) * th) / (double(w) * h);
        }
      } else {
        d.usable = true;
      }
      rows.push_back(std::move(d));
    }
    if (measured && !quiet && tty) std::fprintf(quietly.err(), "\r\033[K");
  }
  if (measured && std::none_of(rows.begin(), rows.end(), [](const auto& d) { return d.usable; }))
    return fail({}, QStringLiteral("no compressor takes %1x%2 frames").arg(w).arg(h));

  say(stdout, measured ? QStringLiteral("FOURCC  LOSSLESS  FRAMES/S  NAME\n")
                       : QStringLiteral("FOURCC  LOSSLESS  NAME\n"));
  for (const auto& c : rows) {
    QString line = QStringLiteral("%1    %2").arg(fourccText(c.fccHandler),
                                               (c.lossless ? QStringLiteral("yes") : QStringLiteral("no")).leftJustified(8));
    QString name = c.name;
    if (measured) {
      QString rate = QStringLiteral("-");
      const double fps = c.framesPerSecond;
      if (c.usable && fps >= 0)
        rate = fps >= 1000 ? QStringLiteral(">1000")
               : fps >= 10 ? QString::number(qRound(fps))
               : fps >= 1  ? QString::number(fps, 'f', 1)
               : fps >= 0.01 ? QString::number(fps, 'f', 2)
                             : QStringLiteral("<0.01");
      if (estimated && rate != QLatin1String("-")) rate.prepend(QLatin1Char('~'));
      line += QStringLiteral("  %1").arg(rate, -8);
      if (!c.usable) name += QStringLiteral(" (%1)").arg(c.refusal);
    }
    say(stdout, line + QStringLiteral("  ") + name + QLatin1Char('\n'));
  }
  if (estimated && !quiet)
    say(stdout, QStringLiteral("~ measured at %1x%2 and scaled to %3x%4 by the number of pixels\n")
                    .arg(tw)
                    .arg(th)
                    .arg(w)
                    .arg(h));
  return kDone;
}

// ---- --build-avi ----------------------------------------------------------

// Set by Ctrl+C (or a TERM signal): the build stops after the frame under
// way, as Esc does in the builder panel, and the file keeps the frames
// written so far. A second Ctrl+C ends the program at once, leaving the
// unfinished file as it is.
std::atomic<int> g_signal{0};
extern "C" void onSignal(int sig) { g_signal = sig; }

// Progress on a terminal: one line redrawn in place; elsewhere a plain
// line about once a second and one at the end.
class Progress {
 public:
  Progress(int total, bool quiet) : total_(total), tty_(isatty(fileno(stderr)) != 0), quiet_(quiet) {
    clock_.start();
  }
  void frame(int done) {
    if (quiet_) return;
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
    shown_ = !last;
  }
  // Ends a bar left half drawn, before a message.
  void end() {
    if (tty_ && shown_) say(stderr, QStringLiteral("\n"));
    shown_ = false;
  }

 private:
  int total_;
  bool tty_;
  bool quiet_;
  bool shown_ = false;
  QElapsedTimer clock_;
  qint64 lastPlain_ = -1000;
};

// Why OUT cannot be written, in the words the desktop program uses when a
// recording cannot start; empty when nothing is known against it.
QString whyCannotCreate(const QString& out) {
  const QByteArray path = platform::encodePath(out);
  const qsizetype slash = path.lastIndexOf('/');
  const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
  const QString folderName = platform::decodePath(folder);
  struct stat st {};
  if (::stat(folder.constData(), &st) != 0)
    return errno == ENOENT ? QStringLiteral("the folder %1 does not exist").arg(folderName)
                           : QStringLiteral("%1: %2").arg(folderName, because(errno));
  if (!S_ISDIR(st.st_mode)) return QStringLiteral("%1 is not a folder").arg(folderName);
  if (::stat(path.constData(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return QStringLiteral("%1 is a folder").arg(out);
    if (!S_ISREG(st.st_mode)) return QStringLiteral("%1 is not an ordinary file").arg(out);
  }
  // The frames go to a new file beside it first, so the folder must let us.
  if (::access(folder.constData(), W_OK | X_OK) != 0)
    return errno == EROFS ? QStringLiteral("the file system of %1 is read-only").arg(folderName)
                          : QStringLiteral("permission to write %1 is denied").arg(folderName);
  return {};
}

// What a file is when it is no bitmap at all.
QString notAFile(mode_t mode) {
  if (S_ISDIR(mode)) return QStringLiteral("it is a folder, not a bitmap file");
  if (S_ISFIFO(mode)) return QStringLiteral("it is a named pipe, not a bitmap file");
  if (S_ISCHR(mode) || S_ISBLK(mode)) return QStringLiteral("it is a device, not a bitmap file");
  if (!S_ISREG(mode)) return QStringLiteral("it is not an ordinary file");
  return {};
}

struct Frame {
  gdi::BmpInfo info;
  std::vector<std::uint8_t> format;  // the first file's packed frame header, for the compressor
};

QString describe(const Frame& f) {
  return QStringLiteral("%1x%2 pixels at %3 bits").arg(f.info.width).arg(f.info.height).arg(f.info.bitsPerPixel);
}

// Whether the writer takes a frame of `b` after one of `a`: the same
// header (but for the colour-table length, which it writes in full), the
// same colour table and masks.
bool sameFormat(const gdi::BmpInfo& a, const gdi::BmpInfo& b) {
  auto header = [](std::vector<std::uint8_t> h) {
    if (h.size() >= 36) std::fill(h.begin() + 32, h.begin() + 36, 0);  // biClrUsed
    return h;
  };
  const auto rgb = [](const gdi::RGBQUAD& q) { return q.rgbRed << 16 | q.rgbGreen << 8 | q.rgbBlue; };
  return header(a.header) == header(b.header) && a.masks == b.masks && a.palette.size() == b.palette.size() &&
         std::equal(a.palette.begin(), a.palette.end(), b.palette.begin(),
                    [&rgb](const auto& x, const auto& y) { return rgb(x) == rgb(y); });
}

// Reads one listed file as the build will (the first whole, for the
// compressor; the others only as far as their headers); the problem, or an
// empty string.
QString checkInput(const QString& file, bool whole, Frame& frame) {
  const QByteArray path = platform::encodePath(file);
  struct stat st {};
  if (::stat(path.constData(), &st) != 0) return because(errno);
  if (const QString what = notAFile(st.st_mode); !what.isEmpty()) return what;
  if (::access(path.constData(), R_OK) != 0) return because(errno);
  try {
    frame.info = gdi::probeBmp(file);
    if (whole) {
      const gdi::Bitmap b = gdi::loadBmp(file);
      if (!recording::frameFormat(b, frame.format)) return QStringLiteral("ERROR: Unable to Initialize Image Data");
    }
  } catch (const gdi::InvalidBitmap& e) {
    return QStringLiteral("%1 (%2)").arg(e.message(), QString::fromStdString(e.reason()));
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  }
  return {};
}

// What no compressor takes at all, said of the first file.
QString noCompressorTakes(const gdi::BmpInfo& f) {
  if (f.bitsPerPixel != 8 && f.bitsPerPixel != 16 && f.bitsPerPixel != 24 && f.bitsPerPixel != 32)
    return QStringLiteral("it has %1-bit pixels, which no compressor takes (they take 8, 16, 24 and 32-bit ones)")
        .arg(f.bitsPerPixel);
  if (f.width > kMaxFrameSide || f.height > kMaxFrameSide)
    return QStringLiteral("it is %1x%2 pixels; no compressor takes frames wider or higher than %3 pixels")
        .arg(f.width)
        .arg(f.height)
        .arg(kMaxFrameSide);
  return {};
}

int buildAvi(const Parsed& p) {
  const QString out = p.value("build-avi");
  const QStringList& files = p.operands;
  if (files.isEmpty()) return usage(QStringLiteral("--build-avi %1 needs the bitmap files to build from").arg(out));
  Encoding encoding;
  if (const int status = readEncoding(p, encoding); status != kDone) return status;
  const int rate = encoding.rate, quality = encoding.quality;
  const vfw::CompressorInfo* c = encoding.compressor;

  // Nothing is written before every file is known to be fine: the output
  // may not be one of the inputs, and every input must be a bitmap of the
  // first one's size and format. Every problem is told, each with its file.
  if (const QString input = builder::inputThatIsOutput(out, files); !input.isEmpty())
    return fail({}, builder::outputIsInputText(out, input));
  bool problems = false, inputProblems = false;
  if (const QString why = whyCannotCreate(out); !why.isEmpty()) {
    fail(out, QStringLiteral("cannot be created: %1").arg(why));
    problems = true;
  }
  Frame first;
  std::map<QString, QString> seen;  // a file listed again has its first answer
  for (qsizetype i = 0; i < files.size(); ++i) {
    const QString& f = files[i];
    Frame frame;
    QString problem;
    if (const auto it = seen.find(f); it != seen.end()) {
      if (!it->second.isEmpty()) continue;  // told already
    } else {
      problem = checkInput(f, i == 0, frame);
      seen[f] = problem;
      if (i == 0 && problem.isEmpty()) {
        first = frame;
        problem = noCompressorTakes(first.info);
        if (problem.isEmpty()) {
          if (const QString refusal = vfw::compressorRefusal(*c, first.format); !refusal.isEmpty())
            problem = QStringLiteral("%1 cannot compress frames of this size or format: it %2").arg(c->name, refusal);
        }
      } else if (problem.isEmpty() && !first.format.empty() && !sameFormat(frame.info, first.info)) {
        const gdi::BmpInfo &a = first.info, &b = frame.info;
        problem = a.width == b.width && a.height == b.height && a.bitsPerPixel == b.bitsPerPixel
                      ? QStringLiteral("ERROR: Image Format: its colour table or header differs from that of the "
                                       "first file, %1")
                            .arg(files[0])
                      : QStringLiteral("ERROR: Image Format: %1, where the first file, %2, has %3")
                            .arg(describe(frame), files[0], describe(first));
      }
    }
    if (!problem.isEmpty()) {
      fail(f, problem);
      problems = inputProblems = true;
    }
  }
  if (problems) {
    say(stderr, inputProblems ? QStringLiteral("kestrel: nothing was written; every file must be a bitmap of the "
                                               "size and format of the first\n")
                              : QStringLiteral("kestrel: nothing was written\n"));
    return kFailed;
  }

  builder::BuildJob job;
  job.files = files;
  job.rate = rate;
  job.outputFile = out;
  job.compressor.cbSize = vfw::COMPVARS_CBSIZE;
  job.compressor.fccType = vfw::streamtypeVIDEO;
  job.compressor.fccHandler = c->fccHandler;
  job.compressor.lQ = quality < 0 ? vfw::ICQUALITY_DEFAULT : quality * 100;

  Progress progress(int(files.size()), p.has("quiet"));
  int loaded = -1;
  builder::AviBuilder b;
  b.onFrameLoaded = [&loaded](const gdi::Bitmap&, int index) { loaded = index; };
  b.onFrameWritten = [&progress](int written) {
    progress.frame(written);
    return g_signal.load() != 0;
  };
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sa.sa_flags = SA_RESETHAND;
  sigemptyset(&sa.sa_mask);
  struct sigaction previousInt {}, previousTerm {};
  sigaction(SIGINT, &sa, &previousInt);
  sigaction(SIGTERM, &sa, &previousTerm);
  const auto restore = [&] {
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
  };
  builder::BuildResult r;
  try {
    r = b.build(job);
  } catch (const std::exception& e) {
    restore();
    progress.end();
    // The loader raised for the file after the last one shown: it changed
    // since it was checked.
    const int bad = std::min<int>(loaded + 1, int(files.size()) - 1);
    fail(files[bad], QString::fromUtf8(e.what()));
    if (bad > 0) fail(out, QStringLiteral("stopped; it keeps the frames before that file"));
    return kFailed;
  }
  restore();
  progress.end();

  // The frames are in place under OUT, unless the unfinished file could
  // not be moved there.
  const bool moved = r.keptIn.isEmpty() || r.keptIn == out;
  const QString holds = moved ? QStringLiteral("it holds %1").arg(framesText(r.framesWritten, rate))
                              : QStringLiteral("%1 holds %2, but it could not be renamed to %3 (%4)")
                                    .arg(r.keptIn, framesText(r.framesWritten, rate), out, because(r.errorNumber));
  switch (r.outcome) {
    case builder::BuildOutcome::Completed:
      if (!moved) return fail(out, QStringLiteral("the build ended, but ") + holds);
      if (!p.has("quiet"))
        say(stdout, QStringLiteral("%1: %2 at %3 frames/s, %4\n")
                        .arg(out, r.framesWritten == 1 ? QStringLiteral("1 frame")
                                                       : QStringLiteral("%1 frames").arg(r.framesWritten))
                        .arg(rate)
                        .arg(c->name));
      return kDone;
    case builder::BuildOutcome::Aborted: {
      const int sig = g_signal.load();
      fail(out, QStringLiteral("stopped by %1; %2")
                    .arg(sig == SIGINT ? QStringLiteral("Ctrl+C") : QStringLiteral("a signal to end"), holds));
      return 128 + (sig ? sig : SIGINT);
    }
    case builder::BuildOutcome::NotOpened:
      return fail(files[0], QStringLiteral("ERROR: Unable to Initialize Image Data"));
    case builder::BuildOutcome::Failed:
      break;
  }
  if (r.framesWritten == 0 && r.error.isEmpty())
    return fail(out, QStringLiteral("cannot be created: %1; nothing was written").arg(because(r.errorNumber)));
  if (!r.error.isEmpty()) {
    // The frame that did not fit is the one after those written: the file
    // changed since it was checked.
    const int bad = std::min<int>(r.framesWritten, int(files.size()) - 1);
    fail(files[bad], r.error + QStringLiteral(" (every file must have the size and format of the first)"));
    if (r.framesWritten > 0) fail(out, QStringLiteral("stopped; ") + holds);
  } else {
    fail(out, QStringLiteral("stopped: %1; %2").arg(because(r.errorNumber), holds));
  }
  return kFailed;
}

// ---- --record -------------------------------------------------------------

// Everything is checked before the program starts: a bad argument is told
// (exit status 2) and no file is touched.
int recordArgs(const Parsed& p, RecordRequest& r) {
  r.file = p.value("record");
  if (!p.operands.isEmpty())
    return usage(QStringLiteral("--record takes one file, FILE after it, not '%1' too").arg(p.operands[0]));
  if (p.has("area") && p.has("window")) return usage(QStringLiteral("--area and --window cannot be given together"));
  if (!p.has("area") && !p.has("window"))
    return usage(QStringLiteral("--record needs what to record: --area X,Y,W,H or --window"));
  if (!p.has("rate")) return usage(QStringLiteral("--record needs --rate N, the frames per second (1 to 1000)"));
  if (!p.has("compressor"))
    return usage(QStringLiteral("--record needs --compressor FOURCC|NAME; 'kestrel --list-compressors' lists them"));
  Encoding e;
  if (const int status = readEncoding(p, e); status != kDone) return status;
  r.rate = e.rate;
  r.quality = e.quality;
  r.compressor = e.compressor;
  if (p.has("area")) {
    static const QRegularExpression area(
        QStringLiteral("^(-?[0-9]{1,9}),(-?[0-9]{1,9}),([0-9]{1,9}),([0-9]{1,9})$"));
    const auto m = area.match(p.value("area"));
    if (!m.hasMatch())
      return usage(QStringLiteral("--area takes X,Y,W,H in pixels (left, top, width, height), for example "
                                  "0,0,640,480, not '%1'")
                       .arg(p.value("area")));
    const int x = m.captured(1).toInt(), y = m.captured(2).toInt();
    const int w = m.captured(3).toInt(), h = m.captured(4).toInt();
    if (w < 1 || h < 1 || w > kMaxFrameSide || h > kMaxFrameSide)
      return usage(QStringLiteral("--area %1: each side is 1 to %2 pixels").arg(p.value("area")).arg(kMaxFrameSide));
    constexpr int kFar = 1 << 20;  // no screen lies further out
    if (x < -kFar || y < -kFar || x > kFar || y > kFar)
      return usage(QStringLiteral("--area %1: the rectangle lies off any screen").arg(p.value("area")));
    r.area = wnd::RECT{x, y, x + w, y + h};
    if (const QString refusal = vfw::compressorRefusal(*r.compressor, screenFormat(w, h)); !refusal.isEmpty())
      return usage(QStringLiteral("%1 cannot compress frames of %2x%3: it %4").arg(r.compressor->name).arg(w).arg(h)
                       .arg(refusal));
  }
  if (p.has("seconds") && !decimal(p.value("seconds"), 1, 100'000'000, r.seconds))
    return usage(QStringLiteral("--seconds takes a whole number of seconds from 1 on, not '%1'").arg(p.value("seconds")));
  r.remote = !p.has("no-remote");
  r.pointer = p.has("pointer");
  r.quiet = p.has("quiet");
  if (const QString why = whyCannotCreate(r.file); !why.isEmpty())
    return fail(r.file, QStringLiteral("cannot be created: %1").arg(why));
  return kDone;
}

// ---- --pause, --resume, --stop, --cancel, --status --------------------------

int control(ControlCommand command) {
  const ControlAnswer a = sendControlCommand(command);
  if (!a.done) return fail({}, a.text);
  say(stdout, a.text);
  return kDone;
}

}  // namespace

std::optional<int> runCommandLine(int argc, char** argv, std::optional<RecordRequest>& record) {
  // Only no argument at all starts the desktop program: a mistyped option
  // or files without --build-avi are told, not ignored.
  if (argc <= 1) return std::nullopt;
  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("kestrel"));
  QCoreApplication::setApplicationVersion(QStringLiteral(KESTREL_VERSION));
  // The arguments as the bytes they are (Qt's own list would turn a name
  // that is not UTF-8 into another name).
  QStringList args;
  for (int i = 1; i < argc; ++i) args << platform::decodePath(QByteArray(argv[i]));

  Parsed p;
  int status = kDone;
  if (const QString problem = parse(args, p); !problem.isEmpty()) {
    status = usage(problem);
  } else if (p.commands & kHelp) {
    say(stdout, helpText());
  } else if (p.commands & kVersion) {
    say(stdout, QStringLiteral("kestrel %1\n").arg(QCoreApplication::applicationVersion()));
  } else if (p.commands == kNoCommand) {
    status = p.values.empty() && p.operands.isEmpty()
                 ? usage(QStringLiteral("no command given"))
             : p.values.empty()
                 ? usage(QStringLiteral("'%1' is not an option; to build an AVI file from bitmap files: kestrel "
                                        "--build-avi OUT FILE...")
                             .arg(p.operands.value(0)))
                 : usage(QStringLiteral("%1 goes with %2")
                             .arg(dashed(*optionNamed(p.values.begin()->first)),
                                  commandNames(optionNamed(p.values.begin()->first)->goesWith)));
  } else if ((p.commands & (p.commands - 1)) != 0) {
    status = usage(QStringLiteral("%1 cannot be given together").arg(commandNames(p.commands, QStringLiteral(" and "))));
  } else {
    // Every option must belong to the command given.
    for (const auto& [name, value] : p.values) {
      const Option& o = *optionNamed(name);
      if (o.command == kNoCommand && !(o.goesWith & p.commands)) {
        status = usage(QStringLiteral("%1 goes with %2").arg(dashed(o), commandNames(o.goesWith)));
        break;
      }
    }
    if (status == kDone) {
      switch (Command(p.commands)) {
        case kListCompressors:
          status = p.operands.isEmpty()
                       ? listCompressors(p)
                       : usage(QStringLiteral("--list-compressors takes no files, not '%1'").arg(p.operands[0]));
          break;
        case kBuildAvi:
          status = buildAvi(p);
          break;
        case kRecord: {
          RecordRequest r;
          status = recordArgs(p, r);
          // The desktop program records it.
          if (status == kDone) {
            record = r;
            return std::nullopt;
          }
          break;
        }
        case kPause:
        case kResume:
        case kStop:
        case kCancel:
        case kStatus: {
          if (!p.operands.isEmpty()) {
            status = usage(QStringLiteral("%1 takes no files, not '%2'").arg(commandNames(p.commands), p.operands[0]));
            break;
          }
          static const std::map<unsigned, ControlCommand> commands{{kPause, ControlCommand::Pause},
                                                                   {kResume, ControlCommand::Resume},
                                                                   {kStop, ControlCommand::Stop},
                                                                   {kCancel, ControlCommand::Cancel},
                                                                   {kStatus, ControlCommand::Status}};
          status = control(commands.at(p.commands));
          break;
        }
        default:
          break;  // --help and --version answered above
      }
    }
  }
  // A result nobody could read is no success (--help > /dev/full).
  if (std::fflush(stdout) != 0 && g_stdoutErrno == 0) g_stdoutErrno = errno ? errno : EIO;
  if (g_stdoutErrno != 0) {
    say(stderr, QStringLiteral("kestrel: write error: %1\n").arg(QString::fromLocal8Bit(std::strerror(g_stdoutErrno))));
    if (status == kDone) status = kFailed;
  }
  // Qt's bus thread may still dispatch a late message from the bus while
  // the program's static objects are destroyed, and then complains of an
  // "invalid type" on standard error: a command that used the bus ends
  // here, with everything said.
  if (p.commands & (kPause | kResume | kStop | kCancel | kStatus)) {
    std::fflush(stderr);
    std::_Exit(status);
  }
  return status;
}

}  // namespace app
