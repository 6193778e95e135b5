#include "app/commandlinerecording.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "app/mainwindow.h"
#include "app/windows.h"
#include "components/trayicon.h"
#include "platform/path.h"
#include "platform/window/display.h"
#include "platform/window/grabsource.h"
#include "platform/window/sway.h"
#include "recording/reports.h"
#include "recording/session.h"
#include "recording/unfinishedfile.h"

namespace app {

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;

void say(std::FILE* to, const QString& text) {
  // Nothing more can be said where the words cannot go.
  const QByteArray bytes = platform::encodePath(text);
  const bool written = std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), to) == std::size_t(bytes.size());
  (void)written;
  std::fflush(to);
}

QString framesText(int frames, int rate) {
  return QStringLiteral("%1 (%2 s)")
      .arg(frames == 1 ? QStringLiteral("1 frame") : QStringLiteral("%1 frames").arg(frames))
      .arg(double(frames) / std::max(1, rate), 0, 'f', 1);
}

// Ctrl+C and TERM reach the event loop through a pipe: the recording then
// stops as Stop stops it, and the file is complete. A second Ctrl+C ends
// the program at once (the unfinished file keeps what its header counts).
int g_signalPipe[2] = {-1, -1};
extern "C" void onStopSignal(int sig) {
  const unsigned char c = static_cast<unsigned char>(sig);
  [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

class Recording {
 public:
  Recording(Windows& windows, const RecordRequest& r)
      : main_(*windows.mainWindow()), session_(windows.session()), r_(r) {}
  ~Recording() {
    for (auto& c : connections_) QObject::disconnect(c);
    if (!sigactionsSet_) return;
    sigaction(SIGINT, &previousInt_, nullptr);
    sigaction(SIGTERM, &previousTerm_, nullptr);
  }
  Recording(const Recording&) = delete;
  Recording& operator=(const Recording&) = delete;

  int run();

 private:
  int fail(const QString& message) {
    say(stderr, QStringLiteral("kestrel: %1: %2\n").arg(r_.file, message));
    return kFailed;
  }
  bool findWindow();
  void firstGrab();
  void showHealth(const recording::Health& h);
  void ended(const recording::RecordingEnd& end);
  void finish(int status) {
    if (finished_) return;
    finished_ = true;
    status_ = status;
    QCoreApplication::exit(status);
  }
  void watchSignals();
  void followWindow();

  MainWindow& main_;
  recording::Session& session_;
  const RecordRequest& r_;
  wnd::RECT area_;
  wnd::HWND window_ = 0;  // the window followed, 0 for an area
  std::optional<recording::UnfinishedFile> unfinished_;
  std::vector<QMetaObject::Connection> connections_;
  QTimer follow_;
  int signal_ = 0;
  bool started_ = false;
  bool finished_ = false;
  bool healthShown_ = false;
  int status_ = kFailed;
  struct sigaction previousInt_ {}, previousTerm_ {};
  bool sigactionsSet_ = false;
};

// The window in front, as Window mode lays the capture frame over it: its
// outer rectangle, frame and caption included.
bool Recording::findWindow() {
  window_ = wnd::GetForegroundWindow();
  std::optional<wnd::RECT> r = window_ ? wnd::GetWindowRect(window_) : std::nullopt;
  // sway says where a native Wayland window in front is (it is not
  // followed: it has no X window to ask again).
  if (!window_ && wnd::InWaylandSession()) r = wnd::SwayFocusedWindowRect();
  if (!r || r->width() <= 0 || r->height() <= 0) return false;
  area_ = *r;
  return true;
}

void Recording::followWindow() {
  if (!window_) return;
  const auto r = wnd::GetWindowRect(window_);
  // A file's frames keep their first size: the rectangle moves with the
  // window and keeps its size; a window that went keeps its last place.
  if (!r) return;
  const wnd::RECT moved{r->left, r->top, r->left + area_.width(), r->top + area_.height()};
  if (moved == session_.area()) return;
  session_.setArea(moved);
}

void Recording::watchSignals() {
  if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &main_);
  connections_.push_back(QObject::connect(notifier, &QSocketNotifier::activated, notifier, [this] {
    unsigned char c = 0;
    while (::read(g_signalPipe[0], &c, 1) == 1) signal_ = c;
    if (!started_) {
      finish(128 + signal_);
      return;
    }
    session_.stop();
  }));
  struct sigaction sa {};
  sa.sa_handler = onStopSignal;
  sa.sa_flags = SA_RESETHAND;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, &previousInt_);
  sigaction(SIGTERM, &sa, &previousTerm_);
  sigactionsSet_ = true;
}

