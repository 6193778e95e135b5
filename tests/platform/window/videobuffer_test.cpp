// PipeWire video buffers as the desktops send them, built here: the
// reader turns each into a B G R x frame, skips the ones without a picture
// (KDE's cursor-only updates), applies the crop region (GNOME's), refuses
// short ones, and maps a DMA-BUF that PipeWire left unmapped.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wcast-align"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <spa/buffer/buffer.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/raw.h>
#pragma GCC diagnostic pop

#include "platform/window/pipewirestream.h"
#include "platform/window/videobuffer.h"
#include "support/pattern.h"

namespace {

constexpr int kW = 40, kH = 24;

// One buffer of kW x kH pattern pixels in `format`, rows `stride` bytes
// apart, with a header and (unless `withCrop` is false) a crop meta that
// tests set.
struct Buffer {
  std::vector<std::uint8_t> bytes;
  spa_chunk chunk{};
  spa_data data{};
  spa_meta_header header{};
  spa_meta_region crop{};
  spa_meta cursor{};
  spa_meta metas[3]{};
  spa_buffer buffer{};

  explicit Buffer(std::uint32_t format = SPA_VIDEO_FORMAT_BGRx, int stride = kW * 4 + 12, bool withCrop = true)
      : bytes(std::size_t(stride) * kH, 0xee) {
    int bi = 0, gi = 1, ri = 2;
    wnd::channelOrder(format, bi, gi, ri);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const std::uint32_t c = testpattern::colour(x, y);
        std::uint8_t* p = bytes.data() + std::size_t(y) * stride + std::size_t(x) * 4;
        p[bi] = std::uint8_t(c), p[gi] = std::uint8_t(c >> 8), p[ri] = std::uint8_t(c >> 16);
        p[6 - bi - gi - ri] = 0x55;  // alpha or padding, never copied
      }
    chunk.size = std::uint32_t(bytes.size());
    chunk.stride = stride;
    data.type = SPA_DATA_MemFd;
    data.maxsize = std::uint32_t(bytes.size());
    data.data = bytes.data();
    data.chunk = &chunk;
    metas[0] = {SPA_META_Header, sizeof header, &header};
    std::uint32_t n = 1;
    if (withCrop) metas[n++] = {SPA_META_VideoCrop, sizeof crop, &crop};
    buffer.n_metas = n;
    buffer.metas = metas;
    buffer.n_datas = 1;
    buffer.datas = &data;
  }
  void addCursorMeta() { metas[buffer.n_metas++] = {SPA_META_Cursor, sizeof cursor, &cursor}; }
};

// Pixels of f that are not the pattern at (x0 + x, y0 + y), or -1 for a
// frame of another size than w x h.
long wrong(const wnd::StreamFrame& f, int x0, int y0, int w, int h) {
  if (f.width != w || f.height != h || f.pixels.size() != std::size_t(w) * h * 4) return -1;
  long bad = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::uint8_t* p = f.pixels.data() + (std::size_t(y) * w + x) * 4;
      const std::uint32_t c = testpattern::colour(x0 + x, y0 + y);
      if (p[0] != std::uint8_t(c) || p[1] != std::uint8_t(c >> 8) || p[2] != std::uint8_t(c >> 16) || p[3] != 0)
        ++bad;
    }
  return bad;
}

wnd::BufferRead read(const Buffer& b, wnd::StreamFrame& out, const char*& kind,
                     std::uint32_t format = SPA_VIDEO_FORMAT_BGRx) {
  return wnd::readVideoBuffer(b.buffer, format, kW, kH, out, kind);
}

}  // namespace

TEST(VideoBuffer, EveryChannelOrderBecomesBgrxRowsWithoutTheirPadding) {
  for (std::uint32_t format : {SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx,
                               SPA_VIDEO_FORMAT_RGBA, SPA_VIDEO_FORMAT_xRGB, SPA_VIDEO_FORMAT_ARGB,
                               SPA_VIDEO_FORMAT_xBGR, SPA_VIDEO_FORMAT_ABGR}) {
    SCOPED_TRACE(format);
    Buffer b(format);
    wnd::StreamFrame f;
    const char* kind = "";
    ASSERT_EQ(read(b, f, kind, format), wnd::BufferRead::Frame);
    EXPECT_EQ(wrong(f, 0, 0, kW, kH), 0);
    EXPECT_STREQ(kind, "memfd");
  }
  // Without a stride the rows are packed; without a crop meta at all the
  // whole picture counts.
  Buffer packed(SPA_VIDEO_FORMAT_BGRx, kW * 4, false);
  packed.chunk.stride = 0;
  packed.data.type = SPA_DATA_MemPtr;
  wnd::StreamFrame f;
  const char* kind = "";
  ASSERT_EQ(read(packed, f, kind), wnd::BufferRead::Frame);
  EXPECT_EQ(wrong(f, 0, 0, kW, kH), 0);
  EXPECT_STREQ(kind, "shared memory");
}

