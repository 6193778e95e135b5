// Building an AVI file from a list of BMP files, side by side with the
// ffmpeg command that does the same, in one run.
//
//   QT_QPA_PLATFORM=offscreen builder_bench [--frames N] [--rounds R] [--dir D] [--out O] [--touch MB] [--no-warmup]
//                                           [--together] [--keep] [--memory-only] [--only TAG]
//
// Writes N (300) 24-bit 1920x1080 BMP files of screen-like content that
// changes from frame to frame into D (/dev/shm/kestrel-builder-bench) once,
// then for each compressor (Motion JPEG, H.264, Ut Video, full frames) builds
// an AVI from them the way a person does (the files listed on the real
// builder panel, the rate typed, "Make Avi", the save dialog answered, the
// compressor picked in the real dialog) and with
//   ffmpeg -framerate 30 -i f%03d.bmp -c:v ... -g 1 out.avi
// at the same settings. The pair runs back to back R (2) times, the order
// alternating, and the table gives the median of each side's frames/s.
// Then the steps of a build are timed apart, each alone on one thread (load;
// the packed frame; the compressor's conversion and encode), and the peak
// RSS of a Kestrel build and of ffmpeg is taken at 100 and at N frames,
// each in a process of its own.
//
// Runs the program's windows, so it needs a Qt platform:
// QT_QPA_PLATFORM=offscreen.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "../spawn.h"
#include "builder/builderpanel.h"
#include <memory>

#include "app/windows.h"
#include "app/mainwindow.h"
#include "support/choosefile.h"
#include "framework/statusbar.h"
#include "platform/gdi/bitmap.h"
#include "platform/gdi/bmpfile.h"
#include "platform/vfw/codec.h"
#include "platform/vfw/compressordialog.h"
#include "platform/vfw/vfw.h"
#include "recording/aviwriter.h"

// The program's windows while the benchmark drives them.
static std::unique_ptr<app::Windows> g_windows;
static app::MainWindow* mainWindow() { return g_windows->mainWindow(); }
[[maybe_unused]] static app::FrameRateDialog* frameRateDialog() { return g_windows->frameRateDialog(); }
[[maybe_unused]] static target::CaptureFrame* captureFrame() { return g_windows->captureFrame(); }

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kRate = 30;

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

using bench::run;

struct Codec {
  const char* label;
  const char* tag;  // for --build
  vfw::FOURCC fcc;
  std::vector<std::string> ffmpegArgs;
};

// The same encoder settings as the compressor table at the dialog's default
// quality, every frame a key frame, and the threads Kestrel gives each
// encoder (libavcodec's automatic count for H.264, one thread otherwise).
// --only TAG: the one compressor whose tag starts with TAG ("DIB", "H264").
std::string g_only;

const std::vector<Codec>& allCodecs();

// Chosen once, on first use (after the arguments are read).
const std::vector<Codec>& codecs() {
  static const std::vector<Codec> chosen = [] {
    std::vector<Codec> v;
    for (const Codec& c : allCodecs())
      if (g_only.empty() || std::string(c.tag).rfind(g_only, 0) == 0) v.push_back(c);
    return v;
  }();
  return chosen;
}

const std::vector<Codec>& allCodecs() {
  using vfw::mmioFOURCC;
  static const std::vector<Codec> list = {
      {"Motion JPEG (q 4)", "MJPG", mmioFOURCC('M', 'J', 'P', 'G'),
       {"-c:v", "mjpeg", "-q:v", "4", "-pix_fmt", "yuvj420p", "-g", "1", "-threads", "1"}},
      {"H.264 ultrafast (crf 23)", "H264", mmioFOURCC('H', '2', '6', '4'),
       {"-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-crf", "23", "-g", "1", "-pix_fmt",
        "yuv420p", "-threads", "0"}},
      {"Ut Video (gbrp)", "ULRG", mmioFOURCC('U', 'L', 'R', 'G'),
       {"-c:v", "utvideo", "-pix_fmt", "gbrp", "-g", "1", "-threads", "1"}},
      {"Full Frames (uncompressed)", "DIB ", vfw::comptypeDIB,
       {"-c:v", "rawvideo", "-pix_fmt", "bgr24", "-g", "1", "-threads", "1"}},
  };
  return list;
}

