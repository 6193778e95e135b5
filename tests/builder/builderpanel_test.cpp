// The AVI builder driven through its real panel, dialogs and message boxes;
// every AVI it writes is read back by ffprobe/ffmpeg.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>

#include "builder/avibuilder.h"
#include "builder/builderpanel.h"
#include "support/programwindows.h"
#include "app/mainwindow.h"
#include "platform/vfw/vfw.h"
#include "framework/application.h"
#include "framework/image.h"
#include "framework/statusbar.h"
#include "support/choosefile.h"
#include "platform/gdi/bmpfile.h"
#include "recording/session.h"
#include "support/media.h"
#include "support/modal.h"
#include "support/tempdir.h"

namespace {

using testsupport::ModalWatcher;

class Builder : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    program = new testsupport::ProgramWindows();
    mainWindow()->show();  // Image3 paints only in a shown window
  }
  static void TearDownTestSuite() { delete program; }
  static inline testsupport::ProgramWindows* program = nullptr;

  void SetUp() override {
    testsupport::control<QListWidget>(mainWindow()->builderPanel(), "ListBox1")->clear();
    testsupport::control<QLineEdit>(mainWindow()->builderPanel(), "Edit1")->setText(QStringLiteral("1"));
    testsupport::control<QProgressBar>(mainWindow()->builderPanel(), "ProgressBar1")->setValue(0);
    mainWindow()->statusLine()->setSimpleText(QString());
    testsupport::menuItem("Open1")->trigger();
  }

  // A BMP made by ImageMagick: a w x h picture of one colour with a
  // differently coloured square, so frames and their orientation differ.
  std::string bmp(const QString& name, const std::string& colour, int w = 64, int h = 48,
                  const std::vector<std::string>& extra = {"-type", "TrueColor"}) {
    const std::string path = dir.file(name);
    std::vector<std::string> argv{"convert", "-size", std::to_string(w) + "x" + std::to_string(h),
                                  "xc:" + colour, "-fill", "white", "-draw", "rectangle 2,3 9,7"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back("BMP3:" + path);
    EXPECT_EQ(testsupport::runCommand(argv), 0);
    return path;
  }

  void list(const std::vector<std::string>& files) {
    for (const auto& f : files) testsupport::control<QListWidget>(mainWindow()->builderPanel(), "ListBox1")->addItem(QString::fromStdString(f));
  }

  // Runs "Make Avi" as a click delivered through the application, so that
  // an exception reaches the framework's top-level error box as it would
  // for a person. Answers the save dialog with `out` and accepts the
  // compressor dialog with `compressor` picked in its list (uncompressed
  // unless the test picks another).
  // `boxShown` sees each message box before it is answered.
  ModalWatcher& makeAvi(const std::string& out, bool acceptCompressor = true,
                        std::function<void(QMessageBox*)> boxShown = nullptr) {
    watcher = std::make_unique<ModalWatcher>([this, out, acceptCompressor, boxShown](QWidget* w) {
      if (auto* fd = qobject_cast<QFileDialog*>(w)) {
        testsupport::chooseFile(fd, QString::fromStdString(out));
      } else if (auto* box = qobject_cast<QMessageBox*>(w)) {
        if (boxShown) boxShown(box);
        ModalWatcher::acceptDefault(w);
      } else if (auto* d = qobject_cast<QDialog*>(w)) {
        compressorTitle = d->windowTitle();
        if (auto* list = d->findChild<QTreeWidget*>(QStringLiteral("CompressorList"))) {
          for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->data(0, Qt::UserRole).value<quint32>() == compressor)
              list->setCurrentItem(list->topLevelItem(i));
          sizeHeader = list->headerItem()->text(2);
        }
        if (keyFrameEvery > 0) d->findChild<QSpinBox*>(QStringLiteral("KeyFrameEdit"))->setValue(keyFrameEvery);
        if (acceptCompressor) d->accept();
        else d->reject();
      }
    });
    bool done = false;
    QMetaObject::invokeMethod(
        mainWindow(), [&done] { done = true; mainWindow()->builderPanel()->buildFromList(); }, Qt::QueuedConnection);
    EXPECT_TRUE(testsupport::pumpUntil([&] { return done && !QApplication::activeModalWidget(); }, 60000));
    testsupport::pumpFor(50);
    // Every build gives back what it took from the AVI library (a recording
    // a test holds open keeps its own).
    EXPECT_EQ(vfw::AVIFileInitCount(), session().isFileOpen() ? 1 : 0);
    return *watcher;
  }

  static QString status() { return mainWindow()->statusLine()->SimpleText(); }

  std::vector<std::uint8_t> pixelsOf(const std::string& path, int w = 64, int h = 48) {
    auto f = testsupport::decodeFrames(path, w, h, "rgb24");
    return f.empty() ? std::vector<std::uint8_t>{} : f[0];
  }

  testsupport::TempDir dir;
  std::unique_ptr<ModalWatcher> watcher;
  QString compressorTitle;
  QString sizeHeader;  // the compressor list's size column
  vfw::FOURCC compressor = vfw::comptypeDIB;
  int keyFrameEvery = 0;  // > 0: typed into the dialog's key-frame box
  // A lossless compressor that compresses each frame on a second core
  // while the builder converts the next.
  static constexpr vfw::FOURCC kUtVideo = vfw::mmioFOURCC('U', 'L', 'R', 'G');
};

