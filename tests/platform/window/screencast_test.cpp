// The screen-cast portal and PipeWire on a real Wayland desktop (headless
// sway with XWayland, PipeWire, xdg-desktop-portal-wlr; started by
// scripts/wayland-session.sh): a native client's pattern read back pixel
// for pixel, the permission token, a cast that ends under a grab, another
// monitor scale, and the X11 path refusing rootless XWayland in words.
#include <gtest/gtest.h>

#include <signal.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <cstring>
#include <iostream>

#include "platform/window/castcheck.h"
#include "platform/window/display.h"
#include "platform/window/screencast.h"
#include "platform/window/screengrab.h"
#include "support/pattern.h"

namespace {

using namespace castcheck;

bool sway(const QStringList& args) { return QProcess::execute(QStringLiteral("swaymsg"), args) == 0; }

}  // namespace

TEST(ScreenCast, NativeClientPixelForPixelWithTheX11Rules) {
  PatternClient client;
  ASSERT_TRUE(client.start()) << "the native Wayland client did not start";
  std::vector<std::string> tokens;
  wnd::PortalGrabber g({"", [&](const std::string& t) { tokens.push_back(t); }});
  ASSERT_NO_THROW(g.prepare());
  const wnd::ScreenCastArea a = g.area();
  EXPECT_EQ(a.x, 0);
  EXPECT_EQ(a.y, 0);
  EXPECT_EQ(a.width, kScreenW);
  EXPECT_EQ(a.height, kScreenH);
  EXPECT_EQ(g.frameSize(), std::make_pair(kScreenW, kScreenH));
  EXPECT_FALSE(g.bufferKind().empty());

  const wnd::RECT inner{20, 10, 20 + 97, 10 + 61};
  ASSERT_EQ(settle(g, inner, testpattern::colour), 0);
  // The same rectangles as the X11 grab's: the capture frame's start two
  // columns left of the screen, wholly off on each side, larger than the
  // screen on every side, and over the bottom-right corner.
  for (const wnd::RECT& r :
       {wnd::RECT{-2, 0, 253, 253}, wnd::RECT{-300, 10, -100, 60}, wnd::RECT{kScreenW, 0, kScreenW + 40, 30},
        wnd::RECT{10, -90, 50, 0}, wnd::RECT{5, kScreenH + 3, 25, kScreenH + 9},
        wnd::RECT{-7, -5, kScreenW + 11, kScreenH + 3}, wnd::RECT{1200, 650, 1300, 740}}) {
    SCOPED_TRACE(testing::Message() << r.left << "," << r.top << " " << r.width() << "x" << r.height());
    EXPECT_EQ(wrongPixels(g.grab(r), r), 0);
  }
  // A copy that awaits a new picture arrives with the cast's next frame
  // (or once the wait is over, on a desktop that sends none for a screen
  // that does not change), with the pixels.
  g.awaitNewPicture();
  QElapsedTimer waited;
  waited.start();
  g.startGrab(inner);
  EXPECT_TRUE(g.grabPending());
  while (!g.grabArrived() && waited.elapsed() < 5000) QThread::msleep(5);
  EXPECT_TRUE(g.grabArrived());
  EXPECT_EQ(wrongPixels(g.finishGrab(), inner), 0);
  g.startGrab(inner);
  EXPECT_TRUE(g.grabArrived()) << "the next copy is made at once";
  g.finishGrab();

  EXPECT_THROW(g.grab({10, 10, 10, 50}), wnd::Error);
  EXPECT_THROW(g.grab({0, 0, 70000, 10}), wnd::Error);

  // The desktop handed out a permission; a second cast with it starts
  // without asking and sees the same pixels.
  ASSERT_EQ(tokens.size(), 1u);
  EXPECT_FALSE(tokens[0].empty());
  std::vector<std::string> again;
  wnd::PortalGrabber second({tokens[0], [&](const std::string& t) { again.push_back(t); }});
  ASSERT_NO_THROW(second.prepare());
  EXPECT_EQ(settle(second, inner, testpattern::colour), 0);
  EXPECT_FALSE(second.token().empty());
}

// The desktop's side of the cast goes away under a running recording (here
// the portal's back end dies, which takes its PipeWire stream with it): the
// grab fails with the reason, never a black picture, and once the portal is
// back a new prepare() casts again.
TEST(ScreenCast, CastThatEndsIsAnErrorAndCanStartAgain) {
  PatternClient client;
  ASSERT_TRUE(client.start());
  wnd::PortalGrabber g;
  ASSERT_NO_THROW(g.prepare());
  ASSERT_EQ(settle(g, {0, 0, 64, 64}, testpattern::colour), 0);
  const QDBusReply<uint> pid =
      QDBusConnection::sessionBus().interface()->servicePid(QStringLiteral("org.freedesktop.impl.portal.desktop.wlr"));
  ASSERT_TRUE(pid.isValid());
  ASSERT_EQ(::kill(pid_t(pid.value()), SIGTERM), 0);
  std::string message;
  QElapsedTimer t;
  t.start();
  while (message.empty() && t.elapsed() < 10000) {
    try {
      g.grab({0, 0, 64, 64});
      QCoreApplication::processEvents();
      QThread::msleep(20);
    } catch (const wnd::Error& e) {
      message = e.what();
    }
  }
  EXPECT_NE(message.find("ended"), std::string::npos) << message;
  // It stays ended, in the same words, until prepare() is called.
  try {
    g.grab({0, 0, 64, 64});
    ADD_FAILURE() << "a grab after the end succeeded";
  } catch (const wnd::Error& e) {
    EXPECT_EQ(e.what(), message);
  }
  ASSERT_NO_THROW(g.prepare());
  EXPECT_EQ(settle(g, {0, 0, 64, 64}, testpattern::colour), 0);
}

