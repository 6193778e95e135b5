// Screen copies compared pixel for pixel with what xwd reads from the same
// server, on the session's screen and on servers of other depths.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/window/display.h"
#include "platform/window/screengrab.h"
#include "platform/window/xtest.h"

namespace {

std::uint32_t bitmapPixel(const gdi::Bitmap& b, int x, int y) {
  const int bytes = b.bitsPerPixel() / 8;
  std::uint32_t p = 0;
  std::memcpy(&p, b.scanLine(y) + x * bytes, static_cast<std::size_t>(bytes));
  return p;
}

// Every pixel of the bitmap is the screen's at the same place, or black
// (0) where the rectangle leaves the screen. Returns the number of pixels
// that differ, so one failure does not flood the log.
long compareWithScreen(const gdi::Bitmap& b, const wnd::RECT& r, const xtest::Shot& s) {
  long bad = 0;
  for (int y = 0; y < b.height(); ++y)
    for (int x = 0; x < b.width(); ++x) {
      const int sx = r.left + x, sy = r.top + y;
      const bool on = sx >= 0 && sy >= 0 && sx < s.width && sy < s.height;
      const std::uint32_t want = on ? s.pixel(sx, sy) : 0;
      std::uint32_t got = bitmapPixel(b, x, y);
      if (b.bitsPerPixel() == 32) got &= 0xffffff;
      if (got != (b.bitsPerPixel() == 32 ? want & 0xffffff : want)) ++bad;
    }
  return bad;
}

// A display's grabs, checked on a painted window and on rectangles that
// leave the screen.
void checkGrabs(wnd::Display& d, const std::string& name) {
  xtest::PatternWindow pattern(d, 0, 0, 180, 150);
  wnd::ScreenGrabber g(d);
  const xtest::Shot shot = xtest::xwdRoot(name);
  ASSERT_EQ(shot.width, d.width());
  ASSERT_EQ(shot.bpp, d.bitsPerPixel());

  // Inside the painted window: the pattern itself, exactly.
  const wnd::RECT inner{20, 10, 20 + 97, 10 + 61};
  const gdi::Bitmap b = g.grab(inner);
  ASSERT_EQ(b.width(), 97);
  ASSERT_EQ(b.height(), 61);
  EXPECT_EQ(b.format(), d.pixelFormat());
  long wrong = 0;
  for (int y = 0; y < 61; ++y)
    for (int x = 0; x < 97; ++x) {
      std::uint32_t got = bitmapPixel(b, x, y);
      if (b.bitsPerPixel() == 32) got &= 0xffffff;
      if (got != xtest::devicePixel(d, xtest::patternColour(x + 20, y + 10))) ++wrong;
    }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(compareWithScreen(b, inner, shot), 0);

  // The capture frame's start: two columns left of the screen, black.
  const wnd::RECT start{-2, 0, 253, 253};
  const gdi::Bitmap s = g.grab(start);
  EXPECT_EQ(s.width(), 255);
  EXPECT_EQ(s.height(), 253);
  EXPECT_EQ(bitmapPixel(s, 0, 5), 0u);
  EXPECT_EQ(bitmapPixel(s, 1, 5), 0u);
  EXPECT_EQ(compareWithScreen(s, start, shot), 0);

  // Wholly off the screen, on each side: black, and no request that fails.
  for (const wnd::RECT& off : {wnd::RECT{-300, 10, -100, 60}, wnd::RECT{d.width(), 0, d.width() + 40, 30},
                               wnd::RECT{10, -90, 50, 0}, wnd::RECT{5, d.height() + 3, 25, d.height() + 9}}) {
    const gdi::Bitmap o = g.grab(off);
    ASSERT_EQ(o.width(), off.width());
    EXPECT_EQ(compareWithScreen(o, off, shot), 0);
  }

  // Larger than the screen on every side: the whole screen, framed in black.
  const wnd::RECT big{-7, -5, d.width() + 11, d.height() + 3};
  const gdi::Bitmap l = g.grab(big);
  EXPECT_EQ(l.width(), d.width() + 18);
  EXPECT_EQ(compareWithScreen(l, big, shot), 0);
  EXPECT_FALSE(xcb_connection_has_error(d.conn()));
}

}  // namespace

TEST(ScreenGrab, SessionScreenPixelForPixel) {
  wnd::Display& d = wnd::Display::instance();
  EXPECT_EQ(d.pixelFormat(), gdi::PixelFormat::Rgb32);
  checkGrabs(d, qEnvironmentVariable("DISPLAY").toStdString());
}