std::string framePath(const std::string& dir, int i) {
  char name[32];
  std::snprintf(name, sizeof name, "/f%03d.bmp", i);
  return dir + name;
}

// A desktop: a background gradient, a few windows with title bars, lines of
// "text" that scroll by one line per frame, and a moving cursor-like block.
void paint(gdi::Bitmap& bmp, int frame) {
  for (int y = 0; y < kHeight; ++y) {
    std::uint8_t* row = bmp.scanLine(y);
    for (int x = 0; x < kWidth; ++x) {
      std::uint8_t* p = row + 3 * x;
      p[0] = std::uint8_t(120 + y / 9);
      p[1] = std::uint8_t(60 + y / 12);
      p[2] = std::uint8_t(30 + x / 16);
    }
  }
  struct Win {
    int x, y, w, h;
  };
  const Win wins[] = {{100 + frame % 50, 80, 900, 600}, {700, 300 + (frame * 3) % 120, 1000, 650}, {60, 700, 500, 320}};
  int k = 0;
  for (const Win& w : wins) {
    for (int y = w.y; y < std::min(kHeight, w.y + w.h); ++y) {
      std::uint8_t* row = bmp.scanLine(y);
      const bool title = y < w.y + 28;
      const int line = (y - w.y - 40 + frame * 2) / 18;
      const bool inText = !title && y > w.y + 40 && ((y - w.y - 40 + frame * 2) % 18) < 11;
      for (int x = w.x; x < std::min(kWidth, w.x + w.w); ++x) {
        std::uint8_t* p = row + 3 * x;
        if (title) {
          p[0] = std::uint8_t(160 + k * 30);
          p[1] = 90;
          p[2] = 40;
        } else if (inText && x > w.x + 12 && x < w.x + 40 + int((unsigned(line) * 2654435761u + unsigned(k)) % unsigned(w.w - 60)) &&
                   ((x * 7 + line * 13 + y) % 5) < 2) {
          p[0] = p[1] = p[2] = 20;
        } else {
          p[0] = p[1] = p[2] = 245;
        }
      }
    }
    ++k;
  }
  const int cx = (frame * 11) % (kWidth - 40), cy = (frame * 5) % (kHeight - 40);
  for (int y = cy; y < cy + 32; ++y)
    for (int x = cx; x < cx + 32; ++x) {
      std::uint8_t* p = bmp.scanLine(y) + 3 * x;
      p[0] = 0;
      p[1] = 0;
      p[2] = 255;
    }
}

void makeFiles(const std::string& dir, int count) {
  run({"mkdir", "-p", dir});
  for (int i = 0; i < count; ++i) {
    if (access(framePath(dir, i).c_str(), R_OK) == 0) continue;
    gdi::BITMAPINFOHEADER bi{};
    bi.biSize = 40;
    bi.biWidth = kWidth;
    bi.biHeight = kHeight;
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    std::vector<std::uint8_t> header(40);
    std::memcpy(header.data(), &bi, 40);
    std::vector<std::uint8_t> bits(std::size_t(gdi::rowBytes(kWidth, 24)) * kHeight);
    gdi::Bitmap bmp = gdi::Bitmap::dibSection(std::move(header), gdi::PixelFormat::Bgr24, kWidth, kHeight, false, {},
                                              {}, std::move(bits));
    paint(bmp, i);
    gdi::saveBmp(bmp, QString::fromStdString(framePath(dir, i)));
  }
}

// A build as a person runs it on the builder panel; frames/s from the
// compressor dialog's OK to the end of the build (the time a person takes in
// the save dialog is no part of a frame). < 0 if the build failed.
int g_files = 300;  // BMP files on disk; a longer build lists them again from the first

// Runs the moment the compressor is accepted (--together starts ffmpeg).
std::function<void()> g_onAccepted;

