// The image control as it paints: unscaled pictures show their top-left
// part at their own pixels, stretched ones fill the control.
#include <QImage>
#include <gtest/gtest.h>

#include "framework/image.h"

namespace {

// A 100x80 24-bit picture whose every pixel differs from its neighbours.
gdi::Bitmap pattern() {
  gdi::Bitmap b = gdi::Bitmap::device(100, 80, gdi::PixelFormat::Bgr24);
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 100; ++x) {
      std::uint8_t* p = b.scanLine(y) + 3 * x;
      p[0] = std::uint8_t(x * 2);
      p[1] = std::uint8_t(y * 3);
      p[2] = std::uint8_t(x + y);
    }
  return b;
}

}  // namespace

TEST(ImageControl, UnscaledShowsTheTopLeftPartPixelForPixel) {
  framework::Image img(nullptr, QStringLiteral("Image1"));
  img.resize(60, 50);
  const gdi::Bitmap b = pattern();
  img.setPicture(b);
  const QImage shot = img.grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shot.size(), QSize(60, 50));
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 60; ++x) {
      const std::uint8_t* p = b.scanLine(y) + 3 * x;
      ASSERT_EQ(shot.pixel(x, y), qRgb(p[2], p[1], p[0])) << x << "," << y;
    }

  // A control larger than the picture: the picture, then the background.
  img.resize(120, 90);
  const QImage big = img.grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(big.pixel(99, 79), qRgb(99 + 79, 79 * 3, 99 * 2));
  EXPECT_NE(big.pixel(110, 85), big.pixel(99, 79));
}

TEST(ImageControl, StretchedFillsTheControl) {
  framework::Image img(nullptr, QStringLiteral("Image1"));
  img.resize(50, 40);
  img.setStretch(true);
  img.setPicture(pattern());
  const QImage shot = img.grab().toImage().convertToFormat(QImage::Format_RGB32);
  // The bottom-right corner shows the picture's bottom-right region.
  const QRgb corner = shot.pixel(49, 39);
  EXPECT_GT(qRed(corner), 150);
  EXPECT_GT(qGreen(corner), 200);
}