// Each depth gives its own device format; with MIT-SHM switched off the
// plain GetImage path gives the same pixels.
struct DepthCase {
  const char* name;
  const char* screen;
  bool shm;
  gdi::PixelFormat format;
  int bpp;
};

class ScreenGrabDepth : public ::testing::TestWithParam<DepthCase> {};

TEST_P(ScreenGrabDepth, PixelsAndFormat) {
  const DepthCase c = GetParam();
  xtest::XServer x(QString::fromLatin1(c.screen), false, c.shm);
  ASSERT_TRUE(x.ok());
  wnd::Display d(x.name().c_str());
  EXPECT_EQ(d.pixelFormat(), c.format);
  EXPECT_EQ(d.bitsPerPixel(), c.bpp);
  EXPECT_EQ(d.hasShm(), c.shm);
  checkGrabs(d, x.name());
}

INSTANTIATE_TEST_SUITE_P(Displays, ScreenGrabDepth,
                         ::testing::Values(DepthCase{"Depth16", "1280x1024x16", true, gdi::PixelFormat::Rgb565, 16},
                                           DepthCase{"Depth15", "800x600x15", true, gdi::PixelFormat::Rgb555, 16},
                                           DepthCase{"Depth24NoShm", "800x600x24", false, gdi::PixelFormat::Rgb32, 32}),
                         [](const ::testing::TestParamInfo<DepthCase>& i) { return std::string(i.param.name); });

// Sizes the server cannot copy are refused with a message before any
// request; a server that went away is reported, not crashed on.
TEST(ScreenGrab, RefusalsAreErrorsNotCrashes) {
  wnd::Display& d = wnd::Display::instance();
  wnd::ScreenGrabber g(d);
  EXPECT_THROW(g.grab({10, 10, 10, 50}), wnd::Error);
  EXPECT_THROW(g.grab({10, 10, 5, 50}), wnd::Error);
  EXPECT_THROW(g.grab({0, 0, 70000, 10}), wnd::Error);

  xtest::XServer x(QStringLiteral("320x240x24"), false);
  ASSERT_TRUE(x.ok());
  wnd::Display other(x.name().c_str());
  wnd::ScreenGrabber og(other);
  EXPECT_EQ(og.grab({0, 0, 32, 32}).width(), 32);
  x.kill();
  try {
    og.grab({0, 0, 32, 32});
    FAIL() << "a grab from a server that is gone succeeded";
  } catch (const wnd::Error& e) {
    EXPECT_NE(std::string(e.what()).find("refused"), std::string::npos) << e.what();
  }
}

// The shared segment is made once and kept while grabs fit in it.
// xrandr shrinks the screen in the middle of a recording: a rectangle that
// was on the screen and now lies partly off it comes out black outside and
// right inside, the very next grab, without an error.
TEST(ScreenGrab, FollowsAScreenThatChangesSize) {
  for (bool shm : {true, false}) {
    SCOPED_TRACE(shm ? "shared memory" : "plain GetImage");
    xtest::XServer x(QStringLiteral("1280x1024x24"), false, shm, /*resizable=*/true);
    ASSERT_TRUE(x.ok());
    wnd::Display d(x.name().c_str());
    xtest::PatternWindow pattern(d, 0, 0, 1280, 1024);
    xtest::sync(d);
    wnd::ScreenGrabber g(d);
    const wnd::RECT r{700, 500, 900, 700};
    ASSERT_NO_THROW(g.grab(r));
    ASSERT_TRUE(xtest::resizeScreen(x.name(), 800, 600)) << "the server has no RandR to resize with";
    gdi::Bitmap b;
    ASSERT_NO_THROW(b = g.grab(r));
    ASSERT_EQ(b.width(), 200);
    ASSERT_EQ(b.height(), 200);
    EXPECT_EQ(d.width(), 800);
    EXPECT_EQ(d.height(), 600);
    long wrong = 0;
    for (int y = 0; y < 200; ++y)
      for (int px = 0; px < 200; ++px) {
        const int sx = 700 + px, sy = 500 + y;
        const bool on = sx < 800 && sy < 600;
        std::uint32_t got = bitmapPixel(b, px, y) & 0xffffff;
        if (got != (on ? xtest::devicePixel(d, xtest::patternColour(sx, sy)) & 0xffffff : 0u)) ++wrong;
      }
    EXPECT_EQ(wrong, 0);
    EXPECT_FALSE(xcb_connection_has_error(d.conn()));
  }
}

