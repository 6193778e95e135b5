// A snapshot of what the real X screen shows, taken by double-clicking the
// snapshot icon in a real notification area (trayer) with the mouse
// (xdotool); the BMP must equal the screen under the rectangle as
// ImageMagick's `import` reads it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QPainter>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QWidget>

#include "support/programwindows.h"
#include "app/mainwindow.h"
#include "components/trayicon.h"
#include "framework/image.h"
#include "framework/timer.h"
#include "platform/shell/shell.h"
#include "platform/window/screengrab.h"
#include "support/choosefile.h"
#include "support/media.h"
#include "support/modal.h"
#include "support/tempdir.h"

namespace {

// A window of known colours where the capture rectangle will be.
class Pattern : public QWidget {
 public:
  Pattern() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    for (int y = 0; y < height(); y += 8)
      for (int x = 0; x < width(); x += 8) p.fillRect(x, y, 8, 8, QColor(x * 2 % 256, y * 3 % 256, (x + y) % 256));
  }
};

std::vector<std::uint8_t> rgb(const std::vector<std::string>& argv) {
  std::string out;
  if (testsupport::runCommand(argv, &out) != 0) return {};
  return std::vector<std::uint8_t>(out.begin(), out.end());
}

void snapshotOfTheScreen(bool throughTheTray) {
  if (qgetenv("DISPLAY").isEmpty()) GTEST_SKIP() << "needs the X server of scripts/test.sh";
  testsupport::ProgramWindows program(testsupport::ProgramWindows::Preferences::Pending);
  testsupport::TempDir dir;

  QProcess trayHost;
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    trayHost.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("bottom"),
                                              QStringLiteral("--align"), QStringLiteral("right"),
                                              QStringLiteral("--widthtype"), QStringLiteral("request")});
    testsupport::pumpUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 5000);
    // trayer claims the tray before the window manager shows its panel; an
    // icon docked into a panel not shown yet may never show.
    testsupport::pumpUntil(
        [] { return testsupport::runCommand({"xdotool", "search", "--onlyvisible", "--class", "trayer"}) == 0; },
        10000);
  }

  Pattern pattern;
  const QRect r(300, 200, 96, 64);
  pattern.setGeometry(r);
  pattern.show();
  testsupport::pumpFor(500);

  // The preview as the grab fills it: the real screen inside the rectangle,
  // then no further grab while the snapshot is taken.
  session().fixTarget(wnd::RECT{r.left(), r.top(), r.right() + 1, r.bottom() + 1});
  ASSERT_TRUE(testsupport::pumpUntil([] { return !mainWindow()->preview()->picture().empty(); }, 3000));
  session().setPreviewInterval(3600000);

  const QString out = dir.path() + "/screen";
  testsupport::ModalWatcher watcher([&out](QWidget* w) {
    if (auto* fd = qobject_cast<QFileDialog*>(w)) {
      testsupport::chooseFile(fd, out);
    } else {
      testsupport::ModalWatcher::acceptDefault(w);
    }
  });

  testsupport::menuItem("On2")->trigger();
  if (!throughTheTray) {
    QMetaObject::invokeMethod(mainWindow(), [] { mainWindow()->saveSnapshot(); }, Qt::QueuedConnection);
  } else {
    // Only an icon that the tray host has embedded and shown has a place:
    // before that Qt reports its unmapped window at the screen's origin.
    QRect icon;
    testsupport::pumpUntil(
        [&] {
          icon = shell::notifyIconGeometry(mainWindow()->snapshotTrayIcon()->messageWindow(), mainWindow()->snapshotTrayIcon()->iconData().uID);
          return !icon.isEmpty();
        },
        5000);
    ASSERT_FALSE(icon.isEmpty()) << "no notification area showed the snapshot icon";
    // Let the embedding settle: the host may still move the icon into place.
    testsupport::pumpFor(300);
    icon = shell::notifyIconGeometry(mainWindow()->snapshotTrayIcon()->messageWindow(), mainWindow()->snapshotTrayIcon()->iconData().uID);
    const QPoint c = icon.center();
    ASSERT_EQ(testsupport::runCommand({"xdotool", "mousemove", std::to_string(c.x()), std::to_string(c.y())}), 0);
    testsupport::pumpFor(200);
    ASSERT_EQ(testsupport::runCommand({"xdotool", "click", "--repeat", "2", "--delay", "80", "1"}), 0);
  }
  const QString file = out + ".bmp";
  testsupport::pumpUntil([&] { return QFileInfo::exists(file) && !QApplication::activeModalWidget(); }, 15000);
  testsupport::pumpFor(200);
  ASSERT_TRUE(QFileInfo::exists(file));

  const std::string crop = "96x64+300+200";
  const auto screen = rgb({"import", "-window", "root", "-crop", crop, "-depth", "8", "rgb:-"});
  const auto saved = rgb({"convert", file.toStdString(), "-depth", "8", "rgb:-"});
  ASSERT_EQ(saved.size(), std::size_t(96 * 64 * 3));
  EXPECT_EQ(saved, screen);
  // And the pattern is what was on the screen there.
  EXPECT_EQ(saved[0], 0);
  EXPECT_EQ(saved[3 * 9], 16);  // second block: red 8 * 2

  testsupport::menuItem("Off2")->trigger();
  session().stopPreview();
  trayHost.kill();
  trayHost.waitForFinished();
}

// The handler with a real screen grab and the real save dialog.
TEST(SnapshotScreen, TheHandlerSavesTheScreenUnderTheRectangle) { snapshotOfTheScreen(false); }

// The real double click: trayer as the notification area, xdotool's mouse.
TEST(SnapshotScreen, DoubleClickOnTheTrayIconSavesTheScreenUnderTheRectangle) { snapshotOfTheScreen(true); }

}  // namespace
