#include "platform/window/xtest.h"

#include <sys/uio.h>
#include <xcb/xcbext.h>

#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/media.h"
#include "support/pattern.h"

namespace xtest {

XServer::XServer(const QString& screen, bool withWm, bool withShm, bool resizable) {
  QStringList args{"-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp"};
  if (resizable) args = {"-displayfd", "1", "-screen", screen, "-resizeable", "-nolisten", "tcp"};
  if (!withShm) args << "-extension" << "MIT-SHM";
  server_.start(resizable ? QStringLiteral("Xephyr") : QStringLiteral("Xvfb"), args);
  if (!server_.waitForStarted(5000)) return;
  QByteArray out;
  while (!out.contains('\n') && server_.waitForReadyRead(10000)) out += server_.readAllStandardOutput();
  out = out.trimmed();
  if (out.isEmpty()) return;
  name_ = ":" + out.toStdString();
  if (withWm) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(name_));
    wm_.setProcessEnvironment(env);
    wm_.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    wm_.waitForStarted(5000);
    // Openbox is ready once it has claimed the screen.
    for (int i = 0; i < 100; ++i) {
      std::string o;
      testsupport::runCommand({"xprop", "-display", name_, "-root", "_NET_SUPPORTING_WM_CHECK"}, &o);
      if (o.find("window id") != std::string::npos) break;
      QThread::msleep(50);
    }
  }
}

void XServer::kill() {
  if (wm_.state() != QProcess::NotRunning) {
    wm_.terminate();
    wm_.waitForFinished(3000);
  }
  if (server_.state() != QProcess::NotRunning) {
    server_.terminate();
    server_.waitForFinished(3000);
  }
}

XServer::~XServer() { kill(); }

std::uint32_t patternColour(int x, int y) { return testpattern::colour(x, y); }

std::uint32_t devicePixel(const wnd::Display& d, std::uint32_t rgb) {
  const std::uint32_t r = (rgb >> 16) & 0xff, g = (rgb >> 8) & 0xff, b = rgb & 0xff;
  switch (d.pixelFormat()) {
    case gdi::PixelFormat::Rgb565: return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
    case gdi::PixelFormat::Rgb555: return ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
    default: return rgb;
  }
}

PatternWindow::PatternWindow(wnd::Display& d, int x, int y, int w, int h) : d_(d), w_(w), h_(h) {
  xcb_connection_t* c = d.conn();
  id_ = xcb_generate_id(c);
  // The pattern lives in a pixmap that is the window's background, so the
  // server itself repaints whatever another window uncovers.
  pixmap_ = xcb_generate_id(c);
  xcb_create_pixmap(c, static_cast<std::uint8_t>(d.depth()), pixmap_, d.root(), static_cast<std::uint16_t>(w),
                    static_cast<std::uint16_t>(h));
  gc_ = xcb_generate_id(c);
  xcb_create_gc(c, gc_, pixmap_, 0, nullptr);
  paint();
  const std::uint32_t values[] = {pixmap_, 1};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, id_, d.root(), static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                    static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT, values);
  xcb_map_window(c, id_);
  // At the bottom of the stack: the program's windows, shown later, must
  // lie above it as they would above any other program's window.
  const std::uint32_t below = XCB_STACK_MODE_BELOW;
  xcb_configure_window(c, id_, XCB_CONFIG_WINDOW_STACK_MODE, &below);
  sync(d);
}

PatternWindow::~PatternWindow() {
  xcb_free_gc(d_.conn(), gc_);
  xcb_free_pixmap(d_.conn(), pixmap_);
  xcb_destroy_window(d_.conn(), id_);
  sync(d_);
}

void PatternWindow::paint() {
  const int bytes = d_.bitsPerPixel() / 8;
  // One row per request keeps each request far below the size limit.
  std::vector<std::uint8_t> row(static_cast<std::size_t>((w_ * bytes + 3) & ~3));
  for (int y = 0; y < h_; ++y) {
    for (int x = 0; x < w_; ++x) {
      const std::uint32_t p = devicePixel(d_, patternColour(x, y));
      std::memcpy(row.data() + x * bytes, &p, static_cast<std::size_t>(bytes));
    }
    xcb_put_image(d_.conn(), XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap_, gc_, static_cast<std::uint16_t>(w_), 1, 0,
                  static_cast<std::int16_t>(y), 0, static_cast<std::uint8_t>(d_.depth()),
                  static_cast<std::uint32_t>(row.size()), row.data());
  }
  sync(d_);
}

void sync(wnd::Display& d) {
  wnd::XcbPtr<xcb_get_input_focus_reply_t> r(
      xcb_get_input_focus_reply(d.conn(), xcb_get_input_focus(d.conn()), nullptr));
  d.drainEvents();
}

std::uint32_t Shot::pixel(int x, int y) const {
  const int bytes = bpp / 8;
  std::uint32_t p = 0;
  std::memcpy(&p, data.data() + (static_cast<std::size_t>(y) * width + x) * bytes, static_cast<std::size_t>(bytes));
  return p;
}

namespace {
std::uint32_t be32(const std::string& s, std::size_t off) {
  const auto* u = reinterpret_cast<const unsigned char*>(s.data() + off);
  return (std::uint32_t(u[0]) << 24) | (std::uint32_t(u[1]) << 16) | (std::uint32_t(u[2]) << 8) | u[3];
}
}  // namespace

Shot xwdRoot(const std::string& display) {
  std::string out;
  Shot s;
  if (testsupport::runCommand({"xwd", "-display", display, "-root", "-silent"}, &out) != 0 || out.size() < 100)
    return s;
  // XWD header: 25 big-endian 32-bit fields.
  const std::uint32_t headerSize = be32(out, 0), width = be32(out, 16), height = be32(out, 20),
                      byteOrder = be32(out, 28), bpp = be32(out, 44), bytesPerLine = be32(out, 48),
                      ncolors = be32(out, 76);
  const std::size_t start = headerSize + std::size_t(ncolors) * 12;
  if (byteOrder != 0 || (bpp != 16 && bpp != 32) || out.size() < start + std::size_t(bytesPerLine) * height)
    return s;
  s.width = int(width);
  s.height = int(height);
  s.bpp = int(bpp);
  const std::size_t rowLen = std::size_t(width) * (bpp / 8);
  s.data.resize(rowLen * height);
  for (std::uint32_t y = 0; y < height; ++y)
    std::memcpy(s.data.data() + rowLen * y, out.data() + start + std::size_t(bytesPerLine) * y, rowLen);
  return s;
}

bool resizeScreen(const std::string& display, int width, int height) {
  // What a person (or the desktop) does: xrandr asks the server for a new
  // screen size; the grab must find out by itself.
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  if (testsupport::runCommand({"xrandr", "-display", display, "-s", size}) != 0) return false;
  for (int i = 0; i < 100; ++i) {
    std::string out;
    testsupport::runCommand({"xdpyinfo", "-display", display}, &out);
    if (out.find("dimensions:    " + size + " pixels") != std::string::npos) return true;
    QThread::msleep(50);
  }
  return false;
}

}  // namespace xtest