int Recording::run() {
  if (r_.area) {
    area_ = *r_.area;
  } else if (!findWindow()) {
    return fail(QStringLiteral("there is no window in front to record (nothing has the focus, or Kestrel cannot "
                               "see where it is); give its place with --area X,Y,W,H"));
  }
  // The preferences (the screen source among them) as the desktop program
  // has them; the remote control as asked.
  main_.loadPreferences();
  main_.chooseRemote(r_.remote);
  try {
    wnd::CurrentGrabSource().prepare();
  } catch (const wnd::Error& error) {
    return fail(QStringLiteral("Kestrel cannot see the screen: %1").arg(QString::fromUtf8(error.what())));
  }
  unfinished_.emplace(r_.file);
  if (!unfinished_->created())
    return fail(QStringLiteral("cannot be created: %1").arg(QString::fromLocal8Bit(std::strerror(unfinished_->error()))));

  using recording::Session;
  connections_.push_back(QObject::connect(&session_, &Session::ended, &main_,
                                          [this](const recording::RecordingEnd& e) { ended(e); }));
  connections_.push_back(QObject::connect(&session_, &Session::health, &main_,
                                          [this](const recording::Health& h) { showHealth(h); }));
  // Before the first frame the screen's picture gives the format.
  connections_.push_back(QObject::connect(&session_, &Session::grabbed, &main_, [this] {
    if (!started_ && !finished_) firstGrab();
  }));
  connections_.push_back(QObject::connect(&session_, &Session::grabError, &main_, [this](const QString& why) {
    if (started_ || finished_) return;
    finish(fail(QStringLiteral("Kestrel cannot read the screen: %1").arg(why)));
  }));
  watchSignals();
  main_.trayIcon()->setActive(true);
  session_.nameFile(unfinished_->path());
  session_.fixTarget(area_);
  if (window_) {
    follow_.setInterval(200);
    QObject::connect(&follow_, &QTimer::timeout, [this] { followWindow(); });
    follow_.start();
  }
  const int status = QCoreApplication::exec();
  follow_.stop();
  return finished_ ? status_ : status;
}

void Recording::firstGrab() {
  std::vector<std::uint8_t> format;
  if (!session_.frameFormat(format)) return;  // the next grab
  if (const QString refusal = vfw::compressorRefusal(*r_.compressor, format); !refusal.isEmpty()) {
    session_.cancel();
    finish(fail(QStringLiteral("%1 cannot compress frames of %2x%3: it %4")
                    .arg(r_.compressor->name)
                    .arg(area_.width())
                    .arg(area_.height())
                    .arg(refusal)));
    return;
  }
  recording::RecordingSettings settings;
  settings.file = unfinished_->path();
  settings.area = session_.area();
  settings.rate = r_.rate;
  vfw::COMPVARS& c = settings.compressor;
  c.cbSize = vfw::COMPVARS_CBSIZE;
  c.fccType = vfw::streamtypeVIDEO;
  c.fccHandler = r_.compressor->fccHandler;
  c.lQ = r_.quality < 0 ? vfw::ICQUALITY_DEFAULT : r_.quality * 100;
  // The spacing the compressor dialog offers first.
  c.lKey = r_.compressor->temporal ? r_.compressor->defaultKeyFrameEvery : 1;
  // --seconds counts frames: S seconds of recorded time are S x rate
  // frames, whatever pauses came between.
  settings.frameLimit = std::int64_t(r_.seconds) * r_.rate;
  settings.pointer = r_.pointer;
  started_ = true;
  const recording::StartOutcome outcome = session_.start(settings);
  if (outcome == recording::StartOutcome::Started) return;
  started_ = false;
  session_.cancel();
  const QString why = recording::whyCannotCreate(unfinished_->path());
  finish(fail(QStringLiteral("cannot be created%1").arg(why.isEmpty() ? QString() : QStringLiteral(": ") + why)));
}

void Recording::showHealth(const recording::Health& h) {
  if (r_.quiet) return;
  const bool tty = isatty(fileno(stderr)) != 0;
  const QString text = recording::healthText(h);
  say(stderr, tty ? QStringLiteral("\r\033[K") + text : QStringLiteral("kestrel: ") + text + QLatin1Char('\n'));
  healthShown_ = tty;
}

void Recording::ended(const recording::RecordingEnd& end) {
  if (finished_) return;
  if (healthShown_) say(stderr, QStringLiteral("\n"));
  healthShown_ = false;
  // The frames replace FILE; without any, FILE stays as it was.
  QString keptIn;
  if (end.framesKept > 0) keptIn = unfinished_->keep();
  const bool moved = keptIn == unfinished_->target();
  const QString holds = moved ? QStringLiteral("it holds %1").arg(framesText(end.framesKept, end.rate))
                              : QStringLiteral("%1 holds %2, but it could not be renamed to %3 (%4)")
                                    .arg(keptIn, framesText(end.framesKept, end.rate), r_.file,
                                         QString::fromLocal8Bit(std::strerror(unfinished_->error())));
  if (end.failed()) {
    recording::RecordingEnd told = end;
    told.file = moved ? r_.file : keptIn;
    say(stderr, QStringLiteral("kestrel: %1\n").arg(recording::describe(told)));
    if (end.framesKept > 0 && !moved) fail(holds);
    return finish(kFailed);
  }
  if (end.framesKept == 0) {
    fail(QStringLiteral("the recording ended before its first frame; nothing was written"));
    return finish(signal_ ? 128 + signal_ : kFailed);
  }
  if (!moved) {
    fail(QStringLiteral("the recording ended, but ") + holds);
    return finish(kFailed);
  }
  if (signal_) {
    fail(QStringLiteral("stopped by %1; %2")
             .arg(signal_ == SIGINT ? QStringLiteral("Ctrl+C") : QStringLiteral("a signal to end"), holds));
    return finish(128 + signal_);
  }
  if (end.cause == recording::EndCause::Cancelled) {
    fail(QStringLiteral("cancelled; ") + holds);
    return finish(kDone);
  }
  if (!r_.quiet)
    say(stdout, QStringLiteral("%1: %2 at %3 frames/s, %4\n")
                    .arg(r_.file, framesText(end.framesKept, end.rate))
                    .arg(end.rate)
                    .arg(r_.compressor->name));
  finish(kDone);
}

}  // namespace

int recordFromCommandLine(Windows& windows, const RecordRequest& request) {
  Recording recording(windows, request);
  return recording.run();
}

}  // namespace app