TEST_F(Builder, OneFileGivesOneKeyFrameWithItsPixels) {
  const auto a = bmp("a.bmp", "red");
  list({a});
  const std::string out = dir.file("one.avi");
  makeAvi(out);
  EXPECT_EQ(compressorTitle, QStringLiteral("Choose Compression"));
  const auto p = testsupport::probeVideo(out);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.frameCount, 1);
  EXPECT_EQ(p.keyPackets, 1);
  EXPECT_EQ(p.width, 64);
  EXPECT_EQ(p.height, 48);
  const auto frames = testsupport::decodeFrames(out, 64, 48, "rgb24");
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], pixelsOf(a));
  EXPECT_EQ(status(), QStringLiteral("AVI Completed"));
  EXPECT_EQ(testsupport::control<QProgressBar>(mainWindow()->builderPanel(), "ProgressBar1")->value(), 1);
  EXPECT_EQ(session().frameIndex(), -1);
  EXPECT_TRUE(watcher->texts().filter(QStringLiteral("ERROR")).isEmpty());
}

// The builder follows its compressor dialog: H.264 with "Key frame every"
// 5 gives key frames at 0, 5 and 10 of twelve files, and the dialog sized
// its minute at the panel's rate.
TEST_F(Builder, KeyFramesFollowTheIntervalChosenInTheDialog) {
  const auto red = bmp("red.bmp", "red"), blue = bmp("blue.bmp", "blue");
  std::vector<std::string> files;
  for (int i = 0; i < 12; ++i) files.push_back(i % 3 ? red : blue);
  list(files);
  testsupport::control<QLineEdit>(mainWindow()->builderPanel(), "Edit1")->setText(QStringLiteral("10"));
  compressor = vfw::mmioFOURCC('H', '2', '6', '4');
  keyFrameEvery = 5;
  const std::string out = dir.file("h264.avi");
  makeAvi(out);
  EXPECT_EQ(sizeHeader, QStringLiteral("A minute at 10 fps"));
  const auto flags = testsupport::keyFlags(out);
  EXPECT_EQ(flags.packets, testsupport::everyNth(12, 5));
  EXPECT_EQ(flags.frames, testsupport::everyNth(12, 5));
  EXPECT_EQ(testsupport::decodeFrames(out, 64, 48, "rgb24").size(), 12u);
  EXPECT_EQ(status(), QStringLiteral("AVI Completed"));
}

