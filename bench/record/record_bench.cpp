// Records a screen rectangle with the real recorder for a fixed time and
// prints what it cost, as one JSON object:
//   record_bench OUT.avi RATE FOURCC SECONDS LEFT TOP WIDTH HEIGHT
// The same forms, timers, grab and writer as the program; only the save
// dialog and the compressor dialog are answered in advance. With
// KESTREL_BENCH_SOUND=1 the recording takes what the desktop plays too
// (a sound server must answer: scripts/sound-server.sh).
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include <memory>

#include "app/windows.h"
#include "app/frameratedialog.h"
#include "app/mainwindow.h"
#include "framework/application.h"
#include "framework/bounds.h"
#include "framework/image.h"
#include "framework/timer.h"
#include "platform/vfw/compressordialog.h"
#include "target/captureframe.h"

// The program's windows while the benchmark drives them.
static std::unique_ptr<app::Windows> g_windows;
static app::MainWindow* mainWindow() { return g_windows->mainWindow(); }
static recording::Session& session() { return g_windows->session(); }
[[maybe_unused]] static app::FrameRateDialog* frameRateDialog() { return g_windows->frameRateDialog(); }
[[maybe_unused]] static target::CaptureFrame* captureFrame() { return g_windows->captureFrame(); }

namespace {

using Clock = std::chrono::steady_clock;

// CPU time of the calling thread (the user-interface thread here).
double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long rssKiB() {
  std::ifstream f("/proc/self/statm");
  long pages = 0, resident = 0;
  f >> pages >> resident;
  return resident * 4;
}

// When each grab and each frame came, seconds since the recording began.
struct Stamps {
  std::vector<double> at;
  void add(Clock::time_point origin) { at.push_back(std::chrono::duration<double>(Clock::now() - origin).count()); }
};

// How long an input event would wait before the user-interface thread
// answers it: another thread posts a stamped event every 20 ms and the
// thread notes how late each one was handled. Only when asked for
// (KESTREL_BENCH_LATENCY=1): each event wakes the thread, and at 1080p and
// 30 frames a second the probe's 50 wake-ups a second were a third of its
// wake-ups, CPU that the peers measured beside it do not pay.
class LatencyProbe : public QObject {
 public:
  struct Stamp : QEvent {
    explicit Stamp(Clock::time_point t) : QEvent(QEvent::User), at(t) {}
    Clock::time_point at;
  };
  void start() {
    poster_ = std::thread([this] {
      while (!stop_) {
        QCoreApplication::postEvent(this, new Stamp(Clock::now()));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
  }
  void finish() {
    stop_ = true;
    if (poster_.joinable()) poster_.join();
  }
  std::vector<double> delaysMs;

 protected:
  bool event(QEvent* e) override {
    if (e->type() != QEvent::User) return QObject::event(e);
    delaysMs.push_back(
        std::chrono::duration<double, std::milli>(Clock::now() - static_cast<Stamp*>(e)->at).count());
    return true;
  }

 private:
  std::thread poster_;
  std::atomic<bool> stop_{false};
};

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

double meanSpacingMs(const std::vector<double>& s) {
  if (s.size() < 2) return 0;
  return 1000.0 * (s.back() - s.front()) / double(s.size() - 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 9) {
    std::fprintf(stderr, "usage: %s OUT.avi RATE FOURCC SECONDS LEFT TOP WIDTH HEIGHT\n", argv[0]);
    return 2;
  }
  framework::Application app(argc, argv);
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  const QString out = QString::fromLocal8Bit(argv[1]);
  const int rate = std::atoi(argv[2]);
  const std::string fcc = argv[3];
  const double seconds = std::atof(argv[4]);
  const framework::Bounds rect{std::atoi(argv[5]), std::atoi(argv[6]), std::atoi(argv[7]), std::atoi(argv[8])};
  if (fcc.size() != 4 || rate <= 0) return 2;

  g_windows = std::make_unique<app::Windows>();
  mainWindow()->findChild<framework::Timer*>(QStringLiteral("Timer2"))->setEnabled(false);
  frameRateDialog()->setRateText(QString::number(rate));
  framework::setOuterBounds(captureFrame(), rect);
  vfw::setCompressorChoiceForTesting(vfw::mmioFOURCC(fcc[0], fcc[1], fcc[2], fcc[3]));

  // The file named, the capture frame's X, then Start once the first grab
  // is in.
  session().nameFile(out);
  captureFrame()->fixRectangle();
  while (mainWindow()->preview()->picture().empty()) app.processEvents(QEventLoop::AllEvents, 10);

  const auto origin = Clock::now();
  Stamps writes, grabs;
  QObject::connect(&session(), &recording::Session::frameWritten, [&] { writes.add(origin); });
  QObject::connect(&session(), &recording::Session::grabbed, [&] { grabs.add(origin); });
  const long rssStart = rssKiB();
  long rssPeak = rssStart;
  std::vector<long> rssTrace;
  QTimer rssTimer;
  QObject::connect(&rssTimer, &QTimer::timeout, [&] {
    const long r = rssKiB();
    rssTrace.push_back(r);
    rssPeak = std::max(rssPeak, r);
  });
  rssTimer.start(1000);

  const bool sound = qgetenv("KESTREL_BENCH_SOUND") == "1";
  if (sound)
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = w->findChild<QCheckBox*>(QStringLiteral("SoundDesktop"))) box->setChecked(true);
  mainWindow()->startRecording();
  if (!session().isFileOpen()) {
    std::fprintf(stderr, "the recording did not start\n");
    return 1;
  }
  // Counted from here: the compressor dialog's own speed trials are not
  // part of the recording.
  const double cpu0 = cpuSeconds();
  const double ui0 = threadCpuSeconds();
  const auto rec0 = Clock::now();
  LatencyProbe probe;
  const bool latency = qgetenv("KESTREL_BENCH_LATENCY") == "1";
  if (latency) probe.start();
  int written = 0;
  quint64 lost = 0;
  // The recorded time ends at the Stop press, as the peers' does: what
  // Stop takes to write the frames still queued is no recording time.
  double recorded = 0;
  QTimer::singleShot(int(seconds * 1000), [&] {
    recorded = std::chrono::duration<double>(Clock::now() - rec0).count();
    written = session().frameIndex() + 1;
    lost = session().lostFrames();
    mainWindow()->stopRecording();
    app.quit();
  });
  app.exec();
  probe.finish();
  const double ui = threadCpuSeconds() - ui0;
  const double cpu = cpuSeconds() - cpu0;
  // Frames due by the Stop press on the recording's clock.
  const int due = int(recorded * rate) + 1;
  char delays[96] = "";
  if (latency)
    std::snprintf(delays, sizeof delays, "\"ui_delay_max_ms\":%.1f,\"ui_delay_p99_ms\":%.1f,",
                  percentile(probe.delaysMs, 1.0), percentile(probe.delaysMs, 0.99));

  std::printf(
      "{\"tool\":\"kestrel\",\"sound\":%s,\"rate\":%d,\"fourcc\":\"%s\",\"seconds\":%.3f,\"cpu_s\":%.3f,"
      "\"frames\":%d,\"due\":%d,\"write_mean_ms\":%.3f,\"grabs\":%zu,\"grab_mean_ms\":%.3f,"
      "\"rss_start_kib\":%ld,\"rss_end_kib\":%ld,\"rss_peak_kib\":%ld,"
      "%s\"ui_cpu_s\":%.3f,\"lost\":%llu}\n",
      sound ? "true" : "false", rate, fcc.c_str(), recorded, cpu, written, due, meanSpacingMs(writes.at), grabs.at.size(),
      meanSpacingMs(grabs.at), rssStart, rssTrace.empty() ? rssStart : rssTrace.back(), rssPeak, delays, ui,
      static_cast<unsigned long long>(lost));
  g_windows.reset();
  return 0;
}
