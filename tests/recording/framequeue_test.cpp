// The queue between the recorder and the writer's thread: every frame
// handed over reaches the file in order; a writer a whole queue behind
// refuses frames instead of holding them all; a failed write stops it.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "recording/aviwriter.h"
#include "recording/framequeue.h"
#include "support/media.h"
#include "support/tempdir.h"

using recording::AviWriter;
using recording::FrameQueue;

namespace {

vfw::COMPVARS compressor(vfw::FOURCC fcc) {
  vfw::COMPVARS c{};
  c.cbSize = vfw::COMPVARS_CBSIZE;
  c.fccType = vfw::streamtypeVIDEO;
  c.fccHandler = fcc;
  c.lQ = vfw::ICQUALITY_DEFAULT;
  return c;
}

gdi::Bitmap solid(std::uint32_t bgrx, int w, int h) {
  gdi::Bitmap b = gdi::Bitmap::device(w, h, gdi::PixelFormat::Rgb32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) reinterpret_cast<std::uint32_t*>(b.scanLine(y))[x] = bgrx;
  return b;
}

bool open(AviWriter& w, const gdi::Bitmap& first, vfw::FOURCC fcc, const std::string& path) {
  return w.open(first, compressor(fcc), QString::fromStdString(path),
                [](vfw::AVISTREAMINFO& si) { si.dwRate = 10; }) == recording::OpenOutcome::Opened;
}

}  // namespace

TEST(FrameQueue, EveryFrameHandedOverIsWrittenInOrder) {
  testsupport::TempDir dir;
  const std::string path = dir.file("order.avi");
  const std::uint32_t colours[] = {0x00ff0000, 0x0000ff00, 0x000000ff, 0x00ffffff, 0x00000000};
  AviWriter writer;
  ASSERT_TRUE(open(writer, solid(colours[0], 48, 32), vfw::comptypeDIB, path));
  {
    FrameQueue queue(writer, writer.imageSize(), nullptr);
    EXPECT_GT(queue.capacity(), 100u) << "small frames: many may wait";
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(queue.push(solid(colours[i % 5], 48, 32), i));
    queue.drain();
    EXPECT_EQ(queue.written(), 20);
    EXPECT_FALSE(queue.failure());
  }
  ASSERT_TRUE(writer.close());
  const auto frames = testsupport::decodeFrames(path, 48, 32, "bgra");
  ASSERT_EQ(frames.size(), 20u);
  for (int i = 0; i < 20; ++i) {
    std::uint32_t px = 0;
    std::memcpy(&px, frames[std::size_t(i)].data(), 4);
    EXPECT_EQ(px & 0xFFFFFF, colours[i % 5]) << "frame " << i;
  }
}

// A frame of 256 MiB or more leaves room for two; 1080p frames compressed
// one at a time cannot all wait, and what was taken is written.
TEST(FrameQueue, AWriterBehindRefusesFramesAndKeepsThoseTaken) {
  testsupport::TempDir dir;
  const std::string path = dir.file("behind.avi");
  const gdi::Bitmap frame = solid(0x00336699, 1920, 1080);
  AviWriter writer;
  ASSERT_TRUE(open(writer, frame, vfw::mmioFOURCC('M', 'J', 'P', 'G'), path));
  int taken = 0;
  {
    FrameQueue queue(writer, FrameQueue::kMaxWaitingBytes, nullptr);
    EXPECT_EQ(queue.capacity(), 2u);
    for (int i = 0; i < 6; ++i)
      if (queue.push(frame, taken)) ++taken;
    EXPECT_LT(taken, 6);
    EXPECT_GE(taken, 2);
  }  // the end writes what waits
  ASSERT_TRUE(writer.close());
  EXPECT_EQ(testsupport::probeVideo(path).frameCount, taken);
}

// A write that fails (a frame of another size reaching the writer) stops
// the queue there: the failure names the frame, later frames are refused,
// the file keeps those before it, and the thread says so once.
TEST(FrameQueue, AFailedWriteStopsTheQueue) {
  testsupport::TempDir dir;
  const std::string path = dir.file("failed.avi");
  AviWriter writer;
  ASSERT_TRUE(open(writer, solid(0x00ff0000, 32, 24), vfw::comptypeDIB, path));
  std::atomic<int> told{0};
  {
    FrameQueue queue(writer, writer.imageSize(), [&] { ++told; });
    ASSERT_TRUE(queue.push(solid(0x00ff0000, 32, 24), 0));
    ASSERT_TRUE(queue.push(solid(0x00ff0000, 32, 24), 1));
    ASSERT_TRUE(queue.push(solid(0x00ff0000, 16, 16), 2));
    queue.drain();
    ASSERT_TRUE(queue.failure());
    EXPECT_EQ(queue.failure()->index, 2);
    EXPECT_NE(queue.failure()->result, 0);
    EXPECT_EQ(queue.written(), 2);
    EXPECT_FALSE(queue.push(solid(0x00ff0000, 32, 24), 3));
  }
  EXPECT_EQ(told, 1);
  ASSERT_TRUE(writer.close());
  EXPECT_EQ(testsupport::probeVideo(path).frameCount, 2);
}