TEST_F(Builder, RateSetsTheDurationAndRepeatedFilesGiveIdenticalFrames) {
  std::vector<std::string> five;
  for (int i = 0; i < 5; ++i) five.push_back(bmp(QStringLiteral("f%1.bmp").arg(i), i % 2 ? "blue" : "green"));
  list(five);
  const std::string slow = dir.file("slow.avi"), fast = dir.file("fast.avi");
  makeAvi(slow);
  testsupport::control<QLineEdit>(mainWindow()->builderPanel(), "Edit1")->setText(QStringLiteral("10"));
  makeAvi(fast);
  const auto s = testsupport::probeVideo(slow), f = testsupport::probeVideo(fast);
  ASSERT_TRUE(s.ok);
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(s.frameCount, 5);
  EXPECT_EQ(f.frameCount, 5);
  EXPECT_DOUBLE_EQ(double(s.frameCount) * s.rateDen / s.rateNum, 5.0);
  EXPECT_DOUBLE_EQ(double(f.frameCount) * f.rateDen / f.rateNum, 0.5);
  // The list and the rate text are the build's input, never changed by it.
  EXPECT_EQ(testsupport::control<QListWidget>(mainWindow()->builderPanel(), "ListBox1")->count(), 5);
  EXPECT_EQ(testsupport::control<QLineEdit>(mainWindow()->builderPanel(), "Edit1")->text(), QStringLiteral("10"));

  testsupport::control<QListWidget>(mainWindow()->builderPanel(), "ListBox1")->clear();
  list({five[1], five[1], five[1]});
  const std::string same = dir.file("same.avi");
  makeAvi(same);
  const auto frames = testsupport::decodeFrames(same, 64, 48, "rgb24");
  ASSERT_EQ(frames.size(), 3u);
  for (const auto& fr : frames) EXPECT_EQ(fr, pixelsOf(five[1]));
}

TEST_F(Builder, AFileOfAnotherSizeStopsAfterTheFramesBeforeIt) {
  list({bmp("a.bmp", "red"), bmp("b.bmp", "red", 32, 48), bmp("c.bmp", "red")});
  for (vfw::FOURCC c : {vfw::comptypeDIB, kUtVideo}) {
    compressor = c;
    const std::string out = dir.file(QStringLiteral("mixed%1.avi").arg(c));
    ModalWatcher& w = makeAvi(out);
    bool boxSeen = false;
    for (const auto& s : w.seen())
      if (s.text == QStringLiteral("ERROR: Image Format") && s.title == QStringLiteral("ERROR")) boxSeen = true;
    EXPECT_TRUE(boxSeen);
    EXPECT_EQ(status(), QStringLiteral("Use Image Conversion Tool"));
    EXPECT_EQ(testsupport::control<QProgressBar>(mainWindow()->builderPanel(), "ProgressBar1")->value(), 1);
    EXPECT_EQ(testsupport::probeVideo(out).frameCount, 1) << c;
  }
}

TEST_F(Builder, CancellingTheCompressorLeavesAnExistingFileUntouched) {
  list({bmp("a.bmp", "red")});
  const std::string out = dir.file("keep.avi");
  {
    QFile f(QString::fromStdString(out));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("precious");
  }
  mainWindow()->statusLine()->setSimpleText(QStringLiteral("before"));
  makeAvi(out, false);
  QFile f(QString::fromStdString(out));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("precious"));
  EXPECT_EQ(status(), QStringLiteral("before"));

  const std::string none = dir.file("none.avi");
  makeAvi(none, false);
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(none)));
}


