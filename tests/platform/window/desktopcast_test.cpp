// The screen-cast portal on GNOME (mutter with xdg-desktop-portal-gnome)
// and KDE Plasma (kwin with xdg-desktop-portal-kde), headless, started by
// scripts/wayland-session.sh --desktop gnome|kde. The desktop's own dialog
// asks to share the screen; scripts/portal-answer.py answers it as a person
// would and counts the times it was asked ($KESTREL_PORTAL_DIALOGS).
#include <gtest/gtest.h>

#include <signal.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <iostream>

#include "platform/window/castcheck.h"
#include "platform/window/display.h"
#include "platform/window/screencast.h"

namespace {

using namespace castcheck;

// How many times the desktop's dialog has been answered so far.
int timesAsked() {
  QFile f(qEnvironmentVariable("KESTREL_PORTAL_DIALOGS"));
  return f.open(QIODevice::ReadOnly) ? int(f.readAll().count('\n')) : 0;
}

// The answer the next dialogs get: declined while this lives.
class Declining {
 public:
  Declining() { write("cancel\n"); }
  ~Declining() { write(""); }

 private:
  static void write(const char* text) {
    QFile f(qEnvironmentVariable("KESTREL_PORTAL_ANSWER"));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(text);
  }
};

}  // namespace

// The first cast asks once, the token it gives starts the next without
// asking, and either sees the client's pixels exactly; the token in use is
// the newest the desktop gave.
TEST(DesktopCast, AskedOnceThenTheTokenKeepsThePermission) {
  ASSERT_FALSE(qEnvironmentVariable("KESTREL_PORTAL_DIALOGS").isEmpty()) << "not in a GNOME or KDE test session";
  PatternClient client;
  ASSERT_TRUE(client.start()) << "the native Wayland client did not start";
  const int asked = timesAsked();
  std::vector<std::string> tokens;
  wnd::PortalGrabber g({"", [&](const std::string& t) { tokens.push_back(t); }});
  ASSERT_NO_THROW(g.prepare());
  EXPECT_EQ(timesAsked(), asked + 1);
  const wnd::ScreenCastArea a = g.area();
  EXPECT_EQ(a.x, 0);
  EXPECT_EQ(a.y, 0);
  EXPECT_EQ(a.width, kScreenW);
  EXPECT_EQ(a.height, kScreenH);
  EXPECT_EQ(g.frameSize(), std::make_pair(kScreenW, kScreenH));
  std::cout << "buffers: " << g.bufferKind() << std::endl;
  for (const wnd::RECT& r : {wnd::RECT{20, 10, 20 + 97, 10 + 61}, wnd::RECT{-7, -5, kScreenW + 11, kScreenH + 3},
                             wnd::RECT{1200, 650, 1300, 740}}) {
    SCOPED_TRACE(testing::Message() << r.left << "," << r.top << " " << r.width() << "x" << r.height());
    EXPECT_EQ(settle(g, r, testpattern::colour), 0);
  }
  ASSERT_EQ(tokens.size(), 1u);
  ASSERT_FALSE(tokens[0].empty());

  std::vector<std::string> again;
  wnd::PortalGrabber second({tokens[0], [&](const std::string& t) { again.push_back(t); }});
  ASSERT_NO_THROW(second.prepare());
  EXPECT_EQ(timesAsked(), asked + 1) << "the desktop asked again despite the token";
  EXPECT_EQ(settle(second, {0, 0, 200, 100}, testpattern::colour), 0);
  // A desktop that hands out a new token each time (they are single use
  // there) has it replace the old one; one that keeps it gives the same.
  EXPECT_EQ(second.token(), again.empty() ? tokens[0] : again.back());
  std::cout << "token on the second cast: " << (again.empty() ? "the same" : "a new one") << std::endl;
}

// The desktop's side goes away under a running cast (its portal back end
// dies): the grab fails with the reason, never a black picture, and a new
// prepare() casts again.
TEST(DesktopCast, CastThatEndsIsAnErrorAndCanStartAgain) {
  PatternClient client;
  ASSERT_TRUE(client.start());
  wnd::PortalGrabber g;
  ASSERT_NO_THROW(g.prepare());
  ASSERT_EQ(settle(g, {0, 0, 64, 64}, testpattern::colour), 0);
  const QDBusReply<uint> pid =
      QDBusConnection::sessionBus().interface()->servicePid(qEnvironmentVariable("KESTREL_PORTAL_BACKEND"));
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
  // The portal may take a moment to notice its back end is gone.
  bool again = false;
  for (int i = 0; i < 10 && !again; ++i) {
    try {
      g.prepare();
      again = true;
    } catch (const wnd::Error& e) {
      std::cout << "prepare after the end: " << e.what() << std::endl;
      QThread::msleep(500);
    }
  }
  ASSERT_TRUE(again);
  EXPECT_EQ(settle(g, {0, 0, 64, 64}, testpattern::colour), 0);
}

// Declined in the dialog: said in words, and grabs repeat it without the
// desktop asking again; only prepare() asks again.
TEST(DesktopCast, DeclinedIsToldAndNotAskedAgainByGrabs) {
  Declining declining;
  const int asked = timesAsked();
  wnd::PortalGrabber g;
  std::string message;
  try {
    g.prepare();
  } catch (const wnd::Error& e) {
    message = e.what();
  }
  EXPECT_NE(message.find("declined"), std::string::npos) << message;
  EXPECT_EQ(timesAsked(), asked + 1);
  for (int i = 0; i < 3; ++i) EXPECT_THROW(g.grab({0, 0, 32, 32}), wnd::Error);
  EXPECT_EQ(timesAsked(), asked + 1);
}