TEST(ScreenGrab, SegmentIsReused) {
  wnd::Display& d = wnd::Display::instance();
  wnd::ScreenGrabber g(d);
  g.grab({0, 0, 400, 300});
  ASSERT_TRUE(g.usingShm());
  const void* first = g.segmentAddress();
  g.grab({10, 10, 200, 100});
  g.grab({0, 0, 400, 300});
  EXPECT_EQ(g.segmentAddress(), first);
  g.grab({0, 0, 800, 600});
  EXPECT_NE(g.segmentAddress(), nullptr);
}

// A grab is a bitmap over its shared-memory segment: while anyone holds it
// the server writes the next grabs elsewhere, so a kept grab never
// changes; a segment let go of is used again, and grabs beyond the pool's
// size still come, through the reply.
TEST(ScreenGrab, AKeptGrabNeverChanges) {
  wnd::Display& d = wnd::Display::instance();
  wnd::ScreenGrabber g(d);
  const wnd::RECT r{20, 10, 20 + 97, 10 + 61};
  auto pattern = std::make_unique<xtest::PatternWindow>(d, 0, 0, 180, 150);
  gdi::Bitmap kept = g.grab(r);
  ASSERT_TRUE(g.usingShm());
  const auto isPattern = [&d](const gdi::Bitmap& b) {
    for (int y = 0; y < b.height(); ++y)
      for (int x = 0; x < b.width(); ++x)
        if ((bitmapPixel(b, x, y) & 0xffffff) != xtest::devicePixel(d, xtest::patternColour(x + 20, y + 10))) return false;
    return true;
  };
  ASSERT_TRUE(isPattern(kept));
  pattern.reset();  // the screen under the rectangle changes
  const gdi::Bitmap after = g.grab(r);
  EXPECT_FALSE(isPattern(after));
  EXPECT_TRUE(isPattern(kept)) << "the later grab went into the kept grab's memory";
  EXPECT_EQ(g.segmentCount(), 2u);

  kept = {};
  (void)g.grab(r);
  EXPECT_EQ(g.segmentCount(), 2u) << "a segment nobody holds is used again";

  std::vector<gdi::Bitmap> held;
  for (std::size_t i = 0; i < wnd::ScreenGrabber::kMaxSegments + 3; ++i) held.push_back(g.grab(r));
  EXPECT_EQ(g.segmentCount(), wnd::ScreenGrabber::kMaxSegments);
  const xtest::Shot shot = xtest::xwdRoot(std::string());
  EXPECT_EQ(compareWithScreen(held.back(), r, shot), 0);
}

// The copy in two steps: asked for, looked for without waiting, taken. A
// second copy started before the first was taken replaces it, and the
// first one's segment is free again once the server is done with it.
TEST(ScreenGrab, ACopyInTwoStepsIsTheSameCopy) {
  wnd::Display& d = wnd::Display::instance();
  wnd::ScreenGrabber g(d);
  EXPECT_FALSE(g.grabPending());
  EXPECT_THROW(g.finishGrab(), wnd::Error);
  const wnd::RECT r{20, 10, 20 + 97, 10 + 61};
  xtest::PatternWindow pattern(d, 0, 0, 180, 150);
  const xtest::Shot shot = xtest::xwdRoot(std::string());

  g.startGrab(r);
  EXPECT_TRUE(g.grabPending());
  bool arrived = false;
  for (int i = 0; i < 5000 && !arrived; ++i) {
    arrived = g.grabArrived();
    if (!arrived) usleep(1000);
  }
  EXPECT_TRUE(arrived);
  const gdi::Bitmap b = g.finishGrab();
  EXPECT_FALSE(g.grabPending());
  EXPECT_EQ(compareWithScreen(b, r, shot), 0);

  g.startGrab({0, 0, 40, 40});
  g.startGrab(r);  // replaces the one before
  EXPECT_EQ(compareWithScreen(g.finishGrab(), r, shot), 0);
  EXPECT_EQ(g.segmentCount(), 2u) << "b holds one segment; the dropped copy's segment served the last";

  // Off the screen nothing is asked of the server: in at once, black.
  g.startGrab({-500, -500, -400, -450});
  EXPECT_TRUE(g.grabArrived());
  EXPECT_EQ(compareWithScreen(g.finishGrab(), {-500, -500, -400, -450}, shot), 0);
}