// Naming one of the listed files (or a link to it) as the AVI file is
// refused before anything is asked or written: the file stays as it was.
TEST_F(Builder, AnOutputThatIsOneOfTheFilesIsRefused) {
  const auto a = bmp("a.bmp", "red");
  const auto b = bmp("b.bmp", "blue");
  const std::string link = dir.file("link.avi");
  ASSERT_EQ(::symlink(b.c_str(), link.c_str()), 0);
  list({a, b});
  const auto contents = [](const std::string& path) {
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  };
  const QByteArray before = contents(b);
  for (const std::string& out : {b, link}) {
    mainWindow()->statusLine()->setSimpleText(QStringLiteral("before"));
    compressorTitle.clear();
    ModalWatcher& w = makeAvi(out);
    ASSERT_EQ(w.seen().size(), 2u) << out;  // the save dialog, then the refusal
    EXPECT_EQ(w.seen()[1].title, QStringLiteral("ERROR"));
    // The link may come back from the dialog as the file it leads to.
    const QString text = w.seen()[1].text;
    EXPECT_TRUE(text == builder::outputIsInputText(QString::fromStdString(out), QString::fromStdString(b)) ||
                text == builder::outputIsInputText(QString::fromStdString(b), QString::fromStdString(b)))
        << text.toStdString();
    EXPECT_TRUE(compressorTitle.isEmpty());
    EXPECT_EQ(contents(b), before);
    EXPECT_EQ(status(), QStringLiteral("before"));
  }
}
TEST_F(Builder, PaletteFilesBuildIntoFramesWithTheirColours) {
  // 8-bit files with the same palette: 40 colours, more than 4 bits hold.
  const std::vector<std::string> pal{"-dither", "None", "-colors", "40", "-type", "Palette", "-compress", "None"};
  const std::string src = dir.file("src.png");
  ASSERT_EQ(testsupport::runCommand({"convert", "-size", "64x48", "radial-gradient:yellow-navy", src}), 0);
  const std::string a = dir.file("p1.bmp"), b = dir.file("p2.bmp");
  std::vector<std::string> argv{"convert", src};
  argv.insert(argv.end(), pal.begin(), pal.end());
  argv.push_back("BMP3:" + a);
  ASSERT_EQ(testsupport::runCommand(argv), 0);
  ASSERT_EQ(testsupport::runCommand({"cp", a, b}), 0);
  std::string head;
  ASSERT_EQ(testsupport::runCommand({"identify", "-format", "%z %k", a}, &head), 0);
  list({a, b});
  // Kept as 8-bit frames, and looked up into Ut Video's planar RGB.
  for (vfw::FOURCC c : {vfw::comptypeDIB, kUtVideo}) {
    compressor = c;
    const std::string out = dir.file(QStringLiteral("pal%1.avi").arg(c));
    makeAvi(out);
    const auto frames = testsupport::decodeFrames(out, 64, 48, "rgb24");
    ASSERT_EQ(frames.size(), 2u) << head << " " << c;
    EXPECT_EQ(frames[0], pixelsOf(a)) << c;
    EXPECT_EQ(frames[1], pixelsOf(a)) << c;
  }
}

// Sends Esc to the panel once the third file is on show: the third frame is
// still written, the fourth is not.
class EscOnThirdFrame : public QObject {
 public:
  explicit EscOnThirdFrame(std::vector<QRgb> colours) : colours_(std::move(colours)) {
    testsupport::control<framework::Image>(mainWindow()->builderPanel(), "Image3")->installEventFilter(this);
  }
  ~EscOnThirdFrame() override { testsupport::control<framework::Image>(mainWindow()->builderPanel(), "Image3")->removeEventFilter(this); }
  bool disabledDuringBuild = true;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() != QEvent::Paint || testsupport::control<framework::Image>(mainWindow()->builderPanel(), "Image3")->picture().empty() || sent_) return false;
    disabledDuringBuild = disabledDuringBuild && !testsupport::control(mainWindow()->builderPanel(), "Button1")->isEnabled() && !testsupport::control(mainWindow()->builderPanel(), "Button3")->isEnabled() &&
                          !testsupport::control(mainWindow()->builderPanel(), "Button8")->isEnabled() && !testsupport::menuItem("Open1")->isEnabled() && !testsupport::menuItem("Close1")->isEnabled();
    const auto* px = testsupport::control<framework::Image>(mainWindow()->builderPanel(), "Image3")->picture().scanLine(47);  // bottom-left pixel, B G R
    const QRgb c = qRgb(px[2], px[1], px[0]);
    if (colours_.size() > 2 && c == colours_[2]) {
      sent_ = true;
      QCoreApplication::postEvent(testsupport::control<QListWidget>(mainWindow()->builderPanel(), "ListBox1"), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    }
    return false;
  }

 private:
  std::vector<QRgb> colours_;
  bool sent_ = false;
};

