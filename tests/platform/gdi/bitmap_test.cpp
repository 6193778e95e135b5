// Bitmaps over memory they do not own (a screen grab's shared segment):
// copies share it and keep it alive, detach() takes a copy of its own, and
// drawing one reads its rows where they lie.
#include <gtest/gtest.h>

#include <QImage>
#include <cstring>
#include <memory>

#include "platform/gdi/bitmap.h"
#include "platform/gdi/qimage.h"

TEST(Bitmap, AdoptedMemoryIsSharedKeptAliveAndDetached) {
  const int w = 5, h = 3;  // 20-byte rows
  auto memory = std::make_shared<std::vector<std::uint8_t>>(std::size_t(w * h * 4));
  for (std::size_t i = 0; i < memory->size(); ++i) (*memory)[i] = std::uint8_t(i);
  std::weak_ptr<std::vector<std::uint8_t>> watch = memory;

  gdi::Bitmap a = gdi::Bitmap::adopt(w, h, gdi::PixelFormat::Rgb32, memory->data(), memory);
  std::uint8_t* const pixels = memory->data();
  memory.reset();
  EXPECT_FALSE(watch.expired()) << "the bitmap keeps the memory";
  EXPECT_EQ(a.bits().data(), pixels);
  EXPECT_EQ(a.bits().size(), std::size_t(w * h * 4));
  EXPECT_EQ(a.scanLine(2), pixels + 40);
  EXPECT_TRUE(a.topDown());

  gdi::Bitmap b = a;  // shares, as picture objects do
  EXPECT_EQ(b.scanLine(0), pixels);
  b.detach();
  EXPECT_NE(b.scanLine(0), pixels);
  EXPECT_EQ(std::memcmp(b.scanLine(0), pixels, std::size_t(w * h * 4)), 0);
  a.detach();  // the last holder takes a copy too: the memory may go
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(a.scanLine(1)[0], 20);

  const gdi::Bitmap u = gdi::Bitmap::deviceUncleared(7, 2, gdi::PixelFormat::Rgb32);
  EXPECT_EQ(u.bits().size(), 56u);
  EXPECT_THROW(gdi::Bitmap::deviceUncleared(0, 2, gdi::PixelFormat::Rgb32), std::invalid_argument);
  EXPECT_THROW(gdi::Bitmap::adopt(2, 2, gdi::PixelFormat::Rgb32, nullptr, nullptr), std::invalid_argument);
}

TEST(Bitmap, ADrawnGrabIsReadWhereItLies) {
  gdi::Bitmap grab = gdi::Bitmap::device(4, 2, gdi::PixelFormat::Rgb32);
  reinterpret_cast<std::uint32_t*>(grab.scanLine(1))[3] = 0x00123456;
  const QImage view = gdi::viewOf(grab);
  EXPECT_EQ(view.constBits(), grab.scanLine(0)) << "no copy";
  EXPECT_EQ(view.pixel(3, 1) & 0xFFFFFF, 0x123456u);
  EXPECT_TRUE(gdi::viewOf(gdi::Bitmap()).isNull());
}
