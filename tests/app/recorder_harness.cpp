#include "recorder_harness.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>

#include "support/choosefile.h"
#include <QFileInfo>
#include <QListWidget>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QStandardPaths>
#include <QTreeWidget>

#include "support/programwindows.h"
#include "app/mainwindow.h"
#include "framework/image.h"
#include "framework/timer.h"
#include "platform/gdi/bitmap.h"
#include "target/captureframe.h"

namespace recorder_test {

void RecorderFixture::SetUp() {
  dir = std::make_unique<testsupport::TempDir>();
  program = std::make_unique<testsupport::ProgramWindows>();
}

void RecorderFixture::TearDown() {
  program.reset();
  dir.reset();
}

void RecorderFixture::nameFile(const QString& name) {
  const QString full = QFileInfo(name).isAbsolute() ? name : dir->path() + QLatin1Char('/') + name;
  testsupport::ModalWatcher watcher([full](QWidget* w) {
    if (auto* fd = qobject_cast<QFileDialog*>(w)) {
      testsupport::chooseFile(fd, full);
    } else {
      testsupport::ModalWatcher::acceptDefault(w);
    }
  });
  mainWindow()->recordNewFile();
}

void RecorderFixture::fixTarget() {
  captureFrame()->fixRectangle();
  ASSERT_TRUE(session().previewing()) << "the capture frame's X starts the grab";
}

void RecorderFixture::start(const QString& compressor) {
  testsupport::ModalWatcher watcher([compressor](QWidget* w) {
    if (qobject_cast<QMessageBox*>(w) || compressor.isEmpty()) testsupport::ModalWatcher::acceptDefault(w);
    else chooseCompressor(w, compressor);
  });
  mainWindow()->startRecording();
  for (const auto& s : watcher.seen()) {
    if (s.className == QLatin1String("QMessageBox")) {
      boxes << s.text;
      boxCaptions << s.title;
    }
  }
}

void RecorderFixture::feed(std::uint32_t bgra, int width, int height) {
  gdi::Bitmap bmp = gdi::Bitmap::device(width, height, gdi::PixelFormat::Rgb32);
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(bmp.scanLine(y));
    for (int x = 0; x < width; ++x) row[x] = bgra;
  }
  testsupport::showOnScreen(bmp);
  // The next grab shows it.
  const auto grabs = session().grabCount();
  testsupport::pumpUntil([grabs] { return session().grabCount() > grabs || !session().previewing(); }, 3000);
}

bool RecorderFixture::waitForFrame(int n, int ms) {
  return testsupport::pumpUntil([n] { return session().frameIndex() >= n; }, ms);
}

void RecorderFixture::expectToolbar(bool record, bool start_, bool pause, bool stop, bool cancel) {
  EXPECT_EQ(testsupport::control(mainWindow(), "Button11")->isEnabled(), record) << "Record";
  EXPECT_EQ(testsupport::control(mainWindow(), "Button4")->isEnabled(), start_) << "Start";
  EXPECT_EQ(testsupport::control(mainWindow(), "Button5")->isEnabled(), pause) << "Pause";
  EXPECT_EQ(testsupport::control(mainWindow(), "Button6")->isEnabled(), stop) << "Stop";
  EXPECT_EQ(testsupport::control(mainWindow(), "Button7")->isEnabled(), cancel) << "Cancel";
}

void chooseCompressor(QWidget* w, const QString& name) {
  bool found = false;
  for (auto* cb : w->findChildren<QComboBox*>()) {
    const int i = cb->findText(name);
    if (i >= 0) {
      cb->setCurrentIndex(i);
      found = true;
    }
  }
  for (auto* lw : w->findChildren<QListWidget*>()) {
    const auto items = lw->findItems(name, Qt::MatchExactly);
    if (!items.isEmpty()) {
      lw->setCurrentItem(items.first());
      found = true;
    }
  }
  for (auto* tw : w->findChildren<QTreeWidget*>()) {
    const auto items = tw->findItems(name, Qt::MatchExactly, 0);
    if (!items.isEmpty()) {
      tw->setCurrentItem(items.first());
      found = true;
    }
  }
  auto* d = qobject_cast<QDialog*>(w);
  if (!d) return;
  auto* ok = w->findChild<QPushButton*>(QStringLiteral("OkButton"));
  if (found && ok && ok->isEnabled()) ok->click();
  else if (found) QMetaObject::invokeMethod(d, "accept");
  else d->reject();
}

}  // namespace recorder_test