// A cursor-only update (no bytes), a chunk or a header marked corrupted:
// nothing to show, and the frame before stays as it was.
TEST(VideoBuffer, BuffersWithoutAPictureLeaveTheFrameBefore) {
  wnd::StreamFrame before;
  const char* kind = "";
  ASSERT_EQ(read(Buffer(), before, kind), wnd::BufferRead::Frame);

  Buffer cursorOnly;
  cursorOnly.chunk.size = 0;
  cursorOnly.addCursorMeta();
  Buffer corruptChunk;
  corruptChunk.chunk.flags = SPA_CHUNK_FLAG_CORRUPTED;
  Buffer corruptHeader;
  corruptHeader.header.flags = SPA_META_HEADER_FLAG_CORRUPTED;
  Buffer noData;
  noData.buffer.n_datas = 0;
  for (Buffer* b : {&cursorOnly, &corruptChunk, &corruptHeader, &noData}) {
    std::memset(b->bytes.data(), 0, b->bytes.size());
    wnd::StreamFrame f = before;
    EXPECT_EQ(read(*b, f, kind), wnd::BufferRead::NoPicture);
    EXPECT_EQ(f.pixels, before.pixels);
    EXPECT_EQ(f.width, kW);
  }
}

// The crop region is the frame; one that is empty or leaves the picture is
// not to be trusted, and the whole picture counts.
TEST(VideoBuffer, CropRegionIsTheFrameWhenItLiesInsideThePicture) {
  Buffer b;
  b.crop.region = {{5, 3}, {17, 11}};
  wnd::StreamFrame f;
  const char* kind = "";
  ASSERT_EQ(read(b, f, kind), wnd::BufferRead::Frame);
  EXPECT_EQ(wrong(f, 5, 3, 17, 11), 0);

  b.crop.region = {{0, 0}, {kW, kH}};
  ASSERT_EQ(read(b, f, kind), wnd::BufferRead::Frame);
  EXPECT_EQ(wrong(f, 0, 0, kW, kH), 0);

  for (spa_region r : {spa_region{{0, 0}, {0, 0}}, spa_region{{30, 0}, {11, 5}}, spa_region{{-1, 2}, {10, 10}},
                       spa_region{{0, 20}, {10, 5}}}) {
    SCOPED_TRACE(testing::Message() << r.position.x << "," << r.position.y << " " << r.size.width << "x"
                                    << r.size.height);
    b.crop.region = r;
    ASSERT_EQ(read(b, f, kind), wnd::BufferRead::Frame);
    EXPECT_EQ(wrong(f, 0, 0, kW, kH), 0);
  }
}

// Fewer bytes than the size and stride say, or a chunk starting past the
// end: refused, never read beyond the buffer.
TEST(VideoBuffer, ShortBufferIsRefusedAndTheFrameKept) {
  wnd::StreamFrame before;
  const char* kind = "";
  ASSERT_EQ(read(Buffer(), before, kind), wnd::BufferRead::Frame);
  Buffer shortOne;  // the last row's padding may be missing, not a pixel of it
  shortOne.data.maxsize = std::uint32_t(shortOne.chunk.stride * (kH - 1) + kW * 4 - 1);
  Buffer pastTheEnd;
  pastTheEnd.chunk.offset = pastTheEnd.data.maxsize + 4;
  Buffer tooNarrow;
  tooNarrow.chunk.stride = kW * 4 - 4;
  for (Buffer* b : {&shortOne, &pastTheEnd, &tooNarrow}) {
    wnd::StreamFrame f = before;
    EXPECT_EQ(read(*b, f, kind), wnd::BufferRead::Unreadable);
    EXPECT_EQ(f.pixels, before.pixels);
  }
}

// A DMA-BUF that PipeWire did not map is mapped for the read, at its map
// offset (a memfd stands in for the graphics memory: both are mapped
// alike); one that cannot be mapped is refused.
TEST(VideoBuffer, UnmappedDmaBufIsMappedForTheRead) {
  Buffer b;
  const long page = sysconf(_SC_PAGESIZE);
  const int fd = memfd_create("kestrel-dmabuf", MFD_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, page + off_t(b.bytes.size())), 0);
  ASSERT_EQ(pwrite(fd, b.bytes.data(), b.bytes.size(), page), ssize_t(b.bytes.size()));
  b.data.type = SPA_DATA_DmaBuf;
  b.data.data = nullptr;
  b.data.fd = fd;
  b.data.mapoffset = std::uint32_t(page);
  b.crop.region = {{2, 1}, {30, 20}};
  wnd::StreamFrame f;
  const char* kind = "";
  ASSERT_EQ(read(b, f, kind), wnd::BufferRead::Frame);
  EXPECT_EQ(wrong(f, 2, 1, 30, 20), 0);
  EXPECT_STREQ(kind, "dma-buf");
  close(fd);
  b.data.fd = -1;
  EXPECT_EQ(read(b, f, kind), wnd::BufferRead::Unreadable);
}

namespace {

// Cursor metadata as a desktop sends it: the place, the hot spot, and
// (with a picture) a bitmap of side x side straight-alpha RGBA pixels.
struct CursorBlob {
  std::vector<std::uint8_t> bytes;
  spa_meta meta{};
  spa_buffer buffer{};

