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