namespace {

// The portal's wlroots back end, restarted with another configuration
// (the bus starts it again on the next call), and back to the session's
// at the end.
class BackendConfig {
 public:
  explicit BackendConfig(const QByteArray& config) : path_(qEnvironmentVariable("XDG_CONFIG_HOME") +
                                                           QStringLiteral("/xdg-desktop-portal-wlr/config")) {
    QFile f(path_);
    if (f.open(QIODevice::ReadOnly)) saved_ = f.readAll();
    write(config);
  }
  ~BackendConfig() { write(saved_); }

 private:
  void write(const QByteArray& text) {
    QFile f(path_);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(text);
    f.close();
    restartBackend();
  }
  static void restartBackend() {
    const QString name = QStringLiteral("org.freedesktop.impl.portal.desktop.wlr");
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    const QDBusReply<uint> pid = bus->servicePid(name);
    if (!pid.isValid()) return;
    ::kill(pid_t(pid.value()), SIGTERM);
    for (int i = 0; i < 200 && bus->isServiceRegistered(name).value(); ++i) QThread::msleep(10);
  }
  QString path_;
  QByteArray saved_;
};

}  // namespace

// The user declines the desktop's question (here its chooser gives no
// monitor): the reason in words, and grabs repeat it without asking the
// user again; only prepare() asks again.
TEST(ScreenCast, DeclinedIsToldAndNotAskedAgainByGrabs) {
  const QString dir = qEnvironmentVariable("KESTREL_TEST_TMP");
  ASSERT_TRUE(QDir().mkpath(dir));
  const QString asked = dir + QStringLiteral("/chooser-asked"), chooser = dir + QStringLiteral("/chooser.sh");
  QFile::remove(asked);
  {
    QFile f(chooser);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QStringLiteral("#!/bin/sh\necho asked >> '%1'\nexit 1\n").arg(asked).toUtf8());
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  BackendConfig config(QStringLiteral("[screencast]\nchooser_type=simple\nchooser_cmd=%1\n").arg(chooser).toUtf8());
  auto timesAsked = [&] {
    QFile f(asked);
    return f.open(QIODevice::ReadOnly) ? f.readAll().count('\n') : 0;
  };
  wnd::PortalGrabber g;
  std::string message;
  try {
    g.prepare();
  } catch (const wnd::Error& e) {
    message = e.what();
  }
  EXPECT_NE(message.find("declined"), std::string::npos) << message;
  EXPECT_EQ(timesAsked(), 1);
  for (int i = 0; i < 3; ++i) {
    try {
      g.grab({0, 0, 32, 32});
      ADD_FAILURE() << "a grab without the user's consent succeeded";
    } catch (const wnd::Error& e) {
      EXPECT_EQ(e.what(), message);
    }
  }
  EXPECT_EQ(timesAsked(), 1);
  EXPECT_THROW(g.prepare(), wnd::Error);
  EXPECT_EQ(timesAsked(), 2);
}

namespace {

// At another scale the X screen (and the capture rectangle) counts logical
// pixels, the frame the monitor's: each grabbed pixel is the frame pixel
// under its centre. The client paints 8 x 8 blocks, so that the
// compositor's scaling leaves the inside of each block exact.
void checkScale(const char* scale, const char* painted, int logicalW, int logicalH) {
  PatternClient client;
  ASSERT_TRUE(client.start(8));
  ASSERT_TRUE(sway({QStringLiteral("output"), QStringLiteral("HEADLESS-1"), QStringLiteral("scale"), QString::fromLatin1(scale)}));
  struct Restore {
    ~Restore() { sway({QStringLiteral("output"), QStringLiteral("HEADLESS-1"), QStringLiteral("scale"), QStringLiteral("1")}); }
  } restore;
  ASSERT_TRUE(client.waitPainted(painted)) << client.painted().toStdString();
  wnd::PortalGrabber g;
  ASSERT_NO_THROW(g.prepare());
  EXPECT_EQ(g.frameSize(), std::make_pair(kScreenW, kScreenH));
  EXPECT_EQ(g.area().width, logicalW);
  EXPECT_EQ(g.area().height, logicalH);
  // Near the origin, and up to the right and bottom edges, where a wrong
  // scale would be off the most.
  for (const wnd::RECT& r : {wnd::RECT{8, 16, 8 + 200, 16 + 120}, wnd::RECT{logicalW - 200, logicalH - 120, logicalW, logicalH}}) {
    SCOPED_TRACE(testing::Message() << r.left << "," << r.top);
    QElapsedTimer t;
    t.start();
    long bad = -1;
    while (bad != 0 && t.elapsed() < 5000) {
      const gdi::Bitmap b = g.grab(r);
      bad = 0;
      // Block edges may blend under the compositor's filter; the inside may not.
      for (int y = 0; y < r.height(); ++y)
        for (int x = 0; x < r.width(); ++x) {
          const int lx = r.left + x, ly = r.top + y;
          if (lx % 8 == 0 || lx % 8 == 7 || ly % 8 == 0 || ly % 8 == 7) continue;
          if (pixel(b, x, y) != testpattern::colour(lx / 8, ly / 8)) ++bad;
        }
    }
    EXPECT_EQ(bad, 0);
  }
}

}  // namespace