TEST_F(Builder, EscAfterTheThirdFrameKeepsThreeFrames) {
  const std::vector<std::string> names{"red", "lime", "blue", "yellow", "cyan"};
  const std::vector<QRgb> colours{qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 255, 0),
                                  qRgb(0, 255, 255)};
  std::vector<std::string> files;
  for (std::size_t i = 0; i < names.size(); ++i) files.push_back(bmp(QStringLiteral("e%1.bmp").arg(i), names[i]));
  list(files);
  // Ut Video: the third frame is still compressing when Esc ends the loop.
  for (vfw::FOURCC c : {vfw::comptypeDIB, kUtVideo}) {
    compressor = c;
    EscOnThirdFrame esc(colours);
    const std::string out = dir.file(QStringLiteral("esc%1.avi").arg(c));
    makeAvi(out);
    EXPECT_TRUE(esc.disabledDuringBuild);
    EXPECT_TRUE(testsupport::control(mainWindow()->builderPanel(), "Button3")->isEnabled());
    EXPECT_TRUE(testsupport::menuItem("Open1")->isEnabled());
    const auto frames = testsupport::decodeFrames(out, 64, 48, "rgb24");
    ASSERT_EQ(frames.size(), 3u) << c;
    EXPECT_EQ(frames[2], pixelsOf(files[2])) << c;
    EXPECT_EQ(status(), QStringLiteral("AVI stopped: 3 frames written"));
    EXPECT_EQ(testsupport::control<QProgressBar>(mainWindow()->builderPanel(), "ProgressBar1")->value(), 1);
    EXPECT_FALSE(mainWindow()->builderPanel()->isBuilding());
  }
}

TEST_F(Builder, RateTextsThatAreNoFrameRate) {
  list({bmp("a.bmp", "red")});
  // Not a whole number from 1 to 1000: refused by the recording's own rule
  // before a name is asked for, and no file is left behind.
  for (const char* rate : {"fast", "0", "-5", "1001"}) {
    testsupport::control<QLineEdit>(mainWindow()->builderPanel(), "Edit1")->setText(QString::fromLatin1(rate));
    const std::string none = dir.file("zero.avi");
    ModalWatcher& z = makeAvi(none);
    ASSERT_EQ(z.seen().size(), 1u) << rate;
    EXPECT_TRUE(z.texts()[0].contains(QStringLiteral("frame rate"))) << z.texts()[0].toStdString();
    EXPECT_TRUE(z.texts()[0].endsWith(QStringLiteral("press Make Avi again."))) << z.texts()[0].toStdString();
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(none)));
    EXPECT_FALSE(mainWindow()->builderPanel()->isBuilding());
    EXPECT_TRUE(testsupport::control(mainWindow()->builderPanel(), "Button3")->isEnabled());
  }
}

TEST_F(Builder, FilesThatCannotBeReadEndTheBuildWithTheLoadersMessage) {
  const auto a = bmp("a.bmp", "red");
  const QString gone = dir.path() + "/gone.bmp";
  list({a, gone.toStdString(), a});
  for (vfw::FOURCC c : {vfw::comptypeDIB, kUtVideo}) {
    compressor = c;
    const std::string out = dir.file(QStringLiteral("gone%1.avi").arg(c));
    ModalWatcher& w = makeAvi(out);
    EXPECT_TRUE(w.texts().contains("Cannot open file " + gone));
    EXPECT_EQ(testsupport::probeVideo(out).frameCount, 1) << c;  // the frame before it stays
    EXPECT_FALSE(mainWindow()->builderPanel()->isBuilding());
  }
  compressor = vfw::comptypeDIB;

  // A broken first file: nothing is created at all.
  const std::string text = dir.file("text.bmp");
  {
    QFile f(QString::fromStdString(text));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("BM not really a bitmap");
  }
  testsupport::control<QListWidget>(mainWindow()->builderPanel(), "ListBox1")->clear();
  list({text, a});
  const std::string none = dir.file("broken.avi");
  ModalWatcher& b = makeAvi(none);
  EXPECT_TRUE(b.texts().contains(QStringLiteral("Bitmap image is not valid")));
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(none)));
}

