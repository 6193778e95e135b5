// The choice of the screen source (settings, session) and its failures
// outside a Wayland desktop: on the session's Xvfb there is no screen-cast
// portal to ask.
#include <gtest/gtest.h>

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

// The session's bus has no screen-cast portal: said in words, and grabs
// repeat it rather than asking again.
TEST(GrabSource, NoPortalIsToldInWords) {
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
