#pragma once
// What the screen-cast tests share on every Wayland desktop: the native
// client that fills the monitor with the test pattern, and the comparison
// of grabbed bitmaps with it.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <cstring>

#include "platform/window/grabsource.h"
#include "support/pattern.h"

namespace castcheck {

constexpr int kScreenW = 1280, kScreenH = 720;

// The native client, full screen; stopped with the test.
class PatternClient {
 public:
  // `blocks`: one colour per blocks x blocks logical pixels (0: per pixel).
  bool start(int blocks = 0) {
    p_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList args;
    if (blocks) args << QStringLiteral("--blocks") << QString::number(blocks);
    p_.start(QStringLiteral(KESTREL_WAYLAND_PATTERN), args);
    if (!p_.waitForStarted(5000)) return false;
    return waitPainted();
  }
  // Waits until the client has painted `size` (its first paint may come
  // before it is made full screen).
  bool waitPainted(const char* size = "painted 1280x720", int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
      if (p_.canReadLine() || p_.waitForReadyRead(200)) {
        const QByteArray line = p_.readLine();
        if (line.startsWith("painted")) painted_ = QString::fromLatin1(line).trimmed();
        if (line.startsWith(size)) return true;
      }
      if (p_.state() != QProcess::Running) return false;
    }
    return false;
  }
  const QString& painted() const { return painted_; }
  ~PatternClient() {
    p_.kill();
    p_.waitForFinished(3000);
  }

 private:
  QProcess p_;
  QString painted_;
};

std::uint32_t pixel(const gdi::Bitmap& b, int x, int y) {
  std::uint32_t p = 0;
  std::memcpy(&p, b.scanLine(y) + x * 4, 4);
  return p & 0xffffff;
}

// Pixels of b (grabbed at r) that are not what `want(sx, sy)` says for
// screen pixel (sx, sy), or black off the screen.
template <class Want>
long wrongPixels(const gdi::Bitmap& b, const wnd::RECT& r, Want want) {
  if (b.width() != r.width() || b.height() != r.height()) return -1;
  long bad = 0;
  for (int y = 0; y < b.height(); ++y)
    for (int x = 0; x < b.width(); ++x) {
      const int sx = r.left + x, sy = r.top + y;
      const bool on = sx >= 0 && sy >= 0 && sx < kScreenW && sy < kScreenH;
      if (pixel(b, x, y) != (on ? want(sx, sy) : 0u)) ++bad;
    }
  return bad;
}

long wrongPixels(const gdi::Bitmap& b, const wnd::RECT& r) { return wrongPixels(b, r, testpattern::colour); }

// Grabs r until it shows the pattern (the client may be drawn after the
// cast's first frame); the last count of wrong pixels.
template <class Want>
long settle(wnd::GrabSource& g, const wnd::RECT& r, Want want) {
  long bad = -1;
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 5000) {
    bad = wrongPixels(g.grab(r), r, want);
    if (bad == 0) break;
    QThread::msleep(50);
  }
  return bad;
}

}  // namespace castcheck