TEST(ScreenCast, ScaleTwoMapsLogicalPixelsOntoTheFrame) { checkScale("2", "painted 640x360", kScreenW / 2, kScreenH / 2); }

// At 1.5 the logical screen is 853 x 480 (1280 / 1.5, rounded), not a whole
// fraction of the frame: a pixel's centre still lands inside its block.
TEST(ScreenCast, FractionalScaleMapsLogicalPixelsOntoTheFrame) {
  checkScale("1.5", "painted 853x480", 853, 480);
}

// A monitor away from the layout's origin: found through XWayland's own
// monitors, so the capture rectangle's X coordinates land on the right
// frame pixels, and the screen beside the monitor is black.
TEST(ScreenCast, MonitorAwayFromTheOrigin) {
  PatternClient client;
  ASSERT_TRUE(client.start());
  ASSERT_TRUE(sway({QStringLiteral("output"), QStringLiteral("HEADLESS-1"), QStringLiteral("position"),
                    QStringLiteral("100"), QStringLiteral("50")}));
  struct Restore {
    ~Restore() {
      sway({QStringLiteral("output"), QStringLiteral("HEADLESS-1"), QStringLiteral("position"), QStringLiteral("0"),
            QStringLiteral("0")});
    }
  } restore;
  QThread::msleep(300);
  wnd::PortalGrabber g;
  ASSERT_NO_THROW(g.prepare());
  EXPECT_EQ(g.area().x, 100);
  EXPECT_EQ(g.area().y, 50);
  const wnd::RECT r{90, 40, 190, 140};
  EXPECT_EQ(settle(g, r,
                   [](int sx, int sy) { return sx < 100 || sy < 50 ? 0u : testpattern::colour(sx - 100, sy - 50); }),
            0);
}

// XWayland's root window holds no pixels here: the X11 source says so,
// and points to the portal, before any recording.
TEST(ScreenCast, X11SourceRefusesRootlessXWaylandInWords) {
  wnd::ScreenGrabber x11(wnd::Display::instance());
  try {
    x11.prepare();
    FAIL() << "the X11 source claimed to see a rootless XWayland screen";
  } catch (const wnd::Error& e) {
    const std::string m = e.what();
    EXPECT_NE(m.find("cannot see the screen"), std::string::npos) << m;
    EXPECT_NE(m.find("grabsource"), std::string::npos) << m;
  }
}

// The pointer is asked of the desktop as its embedded cursor where the
// portal offers that mode, else it is said to be missing; a change of the
// choice starts the cast again at the next prepare(), the same choice not.
TEST(ScreenCast, PointerEmbeddedWhereOfferedElseSaidMissing) {
  QDBusMessage get = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get.setArguments({QStringLiteral("org.freedesktop.portal.ScreenCast"), QStringLiteral("AvailableCursorModes")});
  const QDBusReply<QDBusVariant> modes = QDBusConnection::sessionBus().call(get);
  ASSERT_TRUE(modes.isValid()) << modes.error().message().toStdString();
  const unsigned offered = modes.value().variant().toUInt();
  PatternClient client;  // a desktop with nothing on it sends no frame
  ASSERT_TRUE(client.start()) << "the native Wayland client did not start";
  std::vector<std::string> tokens;
  wnd::PortalGrabber g({"", [&](const std::string& t) { tokens.push_back(t); }});
  ASSERT_NO_THROW(g.prepare());
  EXPECT_EQ(g.cursorMode(), (offered & 1u) ? 1u : 0u) << "hidden unless asked for";
  EXPECT_TRUE(g.pointerProblem().empty());

  g.showPointer(true);
  ASSERT_NO_THROW(g.prepare());
  if (offered & 2u) {
    EXPECT_EQ(g.cursorMode(), 2u);
    EXPECT_TRUE(g.pointerProblem().empty());
  } else {
    EXPECT_NE(g.cursorMode(), 2u);
    EXPECT_FALSE(g.pointerProblem().empty());
  }
  const std::size_t casts = tokens.size();
  ASSERT_NO_THROW(g.prepare());
  EXPECT_EQ(tokens.size(), casts) << "the same choice keeps the cast";
  const wnd::RECT inner{20, 10, 20 + 97, 10 + 61};
  EXPECT_NO_THROW(g.grab(inner));
  std::cout << "cursor modes offered: " << offered << ", asked: " << g.cursorMode() << "\n";
}