double panelBuild(vfw::FOURCC fcc, const std::string& dir, int count, const std::string& out) {
  mainWindow()->builderPanel()->show();
  // The panel's list and rate, by their names, as a person's tools find them.
  auto* files = mainWindow()->builderPanel()->findChild<QListWidget*>(QStringLiteral("ListBox1"));
  files->clear();
  for (int i = 0; i < count; ++i) files->addItem(QString::fromStdString(framePath(dir, i % g_files)));
  mainWindow()->builderPanel()->findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(QString::number(kRate));
  mainWindow()->statusLine()->setSimpleText(QString());
  std::remove(out.c_str());
  vfw::forgetLastCompressorChoice();
  Clock::time_point accepted{};
  bool fileAnswered = false, failed = false;
  QTimer poll;
  poll.setInterval(2);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* w = QApplication::activeModalWidget();
    if (auto* fd = qobject_cast<QFileDialog*>(w)) {
      if (!fileAnswered) testsupport::chooseFile(fd, QString::fromStdString(out));
      fileAnswered = true;
    } else if (auto* box = qobject_cast<QMessageBox*>(w)) {
      std::fprintf(stderr, "build: %s\n", qPrintable(box->text()));
      failed = true;
      box->accept();
    } else if (w && w->objectName() == QStringLiteral("CompressorDialog") && accepted == Clock::time_point{}) {
      // Pick the compressor in the list and press OK, as a person does.
      auto* list = w->findChild<QTreeWidget*>(QStringLiteral("CompressorList"));
      auto* ok = w->findChild<QPushButton*>(QStringLiteral("OkButton"));
      if (!list || !ok) return;
      for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->data(0, Qt::UserRole).toUInt() == fcc) list->setCurrentItem(list->topLevelItem(i));
      accepted = Clock::now();
      if (g_onAccepted) g_onAccepted();
      ok->click();
    }
  });
  poll.start();
  mainWindow()->builderPanel()->buildFromList();
  const double took = seconds(accepted);
  poll.stop();
  if (failed || mainWindow()->statusLine()->SimpleText() != QStringLiteral("AVI Completed")) return -1;
  return count / took;
}