// A frame whose write fails ends the build with the empty "ERROR" box, and
// the file plays the frames before it. The build runs in a child process
// whose file size is limited to between what three and four frames need:
// with four files the last frame fails when the build finishes, with eight
// the fourth fails while later frames are still coming.
TEST_F(Builder, AWriteThatFailsKeepsTheFramesBeforeIt) {
  const auto a = bmp("noise.bmp", "red", 160, 120, {"-seed", "7", "+noise", "Random", "-type", "TrueColor"});
  compressor = kUtVideo;
  auto sizeWith = [&](int n) {
    testsupport::control<QListWidget>(mainWindow()->builderPanel(), "ListBox1")->clear();
    list(std::vector<std::string>(std::size_t(n), a));
    const std::string out = dir.file(QStringLiteral("free%1.avi").arg(n));
    makeAvi(out);
    return QFileInfo(QString::fromStdString(out)).size();
  };
  const qint64 limit = (sizeWith(3) + sizeWith(4)) / 2;
  const std::string self = QCoreApplication::applicationFilePath().toStdString();
  for (int files : {4, 8}) {
    SCOPED_TRACE(files);
    const std::string out = dir.file(QStringLiteral("full%1.avi").arg(files));
    qputenv("KESTREL_BUILDER_CHILD", QStringLiteral("%1|%2|%3").arg(files).arg(QString::fromStdString(a),
                                                                              QString::fromStdString(out)).toUtf8());
    std::string log;
    // The child runs on this run's platform (offscreen, without a display).
    const int rc = testsupport::runCommand({"prlimit", "--fsize=" + std::to_string(limit), "--", self,
                                            "--gtest_filter=Builder.ChildBuildsUntilTheFileCannotGrow", "-platform",
                                            QGuiApplication::platformName().toStdString()},
                                           &log, 120000);
    qunsetenv("KESTREL_BUILDER_CHILD");
    EXPECT_EQ(rc, 0) << log;
    EXPECT_NE(log.find("[  PASSED  ] 1 test"), std::string::npos) << log;
    const auto frames = testsupport::decodeFrames(out, 160, 120, "rgb24");
    ASSERT_EQ(frames.size(), 3u);
    for (const auto& f : frames) EXPECT_EQ(f, pixelsOf(a, 160, 120));
  }
}

TEST_F(Builder, ChildBuildsUntilTheFileCannotGrow) {
  const QStringList job = qEnvironmentVariable("KESTREL_BUILDER_CHILD").split('|');
  if (job.size() != 3) GTEST_SKIP() << "runs inside AWriteThatFailsKeepsTheFramesBeforeIt";
  list(std::vector<std::string>(std::size_t(job[0].toInt()), job[1].toStdString()));
  compressor = kUtVideo;
  ModalWatcher& w = makeAvi(job[2].toStdString());
  bool emptyErrorBox = false;
  for (const auto& box : w.seen())
    if (box.title == QStringLiteral("ERROR") && box.text.isEmpty()) emptyErrorBox = true;
  EXPECT_TRUE(emptyErrorBox);
  EXPECT_EQ(status(), QStringLiteral("Use Image Conversion Tool"));
  EXPECT_EQ(testsupport::control<QProgressBar>(mainWindow()->builderPanel(), "ProgressBar1")->value(), 1);
}

