// A native Wayland client for the screen-cast tests: a full-screen window
// painting the test pattern in device pixels, so that every pixel of the
// monitor's frame is known. Prints "painted WxH" once it has drawn.
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

 protected:
  void paintEvent(QPaintEvent*) override {
    const qreal dpr = devicePixelRatio();
    const QSize px = size() * dpr;
    QImage img(px, QImage::Format_RGB32);
    for (int y = 0; y < px.height(); ++y) {
      auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
      for (int x = 0; x < px.width(); ++x) row[x] = 0xff000000u | testpattern::colour(x, y);
    }
    img.setDevicePixelRatio(dpr);
    QPainter(this).drawImage(0, 0, img);
    if (px != told_) {
      std::printf("painted %dx%d\n", px.width(), px.height());
      std::fflush(stdout);
      told_ = px;
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "wayland");
  QGuiApplication app(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("kestrel-pattern"));
  PatternWindow w;
  w.setTitle(QStringLiteral("kestrel-pattern"));
  w.showFullScreen();
  // The same picture again ten times a second, as a window that plays
  // something would: some screen casts send a frame only when the screen
  // changes.
  QTimer again;
  QObject::connect(&again, &QTimer::timeout, &w, [&w] { w.update(); });
  again.start(100);
  return app.exec();
}
