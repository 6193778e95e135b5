// The choice of the screen source (settings, session) and its failures
// outside a Wayland desktop: on the session's Xvfb there is no screen-cast
// portal to ask.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdlib>
#include <string>

#include "platform/window/display.h"
#include "platform/window/grabsource.h"
#include "platform/window/screencast.h"
#include "platform/window/screengrab.h"

namespace {

// Sets or clears an environment variable for one scope.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvVar() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

// A session bus of its own that can start no service: whatever portals
// this machine has installed, none answers on it.
class BusWithoutServices {
 public:
  BusWithoutServices() : config_(dir_.filePath(QStringLiteral("bus.conf"))) {
    QFile f(config_);
    f.open(QIODevice::WriteOnly);
    f.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
            "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
            "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
            "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    f.close();
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--nofork"), QStringLiteral("--print-address=1"), QStringLiteral("--config-file=") + config_});
    if (daemon_.waitForReadyRead(5000)) address_ = daemon_.readLine().trimmed().toStdString();
  }
  ~BusWithoutServices() {
    daemon_.kill();
    daemon_.waitForFinished(2000);
  }
  const std::string& address() const { return address_; }

 private:
  QTemporaryDir dir_;
  QString config_;
  QProcess daemon_;
  std::string address_;
};

// Records the rectangles it is asked for: shows that the program's copy
// goes through the chosen source.
class Recording : public wnd::GrabSource {
 public:
  explicit Recording(std::vector<wnd::RECT>& asked) : asked_(asked) {}
  gdi::Bitmap grab(const wnd::RECT& r) override {
    asked_.push_back(r);
    return gdi::Bitmap::device(r.width(), r.height(), gdi::PixelFormat::Rgb32);
  }
  void prepare() override {}
  std::string name() const override { return "recording"; }

 private:
  std::vector<wnd::RECT>& asked_;
};

}  // namespace

TEST(GrabSource, SettingAndSessionDecide) {
  EXPECT_EQ(wnd::ParseGrabSourceKind("X11"), wnd::GrabSourceKind::X11);
  EXPECT_EQ(wnd::ParseGrabSourceKind("Portal"), wnd::GrabSourceKind::Portal);
  // Anything else, a typo included, leaves the choice to the session.
  for (const char* s : {"", "auto", "pipewire", "x 11"}) EXPECT_EQ(wnd::ParseGrabSourceKind(s), wnd::GrabSourceKind::Auto) << s;
  {
    EnvVar w("WAYLAND_DISPLAY", "wayland-1");
    EXPECT_EQ(wnd::ResolveGrabSourceKind(wnd::GrabSourceKind::Auto), wnd::GrabSourceKind::Portal);
    EXPECT_EQ(wnd::ResolveGrabSourceKind(wnd::GrabSourceKind::X11), wnd::GrabSourceKind::X11);
  }
  for (const char* none : {static_cast<const char*>(nullptr), ""}) {
    EnvVar w("WAYLAND_DISPLAY", none);
    EXPECT_EQ(wnd::ResolveGrabSourceKind(wnd::GrabSourceKind::Auto), wnd::GrabSourceKind::X11);
    EXPECT_EQ(wnd::ResolveGrabSourceKind(wnd::GrabSourceKind::Portal), wnd::GrabSourceKind::Portal);
  }
}

TEST(GrabSource, ProgramCopyGoesThroughTheChosenSource) {
  std::vector<wnd::RECT> asked;
  wnd::SetGrabSource(std::make_unique<Recording>(asked));
  EXPECT_EQ(wnd::CopyScreenRect({1, 2, 41, 32}).width(), 40);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], (wnd::RECT{1, 2, 41, 32}));
  {
    EnvVar w("WAYLAND_DISPLAY", nullptr);
    wnd::ChooseGrabSource(wnd::GrabSourceKind::Auto);
  }
  EXPECT_EQ(wnd::CurrentGrabSource().name(), "X11");
  // On Xvfb the X11 source sees the screen.
  EXPECT_NO_THROW(wnd::CurrentGrabSource().prepare());
  EXPECT_EQ(wnd::CopyScreenRect({0, 0, 8, 8}).width(), 8);
}

// A bus with no screen-cast portal: said in words, and grabs
// repeat it rather than asking again.
TEST(GrabSource, NoPortalIsToldInWords) {
  const BusWithoutServices bus;
  ASSERT_FALSE(bus.address().empty()) << "no dbus-daemon";
  const EnvVar session("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str());
  wnd::PortalGrabber g;
  std::string message;
  try {
    g.prepare();
  } catch (const wnd::Error& e) {
    message = e.what();
  }
  EXPECT_NE(message.find("offers no screen-cast portal"), std::string::npos) << message;
  try {
    g.grab({0, 0, 16, 16});
    ADD_FAILURE() << "a grab without a portal succeeded";
  } catch (const wnd::Error& e) {
    EXPECT_EQ(e.what(), message);
  }
}