double runFfmpeg(const Codec& c, const std::string& dir, int count, const std::string& out) {
  std::vector<std::string> args = {"ffmpeg", "-v",       "error", "-y", "-framerate", std::to_string(kRate),
                                   "-i",     dir + "/f%03d.bmp", "-frames:v", std::to_string(count)};
  args.insert(args.end(), c.ffmpegArgs.begin(), c.ffmpegArgs.end());
  args.push_back(out);
  const auto start = Clock::now();
  return run(args) == 0 ? seconds(start) : -1;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// What each step of a build costs per frame, each alone on one thread, next
// to a whole frame of the real build (where loading overlaps the rest).
void stepsSection(const std::string& dir, int count) {
  std::printf("### Kestrel build, per step (ms per frame)\n\n");
  std::printf("| compressor | load BMP | packed frame | convert + encode | frame of the panel's build |\n");
  std::printf("|---|---|---|---|---|\n");
  const int n = std::min(count, 60);
  for (const Codec& c : codecs()) {
    double load = 0, pack = 0;
    const gdi::Bitmap first = gdi::loadBmp(QString::fromStdString(framePath(dir, 0)));
    std::uint32_t hs = 0, is = 0;
    recording::DIBFrameSizes(first, hs, is);
    std::vector<std::uint8_t> header(hs), bits(is);
    for (int i = 0; i < n; ++i) {
      const auto t0 = Clock::now();
      const gdi::Bitmap b = gdi::loadBmp(QString::fromStdString(framePath(dir, i)));
      const auto t1 = Clock::now();
      recording::DIBFrameFromBitmap(b, header, bits);
      pack += seconds(t1);
      load += std::chrono::duration<double>(t1 - t0).count();
    }
    // The encoder alone (its pixel conversion and the encode, default
    // options as the dialog's), fed packed frames from memory.
    double enc = -1;
    if (c.fcc != vfw::comptypeDIB) {
      std::vector<std::vector<std::uint8_t>> packed;
      for (int i = 0; i < 10; ++i) {
        recording::DIBFrameFromBitmap(gdi::loadBmp(QString::fromStdString(framePath(dir, i))), header, bits);
        packed.push_back(bits);
      }
      vfw::EncoderOptions opt;
      opt.framesPerSecond = kRate;
      std::unique_ptr<vfw::Encoder> e;
      if (vfw::createEncoder(c.fcc, header, opt, e) == vfw::AVIERR_OK) {
        std::span<const std::uint8_t> packet;
        bool key = false;
        e->encode(packed[0], true, packet, key);  // warm-up
        const auto t0 = Clock::now();
        for (int i = 0; i < n; ++i) e->encode(packed[std::size_t(i) % packed.size()], true, packet, key);
        enc = seconds(t0) * 1000 / n;
      }
    }
    const double fps = panelBuild(c.fcc, dir, count, dir + "/kestrel.avi");
    std::remove((dir + "/kestrel.avi").c_str());
    char encText[32] = "-";
    if (enc >= 0) std::snprintf(encText, sizeof encText, "%.2f", enc);
    std::printf("| %s | %.2f | %.2f | %s | %.2f |\n", c.label, load * 1000 / n, pack * 1000 / n, encText,
                fps > 0 ? 1000 / fps : -1.0);
    std::fflush(stdout);
  }
  std::printf("\n");
}

std::string list(const std::vector<double>& v) {
  std::string out;
  for (double r : v) {
    char b[16];
    std::snprintf(b, sizeof b, "%s%.2f", out.empty() ? "" : ", ", r);
    out += b;
  }
  return out;
}

// Each round runs Kestrel, ffmpeg with the encoder threads Kestrel gives the
// encoder, and ffmpeg with its own default threads (the same for H.264),
// in an order that rotates, so a neighbour's load hurts all alike.
// Where the side-by-side builds write their files: empty, next to the
// BMP files (tmpfs); --out puts them on a disk, where a user's go.
std::string g_out;
std::size_t g_touch = 0;  // --touch MB: memory filled and dropped before each build
bool g_warmup = true;     // --no-warmup: count the first round too
// --together: Kestrel's build and ffmpeg's (same threads) run at the same
// time, so the machine's swings (on this one, the cost of memory that the
// host took back) fall on both alike. Whichever ends first leaves the
// other the machine to itself, so the faster side's lead is understated.
bool g_together = false;

// On this virtual machine memory the guest has freed goes back to the host
// (free page reporting, DAMON), and the first build to take it again pays
// for the host's faults: 80 frames/s in one round, 400 in the next. Filling
// and dropping as much as a build writes, right before it, gives every
// build memory that is already there.
void touchMemory(const std::string& dir, std::size_t bytes) {
  const std::string path = dir + "/touch.tmp";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return;
  std::vector<char> block(std::size_t(8) << 20, 1);
  for (std::size_t done = 0; done < bytes; done += block.size())
    if (::write(fd, block.data(), block.size()) < 0) break;
  ::close(fd);
  std::remove(path.c_str());
}

void sideBySideSection(const std::string& dir, int count, int rounds) {
  const std::string out = g_out.empty() ? dir : g_out;
  std::printf("### %d BMP files (1920x1080, 24-bit) built into an AVI, every frame a key frame%s\n\n", count,
              g_together ? " (Kestrel and ffmpeg at the same time; ffmpeg with the same threads only)" : "");
  std::printf("| compressor | Kestrel fps | ffmpeg fps, same threads | Kestrel / ffmpeg (median) | pair ratios | "
              "ffmpeg fps, its default threads | Kestrel / that (median) |\n|---|---|---|---|---|---|---|\n");
  int order = 0;
  for (const Codec& c : codecs()) {
    Codec own = c;  // the command without -threads
    for (std::size_t i = 0; i + 1 < own.ffmpegArgs.size(); ++i)
      if (own.ffmpegArgs[i] == "-threads") own.ffmpegArgs.erase(own.ffmpegArgs.begin() + long(i), own.ffmpegArgs.begin() + long(i) + 2);
    const bool sameAsDefault = own.ffmpegArgs.size() + 2 == c.ffmpegArgs.size() &&
                               c.ffmpegArgs.back() == "0";
    std::vector<double> k, f, d, ratios, dratios;
    // Round 0 warms up (the first build of a process, a first ffmpeg run)
    // and is not counted.
    for (int r = g_warmup ? -1 : 0; r < rounds; ++r, ++order) {
      double ks = -1, fs = -1, ds = -1;
      if (g_together) {
        std::thread peer;
        g_onAccepted = [&] { peer = std::thread([&] { fs = runFfmpeg(c, dir, count, out + "/ffmpeg.avi"); }); };
        const double fps = panelBuild(c.fcc, dir, count, out + "/kestrel.avi");
        g_onAccepted = nullptr;
        if (peer.joinable()) peer.join();
        ks = fps > 0 ? count / fps : -1;
        ds = fs;
        std::remove((out + "/kestrel.avi").c_str());
        std::remove((out + "/ffmpeg.avi").c_str());
      }
      // Otherwise each side builds alone, in an order that rotates by round.
      const int aloneSteps = g_together ? 0 : 3;
      for (int step = 0; step < aloneSteps; ++step) {
        // Each output goes at once, so no run writes while another's 1.8 GB
        // of full frames still fills the tmpfs.
        if (g_touch) touchMemory(out, g_touch);
        switch ((step + order) % 3) {
          case 0: {
            const double fps = panelBuild(c.fcc, dir, count, out + "/kestrel.avi");
            ks = fps > 0 ? count / fps : -1;
            std::remove((out + "/kestrel.avi").c_str());
            break;
          }
          case 1:
            fs = runFfmpeg(c, dir, count, out + "/ffmpeg.avi");
            std::remove((out + "/ffmpeg.avi").c_str());
            break;
          default:
            if (!sameAsDefault) {
              ds = runFfmpeg(own, dir, count, out + "/ffmpeg.avi");
              std::remove((out + "/ffmpeg.avi").c_str());
            }
        }
      }
      if (sameAsDefault || g_together) ds = fs;
      if (r < 0) continue;
      if (ks <= 0 || fs <= 0 || ds <= 0) {
        std::printf("| %s | failed (Kestrel %.2f s, ffmpeg %.2f s / %.2f s) | | | | | |\n", c.label, ks, fs, ds);
        continue;
      }
      k.push_back(count / ks);
      f.push_back(count / fs);
      d.push_back(count / ds);
      ratios.push_back(fs / ks);
      std::fprintf(stderr, "%s round %d: Kestrel %.1f, ffmpeg %.1f, ffmpeg default threads %.1f frames/s\n", c.label,
                   r + 1, count / ks, count / fs, count / ds);
      dratios.push_back(ds / ks);
    }
    std::printf("| %s | %.1f | %.1f | %.2f | %s | %.1f | %.2f |\n", c.label, median(k), median(f), median(ratios),
                list(ratios).c_str(), median(d), median(dratios));
    std::fflush(stdout);
  }
  std::printf("\n");
}

// Peak RSS of a command, in MiB, or < 0. A child started straight from
// here would report at least this process's own peak (Linux carries the
// peak of the memory it replaces across exec, and a spawned child runs on
// the parent's memory until it execs), so a fresh copy of this program, still
// small, starts it and writes the figure to a file.
double peakMiB(const char* self, const std::vector<std::string>& cmd, const std::string& dir) {
  const std::string out = dir + "/rss-" + std::to_string(getpid()) + ".txt";
  std::vector<std::string> args = {self, "--measure", out};
  args.insert(args.end(), cmd.begin(), cmd.end());
  if (run(args) != 0) return -1;
  FILE* f = std::fopen(out.c_str(), "r");
  long kib = -1;
  if (f) {
    if (std::fscanf(f, "%ld", &kib) != 1) kib = -1;
    std::fclose(f);
  }
  std::remove(out.c_str());
  return kib < 0 ? -1 : double(kib) / 1024.0;
}

// The --measure side: fork (a copy of this small process), exec, wait.
int measure(const std::string& out, char** cmd) {
  const pid_t pid = fork();
  if (pid == 0) {
    execvp(cmd[0], cmd);
    _exit(127);
  }
  int status = 0;
  rusage ru{};
  if (pid < 0 || wait4(pid, &status, 0, &ru) < 0) return 1;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
  FILE* f = std::fopen(out.c_str(), "w");
  if (!f) return 1;
  std::fprintf(f, "%ld\n", ru.ru_maxrss);
  std::fclose(f);
  return 0;
}

// Peak RSS at 100 frames, at the number of files and at three times that
// (the files listed three times over): a build whose memory is flat shows
// the same figure for the last two.
void memorySection(const char* self, const std::string& dir, int count) {
  const int sizes[3] = {100, count, 3 * count};
  std::printf("### Peak RSS of one build (separate process per run)\n\n");
  std::printf("| compressor | Kestrel %d / %d / %d frames, MiB | ffmpeg %d / %d / %d frames, MiB |\n", sizes[0], sizes[1],
              sizes[2], sizes[0], sizes[1], sizes[2]);
  std::printf("|---|---|---|\n");
  for (const Codec& c : codecs()) {
    double k[3] = {0, 0, 0}, f[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
      const int n = sizes[i];
      k[i] = peakMiB(self, {self, "--build", c.tag, std::to_string(n), "--files", std::to_string(count), "--dir", dir},
                     dir);
      // -loop 1 starts the image sequence again after its last file.
      std::vector<std::string> ff = {"ffmpeg", "-v", "error", "-y", "-framerate", std::to_string(kRate), "-loop", "1",
                                     "-i", dir + "/f%03d.bmp", "-frames:v", std::to_string(n)};
      ff.insert(ff.end(), c.ffmpegArgs.begin(), c.ffmpegArgs.end());
      ff.push_back(dir + "/ffmpeg.avi");
      f[i] = peakMiB(self, ff, dir);
      std::remove((dir + "/ffmpeg.avi").c_str());
    }
    std::printf("| %s | %.1f / %.1f / %.1f | %.1f / %.1f / %.1f |\n", c.label, k[0], k[1], k[2], f[0], f[1], f[2]);
    std::fflush(stdout);
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything else, while this process is still small.
  if (argc > 3 && std::strcmp(argv[1], "--measure") == 0) return measure(argv[2], argv + 3);
  // The program's own settings file, not the user's.
  const std::string config = "/tmp/kestrel-builder-bench-config-" + std::to_string(getuid());
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  QApplication app(argc, argv);
  g_windows = std::make_unique<app::Windows>();
  mainWindow()->show();  // Image3 paints each frame only in a shown window
  {
    // Let the start-up timer load the preferences, as it does for a person.
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();
  }
  int count = 300, rounds = 2;
  bool keep = false, memoryOnly = false;
  std::string dir = "/dev/shm/kestrel-builder-bench";
  std::string buildTag;
  int buildFrames = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--frames" && i + 1 < argc) count = std::atoi(argv[++i]);
    else if (a == "--rounds" && i + 1 < argc) rounds = std::atoi(argv[++i]);
    else if (a == "--dir" && i + 1 < argc) dir = argv[++i];
    else if (a == "--out" && i + 1 < argc) g_out = argv[++i];
    else if (a == "--no-warmup") g_warmup = false;
    else if (a == "--together") g_together = true;
    else if (a == "--touch" && i + 1 < argc) g_touch = std::size_t(std::max(0, std::atoi(argv[++i]))) << 20;
    else if (a == "--keep") keep = true;
    else if (a == "--only" && i + 1 < argc) g_only = argv[++i];
    else if (a == "--memory-only") memoryOnly = true;
    else if (a == "--files" && i + 1 < argc) g_files = std::max(1, std::atoi(argv[++i]));
    else if (a == "--build" && i + 2 < argc) {
      buildTag = argv[++i];
      buildFrames = std::atoi(argv[++i]);
    }
  }
  if (!buildTag.empty()) {
    // One build in this process, for its peak RSS.
    for (const Codec& c : codecs()) {
      if (buildTag != c.tag) continue;
      const std::string out = dir + "/rss-" + std::to_string(getpid()) + ".avi";
      const double fps = panelBuild(c.fcc, dir, buildFrames, out);
      std::fprintf(stderr, "%s: %.1f frames/s\n", c.label, fps);
      std::remove(out.c_str());
      g_windows.reset();
      return fps < 0 ? 1 : 0;
    }
    return 2;
  }
  if (count < 100) count = 100;
  g_files = count;
  const auto t0 = Clock::now();
  makeFiles(dir, count);
  std::printf("(%d BMP files in %s ready in %.1f s)\n\n", count, dir.c_str(), seconds(t0));
  if (!memoryOnly) {
    sideBySideSection(dir, count, rounds);
    stepsSection(dir, count);
  }
  memorySection(argv[0], dir, count);
  if (!keep) run({"rm", "-rf", dir});
  g_windows.reset();
  return 0;
}