TEST_F(Builder, AnOpenRecordingIsNotCutOffFromItsFile) {
  list({bmp("a.bmp", "red")});
  // A recording holds its file: started, and one frame written.
  testsupport::showOnScreen(gdi::loadBmp(QString::fromStdString(bmp("frame.bmp", "red"))));
  session().fixTarget({0, 0, 8, 8});
  session().beat();
  recording::RecordingSettings settings;
  settings.file = QString::fromStdString(dir.file("recording.avi"));
  settings.rate = 5;
  settings.compressor.fccType = vfw::streamtypeVIDEO;
  settings.compressor.fccHandler = vfw::comptypeDIB;
  ASSERT_EQ(session().start(settings), recording::StartOutcome::Started);
  ASSERT_TRUE(testsupport::pumpUntil([] { return session().frameIndex() >= 0; }, 3000));
  const std::string out = dir.file("rec.avi");
  ModalWatcher& w = makeAvi(out);
  ASSERT_EQ(w.seen().size(), 1u);
  EXPECT_EQ(w.seen()[0].className, QStringLiteral("QMessageBox"));
  EXPECT_GE(session().frameIndex(), 0);
  EXPECT_TRUE(session().isFileOpen());
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(out)));
  const int frames = session().frameIndex() + 1;
  session().cancel();
  EXPECT_EQ(testsupport::probeVideo(dir.file("recording.avi")).frameCount, frames);

  // An empty list does nothing at all.
  testsupport::control<QListWidget>(mainWindow()->builderPanel(), "ListBox1")->clear();
  EXPECT_TRUE(makeAvi(out).seen().empty());
}

TEST_F(Builder, PanelCommandsKeepTheListAndTheRate) {
  const auto a = bmp("a.bmp", "red");
  ModalWatcher w([&a](QWidget* wd) {
    if (auto* fd = qobject_cast<QFileDialog*>(wd)) {
      testsupport::chooseFile(fd, QString::fromStdString(a));
    }
  });
  testsupport::control(mainWindow()->builderPanel(), "Button1")->click();
  testsupport::control(mainWindow()->builderPanel(), "Button1")->click();
  ASSERT_EQ(testsupport::control<QListWidget>(mainWindow()->builderPanel(), "ListBox1")->count(), 2);  // the same path twice: two frames
  EXPECT_EQ(testsupport::control<QListWidget>(mainWindow()->builderPanel(), "ListBox1")->item(1)->text(), QFileInfo(QString::fromStdString(a)).absoluteFilePath());

  testsupport::control<QLineEdit>(mainWindow()->builderPanel(), "Edit1")->setText(QStringLiteral("7"));
  testsupport::menuItem("Close1")->trigger();
  EXPECT_TRUE(mainWindow()->builderPanel()->isHidden());
  testsupport::menuItem("Open1")->trigger();
  EXPECT_FALSE(mainWindow()->builderPanel()->isHidden());
  EXPECT_EQ(testsupport::control<QListWidget>(mainWindow()->builderPanel(), "ListBox1")->count(), 2);
  EXPECT_EQ(testsupport::control<QLineEdit>(mainWindow()->builderPanel(), "Edit1")->text(), QStringLiteral("7"));

  testsupport::control(mainWindow()->builderPanel(), "Button8")->click();
  EXPECT_EQ(testsupport::control<QListWidget>(mainWindow()->builderPanel(), "ListBox1")->count(), 0);
}

}  // namespace

// An output that cannot be created (in /proc, where nobody may create a
// file) shows its error box without "Press [ESC] to Abort" under it.
TEST_F(Builder, EscIsOfferedOnlyOnceTheFileIsOpen) {
  list({bmp("a.bmp", "red"), bmp("b.bmp", "red")});
  QStringList underBoxes;
  ModalWatcher& w = makeAvi("/proc/kestrel-test.avi", true, [&underBoxes](QMessageBox*) { underBoxes << status(); });
  ASSERT_FALSE(w.seen().empty());
  ASSERT_FALSE(underBoxes.isEmpty());
  EXPECT_FALSE(underBoxes.contains(QStringLiteral("Press [ESC] to Abort"))) << underBoxes.join('|').toStdString();
  EXPECT_EQ(status(), QStringLiteral("Use Image Conversion Tool"));
}
