// Snapshots: the "Eazy Capture" commands and the snapshot icon's
// double-click, through the real menu items, save dialog and message boxes.
// Every BMP written is read back by ImageMagick.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "support/programwindows.h"
#include "app/mainwindow.h"
#include "components/trayicon.h"
#include "framework/application.h"
#include "framework/image.h"
#include "framework/timer.h"
#include "platform/shell/shell.h"
#include "support/choosefile.h"
#include "support/media.h"
#include "support/modal.h"
#include "support/tempdir.h"

namespace {

using testsupport::ModalWatcher;

// The offscreen platform has no notification area; this double stands in
// for it and remembers whether the snapshot icon is shown. (The real one is
// driven in snapshot_screen_test.)
class FakeNotifyArea : public shell::NotifyArea {
 public:
  shell::BOOL notify(shell::DWORD message, const shell::NOTIFYICONDATA&) override {
    if (message == shell::NIM_ADD) shown = true;
    if (message == shell::NIM_DELETE) shown = false;
    return 1;
  }
  bool shown = false;
};
FakeNotifyArea g_area;

class Snapshot : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    previousArea = shell::setNotifyArea(&g_area);
    program = new testsupport::ProgramWindows(testsupport::ProgramWindows::Preferences::Pending);
  }
  static void TearDownTestSuite() {
    delete program;
    shell::setNotifyArea(previousArea);
  }
  static inline testsupport::ProgramWindows* program = nullptr;
  static inline shell::NotifyArea* previousArea = nullptr;
  void TearDown() override {
    session().stopPreview();
    mainWindow()->preview()->setPicture(gdi::Bitmap());
  }

  // The preview as the grab leaves it: a 32-bit device bitmap. The grab
  // timer is enabled with an interval long enough never to tick here.
  static gdi::Bitmap preview(int w, int h) {
    gdi::Bitmap b = gdi::Bitmap::device(w, h, gdi::PixelFormat::Rgb32);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        std::uint8_t* p = b.scanLine(y) + 4 * x;
        p[0] = std::uint8_t(x * 9);
        p[1] = std::uint8_t(y * 13);
        p[2] = std::uint8_t(200 - x - y);
      }
    return b;
  }
  static void startPreview(const gdi::Bitmap& b) {
    testsupport::showOnScreen(b);
    session().setPreviewInterval(3600000);
    session().startPreview();
    mainWindow()->preview()->setPicture(b);
  }

  // Double-clicks the snapshot icon (delivered through the application, so
  // an error reaches the top-level error box), naming `name` in the dialog
  // or cancelling it when name is empty.
  std::unique_ptr<ModalWatcher> doubleClick(const QString& name, QString* proposed = nullptr) {
    auto w = std::make_unique<ModalWatcher>([name, proposed](QWidget* wd) {
      if (auto* fd = qobject_cast<QFileDialog*>(wd)) {
        if (proposed && !fd->selectedFiles().isEmpty()) *proposed = QFileInfo(fd->selectedFiles().first()).fileName();
        if (name.isEmpty()) {
          fd->reject();
        } else {
          testsupport::chooseFile(fd, name);
        }
      } else {
        ModalWatcher::acceptDefault(wd);
      }
    });
    bool done = false;
    // Marked done on the way out too when the handler throws: the error
    // goes on to the application's handler, which shows the error box.
    struct Done {
      bool& flag;
      ~Done() { flag = true; }
    };
    QMetaObject::invokeMethod(
        mainWindow(), [&done] { Done mark{done}; mainWindow()->saveSnapshot(); }, Qt::QueuedConnection);
    testsupport::pumpUntil([&] { return done && !QApplication::activeModalWidget(); }, 20000);
    testsupport::pumpFor(30);
    return w;
  }

  testsupport::TempDir dir;
};

std::vector<std::uint8_t> rgbOf(const gdi::Bitmap& b) {
  std::vector<std::uint8_t> out;
  for (int y = 0; y < b.height(); ++y)
    for (int x = 0; x < b.width(); ++x) {
      const std::uint8_t* p = b.scanLine(y) + 4 * x;
      out.insert(out.end(), {p[2], p[1], p[0]});
    }
  return out;
}

std::vector<std::uint8_t> imageMagickRgb(const QString& path) {
  std::string out;
  if (testsupport::runCommand({"convert", path.toStdString(), "-depth", "8", "rgb:-"}, &out) != 0) return {};
  return std::vector<std::uint8_t>(out.begin(), out.end());
}

