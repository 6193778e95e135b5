// A native Wayland client for the screen-cast tests: a full-screen window
// painting the test pattern in device pixels, so that every pixel of the
// monitor's frame is known. Prints "painted WxH" once it has drawn.
// With "--tiled" it is an ordinary window (alone on the monitor, tiled over
// all of it), below floating X windows. With "--blocks N" each N x N block of logical pixels has one colour,
// pattern colour (x / N, y / N): the inside of a block stays exact when the
// compositor scales the window.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRasterWindow>
#include <QTimer>
#include <cstdio>

#include "support/pattern.h"

namespace {

class PatternWindow : public QRasterWindow {
  QSize told_;

 public:
  int blocks = 0;

 protected:
  void paintEvent(QPaintEvent*) override {
    if (blocks > 0) {
      QImage img(size(), QImage::Format_RGB32);
      for (int y = 0; y < img.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) row[x] = 0xff000000u | testpattern::colour(x / blocks, y / blocks);
      }
      QPainter(this).drawImage(0, 0, img);
      tell(img.size());
      return;
    }
    const qreal dpr = devicePixelRatio();
    const QSize px = size() * dpr;
    QImage img(px, QImage::Format_RGB32);
    for (int y = 0; y < px.height(); ++y) {
      auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
      for (int x = 0; x < px.width(); ++x) row[x] = 0xff000000u | testpattern::colour(x, y);
    }
    img.setDevicePixelRatio(dpr);
    QPainter(this).drawImage(0, 0, img);
    tell(px);
  }

  void tell(QSize px) {
    if (px == told_) return;
    std::printf("painted %dx%d\n", px.width(), px.height());
    std::fflush(stdout);
    told_ = px;
  }
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "wayland");
  QGuiApplication app(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("kestrel-pattern"));
  PatternWindow w;
  const QStringList args = app.arguments();
  const int b = int(args.indexOf(QStringLiteral("--blocks")));
  if (b > 0 && b + 1 < args.size()) w.blocks = args[b + 1].toInt();
  w.setTitle(QStringLiteral("kestrel-pattern"));
  // Full screen, or with --tiled a plain window that sway tiles over the
  // whole monitor when it is alone there.
  if (args.contains(QStringLiteral("--tiled")))
    w.show();
  else
    w.showFullScreen();
  // The same picture again ten times a second, as a window that plays
  // something would: some screen casts send a frame only when the screen
  // changes.
  QTimer again;
  QObject::connect(&again, &QTimer::timeout, &w, [&w] { w.update(); });
  again.start(100);
  return app.exec();
}