  CursorBlob(std::uint32_t id, int x, int y, int side, std::uint8_t alpha) {
    const std::size_t bitmapAt = sizeof(spa_meta_cursor);
    bytes.assign(bitmapAt + sizeof(spa_meta_bitmap) + std::size_t(side) * side * 4, 0);
    auto* c = reinterpret_cast<spa_meta_cursor*>(bytes.data());
    c->id = id;
    c->position = {x, y};
    c->hotspot = {1, 2};
    c->bitmap_offset = side > 0 ? std::uint32_t(bitmapAt) : 0;
    auto* bm = reinterpret_cast<spa_meta_bitmap*>(bytes.data() + bitmapAt);
    bm->format = SPA_VIDEO_FORMAT_RGBA;
    bm->size = {std::uint32_t(side), std::uint32_t(side)};
    bm->stride = side * 4;
    bm->offset = sizeof(spa_meta_bitmap);
    std::uint8_t* px = bytes.data() + bitmapAt + sizeof(spa_meta_bitmap);
    for (int i = 0; i < side * side; ++i) {
      px[i * 4 + 0] = 0xff;  // red
      px[i * 4 + 3] = alpha;
    }
    meta = {SPA_META_Cursor, std::uint32_t(bytes.size()), bytes.data()};
    buffer.n_metas = 1;
    buffer.metas = &meta;
  }
};

}  // namespace

TEST(VideoBuffer, CursorMetadataPlacePictureAndHiding) {
  wnd::StreamCursor c;
  // A picture: taken, its straight alpha made premultiplied.
  CursorBlob shape(7, 30, 20, 4, 0x80);
  ASSERT_TRUE(wnd::readCursorMeta(shape.buffer, c));
  EXPECT_TRUE(c.visible);
  EXPECT_EQ(c.x, 30);
  EXPECT_EQ(c.hotY, 2);
  ASSERT_EQ(c.width, 4);
  ASSERT_EQ(c.argb.size(), 16u);
  EXPECT_EQ(c.argb[0], 0x80800000u);
  // A move without a picture keeps the shape.
  CursorBlob move(7, 31, 22, 0, 0);
  ASSERT_TRUE(wnd::readCursorMeta(move.buffer, c));
  EXPECT_EQ(c.x, 31);
  EXPECT_EQ(c.width, 4);
  // A picture said to lie past the metadata's end is not read.
  CursorBlob bad(7, 5, 5, 4, 0xff);
  reinterpret_cast<spa_meta_bitmap*>(bad.bytes.data() + sizeof(spa_meta_cursor))->size = {64, 64};
  ASSERT_TRUE(wnd::readCursorMeta(bad.buffer, c));
  EXPECT_EQ(c.x, 5);
  EXPECT_EQ(c.argb[0], 0x80800000u) << "the picture before stays";
  bad.meta.size = 8;  // too short for the cursor itself
  EXPECT_FALSE(wnd::readCursorMeta(bad.buffer, c));
  // Id 0: no pointer on the stream.
  CursorBlob gone(0, 0, 0, 0, 0);
  ASSERT_TRUE(wnd::readCursorMeta(gone.buffer, c));
  EXPECT_FALSE(c.visible);
}

TEST(VideoBuffer, StreamCursorDrawnWhereTheFrameLiesOnTheScreen) {
  wnd::StreamCursor c;
  CursorBlob shape(7, 10, 12, 4, 0xff);
  ASSERT_TRUE(wnd::readCursorMeta(shape.buffer, c));
  auto redAt = [](const gdi::Bitmap& b, int x, int y) {
    std::uint32_t p = 0;
    std::memcpy(&p, b.scanLine(y) + x * 4, 4);
    return (p & 0xffffff) == 0xff0000;
  };
  // A monitor at (100, 50), frame at scale 1: the picture's top-left at
  // the place less the hot spot, (109, 60) on the screen.
  gdi::Bitmap same = gdi::Bitmap::device(20, 20, gdi::PixelFormat::Rgb32);
  wnd::drawStreamCursor(same, {100, 50, 120, 70}, {100, 50, 740, 410}, 640, 360, c);
  EXPECT_TRUE(redAt(same, 9, 10) && redAt(same, 12, 13));
  EXPECT_FALSE(redAt(same, 8, 10) || redAt(same, 13, 13) || redAt(same, 9, 9));
  // Scale 2 (the frame twice the logical size): half the place, half the size.
  gdi::Bitmap half = gdi::Bitmap::device(20, 20, gdi::PixelFormat::Rgb32);
  wnd::drawStreamCursor(half, {0, 0, 20, 20}, {0, 0, 320, 180}, 640, 360, c);
  EXPECT_TRUE(redAt(half, 4, 5) && redAt(half, 5, 6));
  EXPECT_FALSE(redAt(half, 6, 6) || redAt(half, 3, 5));
  c.visible = false;
  gdi::Bitmap none = gdi::Bitmap::device(20, 20, gdi::PixelFormat::Rgb32);
  wnd::drawStreamCursor(none, {100, 50, 120, 70}, {100, 50, 740, 410}, 640, 360, c);
  EXPECT_FALSE(redAt(none, 9, 10));
}