TEST_F(Snapshot, WithoutAPreviewOnlyTheNoticeShows) {
  auto w = doubleClick(dir.path() + "/never.bmp");
  ASSERT_EQ(w->seen().size(), 1u);
  EXPECT_EQ(w->seen()[0].text, QStringLiteral("Start New Avi First."));
  EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

TEST_F(Snapshot, SavesThePreviewAddsTheExtensionAndKeepsTheName) {
  const gdi::Bitmap pic = preview(37, 21);
  startPreview(pic);
  auto w = doubleClick(dir.path() + "/first");
  const QString first = dir.path() + "/first.bmp";
  ASSERT_TRUE(QFileInfo::exists(first));
  EXPECT_EQ(imageMagickRgb(first), rgbOf(pic));
  EXPECT_EQ(w->seen().size(), 1u);  // the dialog only: no message after a save

  // The next snapshot proposes the same name and replaces the file silently.
  const gdi::Bitmap pic2 = preview(20, 10);
  mainWindow()->preview()->setPicture(pic2);
  QString proposed;
  auto w2 = doubleClick(first, &proposed);
  EXPECT_EQ(proposed, QStringLiteral("first.bmp"));
  EXPECT_EQ(imageMagickRgb(first), rgbOf(pic2));
  EXPECT_EQ(w2->seen().size(), 1u);

  // Cancel writes nothing.
  auto w3 = doubleClick(QString());
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

// The dialog takes a name in a folder that does not exist (it only refuses
// names longer than the file system allows, and silently), but the file
// cannot be created there, not even by root.
TEST_F(Snapshot, AFileThatCannotBeCreatedGivesTheFrameworksErrorBox) {
  startPreview(preview(8, 8));
  testsupport::menuItem("On2")->trigger();
  const QString impossible = dir.path() + "/missing/shot.bmp";
  const int before = framework::handledExceptionCount();
  auto w = doubleClick(impossible);
  EXPECT_EQ(framework::handledExceptionCount(), before + 1);
  EXPECT_TRUE(w->texts().contains("Cannot create file " + impossible)) << w->texts().join('|').toStdString();
  EXPECT_TRUE(mainWindow()->snapshotTrayIcon()->Active());
  EXPECT_TRUE(g_area.shown);
  // Nothing was made: neither the folder nor a half file.
  EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
  testsupport::menuItem("Off2")->trigger();
}

TEST_F(Snapshot, AnEmptyPreviewWritesNothing) {
  startPreview(gdi::Bitmap());
  auto w = doubleClick(dir.path() + "/empty.bmp");
  EXPECT_FALSE(QFileInfo::exists(dir.path() + "/empty.bmp"));
}

TEST_F(Snapshot, MenuCommandsSetIconCheckMarksAndCaptureType) {
  EXPECT_FALSE(mainWindow()->snapshotTrayIcon()->Active());
  testsupport::menuItem("On2")->trigger();
  EXPECT_TRUE(mainWindow()->snapshotTrayIcon()->Active());
  EXPECT_TRUE(g_area.shown);
  EXPECT_TRUE(testsupport::menuItem("On2")->isChecked());
  EXPECT_FALSE(testsupport::menuItem("Off2")->isChecked());
  testsupport::menuItem("On2")->trigger();  // again: still on, marks still opposite
  EXPECT_TRUE(testsupport::menuItem("On2")->isChecked());
  EXPECT_FALSE(testsupport::menuItem("Off2")->isChecked());
  testsupport::menuItem("Off2")->trigger();
  EXPECT_FALSE(mainWindow()->snapshotTrayIcon()->Active());
  EXPECT_FALSE(g_area.shown);
  EXPECT_FALSE(testsupport::menuItem("On2")->isChecked());
  EXPECT_TRUE(testsupport::menuItem("Off2")->isChecked());

  const QSize icon = mainWindow()->snapshotTrayIcon()->Icon().availableSizes().value(0);
  EXPECT_EQ(icon, QSize(32, 32));

  testsupport::menuItem("Single1")->setEnabled(true);
  testsupport::menuItem("Single1")->trigger();
  EXPECT_EQ(mainWindow()->captureType(), app::MainWindow::CaptureType::SingleImage);
  EXPECT_TRUE(testsupport::menuItem("Single1")->isChecked());
  EXPECT_FALSE(testsupport::menuItem("Avi1")->isChecked());
  testsupport::menuItem("Avi1")->trigger();
  EXPECT_EQ(mainWindow()->captureType(), app::MainWindow::CaptureType::Avi);
  EXPECT_FALSE(testsupport::menuItem("Single1")->isChecked());
  EXPECT_TRUE(testsupport::menuItem("Avi1")->isChecked());
  testsupport::menuItem("Single1")->setEnabled(false);

  // A single click on the icon does nothing at all.
  ModalWatcher w;
  if (mainWindow()->snapshotTrayIcon()->OnClick) mainWindow()->snapshotTrayIcon()->OnClick(nullptr);
  testsupport::pumpFor(50);
  EXPECT_TRUE(w.seen().empty());
}

}  // namespace
