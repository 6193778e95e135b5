// The compressors end to end: DIB frames through createEncoder into an AVI
// file, read back by ffprobe and decoded by ffmpeg.
#include <gtest/gtest.h>

#include <QLocale>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "platform/vfw/framegen.h"
#include "platform/vfw/codec.h"
#include "support/media.h"
#include "support/riffread.h"
#include "support/tempdir.h"

using namespace vfw;
using codectest::colourOnly;
using codectest::dibHeader;
using codectest::naturalPicture;
using codectest::packDib;
using codectest::quantised;

namespace {

std::string fourccText(FOURCC f) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[std::size_t(i)] = char((f >> (8 * i)) & 0xFF);
  return s;
}

struct Case {
  int width = 160;
  int height = 120;
  int bitCount = 32;
  bool topDown = false;
  int frames = 3;
  bool overlap = false;  // AVIStreamSetOverlap before the first frame, AVIStreamFlush after the last
  // >= 0: frames go through AVIStreamWriteRows as rows where they lie, this
  // many bytes of garbage between one row and the next.
  int rowGap = -1;
  EncoderOptions options;
};

// The packed frame's rows spread out with `gap` bytes of garbage after
// each, top row first in memory, or bottom row first when `upward`; *top is
// the picture's top row and *stride the step down from it.
std::vector<std::uint8_t> spreadRows(const std::vector<std::uint8_t>& packed, const Case& c, int gap, bool upward,
                                     const std::uint8_t** top, std::ptrdiff_t* stride) {
  const auto rowBytes = std::size_t(((c.width * c.bitCount + 31) & ~31) / 8);
  const std::size_t step = rowBytes + std::size_t(gap);
  std::vector<std::uint8_t> spread(step * std::size_t(c.height), 0xA5);
  for (int y = 0; y < c.height; ++y) {
    // Packed row y counts from the bottom unless the frame is top-down.
    const int fromTop = c.topDown ? y : c.height - 1 - y;
    const int slot = upward ? c.height - 1 - fromTop : fromTop;
    std::memcpy(&spread[step * std::size_t(slot)], &packed[rowBytes * std::size_t(y)], rowBytes);
  }
  *top = upward ? &spread[step * std::size_t(c.height - 1)] : spread.data();
  *stride = upward ? -std::ptrdiff_t(step) : std::ptrdiff_t(step);
  return spread;
}

struct Written {
  std::string path;
  std::vector<std::vector<std::uint8_t>> sources;  // top-down B G R A, as packed
  FOURCC tag = 0;
  FOURCC fcc = 0;
};

// Encodes `c.frames` pictures with compressor `fcc` into a file through the
// AVI library, the way the recorder does: a compressing stream over a file
// stream, the input format set before every frame, every frame marked key
// (which asks the compressor for nothing: its key frames follow the
// interval).
Written writeClip(const testsupport::TempDir& dir, FOURCC fcc, const Case& c) {
  Written w;
  w.fcc = fcc;
  const auto fmt = dibHeader(c.width, c.height, c.bitCount, c.topDown);
  {
    // The output format's compression field, as ffprobe should report it.
    std::unique_ptr<Encoder> enc;
    EXPECT_EQ(createEncoder(fcc, fmt, c.options, enc), AVIERR_OK) << fourccText(fcc);
    if (!enc) return w;
    std::memcpy(&w.tag, enc->outputFormat().data() + 16, 4);
  }
  w.path = dir.file(QString::fromStdString(fourccText(fcc)).trimmed() +
                    QString("_%1_%2%3.avi").arg(c.bitCount).arg(c.topDown ? "td" : "bu").arg(c.overlap ? "_ov" : ""));
  AVIFileInit();
  PAVIFILE file = nullptr;
  PAVISTREAM raw = nullptr, compressed = nullptr;
  EXPECT_EQ(AVIFileOpenA(&file, w.path.c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
  AVISTREAMINFOA si{};
  si.fccType = streamtypeVIDEO;
  si.fccHandler = fcc;
  si.dwScale = 1;
  si.dwRate = 10;
  si.dwQuality = DWORD(c.options.quality);
  si.rcFrame = {0, 0, c.width, c.height};
  EXPECT_EQ(AVIFileCreateStreamA(file, &raw, &si), AVIERR_OK);
  AVICOMPRESSOPTIONS opt{};
  opt.fccType = ICTYPE_VIDEO;
  opt.fccHandler = fcc;
  opt.dwKeyFrameEvery = DWORD(c.options.keyFrameEvery);
  opt.dwQuality = DWORD(c.options.quality);
  opt.dwFlags = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
  EXPECT_EQ(AVIMakeCompressedStream(&compressed, raw, &opt, nullptr), AVIERR_OK);
  if (c.overlap) {
    EXPECT_EQ(AVIStreamSetOverlap(compressed, 1), AVIERR_OK);
  }
  for (int i = 0; i < c.frames && compressed; ++i) {
    EXPECT_EQ(AVIStreamSetFormat(compressed, 0, fmt.data(), LONG(fmt.size())), AVIERR_OK);
    const auto pic = naturalPicture(c.width, c.height, i);
    w.sources.push_back(quantised(pic, c.bitCount));
    const auto bits = packDib(pic, c.width, c.height, c.bitCount, c.topDown);
    if (c.rowGap >= 0) {
      // Odd frames walk up from the bottom row: a negative stride.
      const std::uint8_t* top = nullptr;
      std::ptrdiff_t stride = 0;
      const auto spread = spreadRows(bits, c, c.rowGap, i % 2 == 1, &top, &stride);
      EXPECT_EQ(AVIStreamWriteRows(compressed, i, top, stride, AVIIF_KEYFRAME), AVIERR_OK)
          << fourccText(fcc) << " frame " << i;
      continue;
    }
    EXPECT_EQ(AVIStreamWrite(compressed, i, 1, bits.data(), LONG(bits.size()), AVIIF_KEYFRAME, nullptr, nullptr),
              AVIERR_OK)
        << fourccText(fcc) << " frame " << i;
  }
  if (c.overlap) {
    EXPECT_EQ(AVIStreamFlush(compressed), AVIERR_OK);
  }
  AVIStreamRelease(raw);
  AVIStreamRelease(compressed);
  AVIFileRelease(file);
  AVIFileExit();
  return w;
}

// One line per packet: its size and checksum, as ffmpeg copies it out.
std::string packetSums(const std::string& path) {
  std::string out;
  testsupport::runCommand({"ffmpeg", "-v", "error", "-i", path, "-map", "0:v", "-c", "copy", "-f", "framemd5", "-"}, &out);
  std::string lines;
  for (const auto& line : QString::fromStdString(out).split('\n'))
    if (!line.startsWith('#') && !line.trimmed().isEmpty()) lines += line.toStdString() + "\n";
  return lines;
}

// Lossless means every colour sample back as written (16-bit frames compare
// on their five significant bits); lossy means a PSNR a viewer accepts.
void expectPictures(const Written& w, const Case& c, bool lossless, const std::string& what) {
  const auto probe = testsupport::probeVideo(w.path);
  ASSERT_TRUE(probe.ok) << what;
  EXPECT_EQ(probe.width, c.width) << what;
  EXPECT_EQ(probe.height, c.height) << what;
  EXPECT_EQ(probe.frameCount, c.frames) << what;
  // Key frames at the interval for compressors with delta frames, every
  // frame for the others.
  const CompressorInfo* info = findCompressor(w.fcc);
  const int every = info && info->temporal ? c.options.keyFrameEvery : 1;
  EXPECT_EQ(testsupport::keyFlags(w.path).packets, testsupport::everyNth(c.frames, every)) << what;
  const auto decoded = testsupport::decodeFrames(w.path, c.width, c.height, "bgra");
  ASSERT_EQ(decoded.size(), std::size_t(c.frames)) << what;
  for (int i = 0; i < c.frames; ++i) {
    auto got = colourOnly(decoded[std::size_t(i)]);
    auto want = colourOnly(w.sources[std::size_t(i)]);
    if (lossless && c.bitCount == 16)
      for (auto* v : {&got, &want})
        for (auto& s : *v) s = std::uint8_t(s >> 3);
    if (lossless) {
      EXPECT_TRUE(got == want) << what << " frame " << i << " PSNR " << testsupport::psnr(got, want);
    } else {
      EXPECT_GT(testsupport::psnr(got, want), 30.0) << what << " frame " << i;
    }
  }
}

}  // namespace

TEST(Compressors, TableListsEveryCompressorWithFullFramesFirst) {
  const auto& list = compressors();
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list.front().fccHandler, comptypeDIB);
  EXPECT_EQ(list.front().name, "Full Frames (Uncompressed)");
  // All ten are built into Debian's libavcodec; losing one is a regression.
  EXPECT_EQ(list.size(), 10u);
  // Handler codes are matched without regard to case and by their aliases.
  ASSERT_NE(findCompressor(mmioFOURCC('m', 's', 'v', 'c')), nullptr);
  EXPECT_EQ(findCompressor(mmioFOURCC('C', 'R', 'A', 'M'))->name, "Microsoft Video 1");
  EXPECT_EQ(findCompressor(mmioFOURCC('F', 'M', 'P', '4'))->name, "MPEG-4 Part 2");
  EXPECT_EQ(findCompressor(0)->fccHandler, comptypeDIB);
  EXPECT_EQ(findCompressor(mmioFOURCC('n', 'o', 'n', 'e')), nullptr);
}

TEST(Compressors, EveryCompressorRoundTripsThirtyTwoBitFrames) {
  testsupport::TempDir dir;
  Case c;
  for (const CompressorInfo& info : compressors()) {
    const Written w = writeClip(dir, info.fccHandler, c);
    if (w.path.empty()) continue;
    const auto probe = testsupport::probeVideo(w.path);
    EXPECT_EQ(probe.codecTag == "[0][0][0][0]" ? std::string("DIB ") : probe.codecTag,
              w.tag == 0 ? std::string("DIB ") : fourccText(w.tag))
        << info.name.toStdString();
    expectPictures(w, c, info.lossless, info.name.toStdString());
  }
}

TEST(Compressors, TopDownInputComesOutUpright) {
  testsupport::TempDir dir;
  // The pass-through and each converter family (YUV, full-range YUV, planar
  // RGB, swapped RGB) at the depths screens and bitmap files give.
  for (int bits : {32, 24}) {
    Case c;
    c.topDown = true;
    c.bitCount = bits;
    for (const char* f : {"DIB ", "H264", "MJPG", "ULRG", "HFYU"}) {
      const FOURCC fcc = mmioFOURCC(f[0], f[1], f[2], f[3]);
      const Written w = writeClip(dir, fcc, c);
      expectPictures(w, c, findCompressor(fcc)->lossless, std::string(f) + " at " + std::to_string(bits));
    }
  }
}

// A screen grab's rows reach the encoder, or the file, where they lie:
// top-down with padding between rows, or walked up from the bottom row;
// each compressor family and full frames at both depths give the picture.
TEST(Compressors, RowsWhereTheyLie) {
  testsupport::TempDir dir;
  for (int bits : {32, 24}) {
    Case c;
    c.width = 101;  // 24-bit rows padded to 304 bytes
    c.height = 50;
    c.bitCount = bits;
    c.frames = 4;
    c.rowGap = 24;
    for (const char* f : {"DIB ", "H264", "MJPG", "ULRG"}) {
      const FOURCC fcc = mmioFOURCC(f[0], f[1], f[2], f[3]);
      const bool lossless = findCompressor(fcc)->lossless;
      c.width = lossless ? 101 : 100;  // 4:2:0 takes even sizes
      c.height = lossless ? 51 : 50;   // rows are converted in pairs: one left over
      const Written w = writeClip(dir, fcc, c);
      expectPictures(w, c, lossless, std::string(f) + " rows at " + std::to_string(bits));
      if (fcc == comptypeDIB && bits == 32) {
        // The spare byte of each pixel is alpha to readers: opaque.
        const auto decoded = testsupport::decodeFrames(w.path, c.width, c.height, "bgra");
        ASSERT_FALSE(decoded.empty());
        for (const auto& frame : decoded)
          for (std::size_t i = 3; i < frame.size(); i += 4) ASSERT_EQ(frame[i], 0xFF) << "pixel " << i / 4;
      }
    }
  }
  // The file's own stream takes rows only for frames it stores as they
  // come; a compressed stream's frames are packets.
  PAVIFILE file = nullptr;
  PAVISTREAM raw = nullptr;
  AVIFileInit();
  ASSERT_EQ(AVIFileOpenA(&file, dir.file("packets.avi").c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
  AVISTREAMINFOA si{};
  si.fccType = streamtypeVIDEO;
  si.dwScale = 1;
  si.dwRate = 10;
  ASSERT_EQ(AVIFileCreateStreamA(file, &raw, &si), AVIERR_OK);
  auto jpeg = dibHeader(16, 16, 24, false);
  jpeg[16] = 'M', jpeg[17] = 'J', jpeg[18] = 'P', jpeg[19] = 'G';
  ASSERT_EQ(AVIStreamSetFormat(raw, 0, jpeg.data(), LONG(jpeg.size())), AVIERR_OK);
  const std::vector<std::uint8_t> rows(16 * 48);
  EXPECT_EQ(AVIStreamWriteRows(raw, 0, rows.data(), 48, AVIIF_KEYFRAME), AVIERR_UNSUPPORTED);
  EXPECT_EQ(AVIStreamWriteRows(raw, 0, nullptr, 48, AVIIF_KEYFRAME), AVIERR_BADPARAM);
  AVIStreamRelease(raw);
  AVIFileRelease(file);
  AVIFileExit();
}

TEST(Compressors, SixteenEightAndTwentyFourBitInputs) {
  testsupport::TempDir dir;
  for (int bits : {16, 8, 24}) {
    Case c;
    c.bitCount = bits;
    // Full frames keep the depth; ZMBV takes 8 and 16 bits natively; the
    // others must convert (palette to YUV for H.264, 5-5-5 to JPEG's YUV).
    for (const char* f : {"DIB ", "ZMBV", "H264", "MJPG", "HFYU", "ULRG"}) {
      const FOURCC fcc = mmioFOURCC(f[0], f[1], f[2], f[3]);
      const Written w = writeClip(dir, fcc, c);
      expectPictures(w, c, findCompressor(fcc)->lossless, std::string(f) + " at " + std::to_string(bits));
    }
  }
}

TEST(Compressors, UncompressedRowsKeepTheirPaddingAndDepth) {
  // 101 pixels at 24 bits: 303 bytes of pixels padded to 304 a row.
  testsupport::TempDir dir;
  Case c;
  c.width = 101;
  c.height = 50;
  c.bitCount = 24;
  const Written w = writeClip(dir, comptypeDIB, c);
  const auto fmt = dibHeader(101, 50, 24, false);
  std::unique_ptr<Encoder> enc;
  ASSERT_EQ(createEncoder(comptypeDIB, fmt, {}, enc), AVIERR_OK);
  EXPECT_TRUE(std::equal(fmt.begin(), fmt.begin() + 40, enc->outputFormat().begin()));
  expectPictures(w, c, true, "DIB 101x50x24");
}

TEST(Compressors, InputsNoConverterCanTakeAreRefusedCleanly) {
  std::unique_ptr<Encoder> enc;
  auto fmt = dibHeader(64, 48, 32, false);
  auto set32 = [&](std::size_t off, std::uint32_t v) { std::memcpy(&fmt[off], &v, 4); };
  auto refused = [&](const char* why) {
    for (const CompressorInfo& info : compressors()) {
      EXPECT_EQ(createEncoder(info.fccHandler, fmt, {}, enc), AVIERR_BADFORMAT) << why << " " << info.name.toStdString();
      EXPECT_FALSE(compressorAccepts(info, fmt)) << why;
    }
    fmt = dibHeader(64, 48, 32, false);
  };
  set32(16, gdi::BI_RLE8);
  refused("RLE");
  set32(4, 0);
  refused("zero width");
  set32(8, 0x7FFFFFFF);
  refused("huge height");
  EXPECT_EQ(createEncoder(comptypeDIB, std::span(fmt).first(20), {}, enc), AVIERR_BADFORMAT);
  // An 8-bit format without its colour table.
  fmt = dibHeader(64, 48, 8, false);
  EXPECT_EQ(createEncoder(comptypeDIB, std::span(fmt).first(40), {}, enc), AVIERR_BADFORMAT);
  EXPECT_EQ(createEncoder(mmioFOURCC('n', 'o', 'n', 'e'), fmt, {}, enc), AVIERR_NOCOMPRESSOR);

  // A frame shorter than the format says is refused, not read past its end.
  fmt = dibHeader(64, 48, 32, false);
  for (const char* f : {"DIB ", "MJPG"}) {
    ASSERT_EQ(createEncoder(mmioFOURCC(f[0], f[1], f[2], f[3]), fmt, {}, enc), AVIERR_OK);
    std::vector<std::uint8_t> shortFrame(64 * 47 * 4);
    std::span<const std::uint8_t> packet;
    bool key = false;
    EXPECT_EQ(enc->encode(shortFrame, true, packet, key), AVIERR_BADSIZE) << f;
  }
}

TEST(Compressors, ThirtyTwoBitFramesWithColourMasks) {
  // A 32-bit section loaded from a file may carry its masks (52-byte
  // format). The usual B G R order is the same pixels as BI_RGB and is
  // written as such; any other order has no converter and is refused.
  auto fmt = dibHeader(64, 48, 32, false);
  const std::uint32_t bitfields = gdi::BI_BITFIELDS;
  std::memcpy(&fmt[16], &bitfields, 4);
  for (std::uint32_t m : {0xFF0000u, 0xFF00u, 0xFFu})
    fmt.insert(fmt.end(), {std::uint8_t(m), std::uint8_t(m >> 8), std::uint8_t(m >> 16), std::uint8_t(m >> 24)});
  std::unique_ptr<Encoder> enc;
  ASSERT_EQ(createEncoder(comptypeDIB, fmt, {}, enc), AVIERR_OK);
  const auto out = enc->outputFormat();
  ASSERT_EQ(out.size(), 40u);
  std::uint32_t compression = 1;
  std::memcpy(&compression, out.data() + 16, 4);
  EXPECT_EQ(compression, gdi::BI_RGB);
  for (const CompressorInfo& info : compressors())
    EXPECT_TRUE(compressorAccepts(info, fmt)) << info.name.toStdString();
  // The masks missing altogether, or in R G B order.
  EXPECT_EQ(createEncoder(comptypeDIB, std::span(fmt).first(40), {}, enc), AVIERR_BADFORMAT);
  std::swap(fmt[40], fmt[48]);
  std::swap(fmt[42], fmt[50]);
  EXPECT_EQ(createEncoder(mmioFOURCC('H', '2', '6', '4'), fmt, {}, enc), AVIERR_BADFORMAT);
}

TEST(Compressors, SizesAnEncoderCannotTakeAreNotOffered) {
  // 4:2:0 H.264 needs even sides and Video 1 multiples of four; a 101x51
  // frame must be left out of the list, not fail in the middle of a recording.
  const auto fmt = dibHeader(101, 51, 32, false);
  EXPECT_FALSE(compressorAccepts(*findCompressor(mmioFOURCC('H', '2', '6', '4')), fmt));
  EXPECT_FALSE(compressorAccepts(*findCompressor(mmioFOURCC('M', 'S', 'V', 'C')), fmt));
  EXPECT_TRUE(compressorAccepts(*findCompressor(comptypeDIB), fmt));
  EXPECT_TRUE(compressorAccepts(*findCompressor(mmioFOURCC('Z', 'M', 'B', 'V')), fmt));
}

// Through the library, every write flagged AVIIF_KEYFRAME: each compressor
// with delta frames makes key frames at exactly the interval, the others
// every frame; idx1, ffprobe's packets and the decoded frames agree (Video
// 1's decoder calls every frame a key frame, so only its packets count),
// and every frame decodes as before.
TEST(Compressors, KeyFramesAreTheIntervalsAndTheIndexSaysWhichTheyAre) {
  testsupport::TempDir dir;
  int temporal = 0;
  for (const CompressorInfo& info : compressors()) {
    Case c;
    c.width = 64;
    c.height = 48;
    c.frames = 22;
    c.options.keyFrameEvery = 7;
    const Written w = writeClip(dir, info.fccHandler, c);
    const std::string what = info.name.toStdString();
    expectPictures(w, c, info.lossless, what);
    const auto want = testsupport::everyNth(c.frames, info.temporal ? 7 : 1);
    temporal += info.temporal;
    EXPECT_EQ(avitest::indexFlags(avitest::readFile(w.path)).idx1, want) << what;
    const auto flags = testsupport::keyFlags(w.path);
    EXPECT_EQ(flags.packets, want) << what;
    if (info.fccHandler != mmioFOURCC('M', 'S', 'V', 'C')) {
      EXPECT_EQ(flags.frames, want) << what;
    }
  }
  EXPECT_GE(temporal, 3);  // H.264, MPEG-4 and ZMBV at least
}

TEST(Compressors, KeyFramesFollowTheIntervalAndTheCallersRequest) {
  // Encoders that count frames themselves (ZMBV) and ones that take the
  // picture type (H.264) alike: a requested key frame is a real one.
  for (const char* f : {"ZMBV", "H264", "FFV1", "cvid"}) {
    const FOURCC fcc = mmioFOURCC(f[0], f[1], f[2], f[3]);
    const auto fmt = dibHeader(64, 48, 32, false);
    EncoderOptions opt;
    opt.keyFrameEvery = 4;
    std::unique_ptr<Encoder> enc;
    ASSERT_EQ(createEncoder(fcc, fmt, opt, enc), AVIERR_OK) << f;
    std::vector<bool> keys;
    for (int i = 0; i < 7; ++i) {
      const auto bits = packDib(naturalPicture(64, 48, i), 64, 48, 32, false);
      std::span<const std::uint8_t> packet;
      bool key = false;
      ASSERT_EQ(enc->encode(bits, i == 2, packet, key), AVIERR_OK) << f;
      EXPECT_FALSE(packet.empty()) << f;
      keys.push_back(key);
    }
    EXPECT_TRUE(keys[0]) << f;
    EXPECT_FALSE(keys[1]) << f;
    EXPECT_TRUE(keys[2]) << f << " (requested)";
    EXPECT_FALSE(keys[3]) << f;
  }
}

TEST(Compressors, OverlappedWritesGiveTheSamePacketsInOrder) {
  // A frame converted while the one before compresses on another thread:
  // the file must hold exactly what one-at-a-time writing gives, including
  // encoders that restart for a requested key frame (ZMBV) and 24-bit rows.
  testsupport::TempDir plain, overlapped;
  for (int bits : {32, 24}) {
    for (const char* f : {"ULRG", "MJPG", "H264", "ZMBV"}) {
      const FOURCC fcc = mmioFOURCC(f[0], f[1], f[2], f[3]);
      Case c;
      c.bitCount = bits;
      c.frames = 7;
      c.options.keyFrameEvery = 3;
      const Written one = writeClip(plain, fcc, c);
      c.overlap = true;
      const Written two = writeClip(overlapped, fcc, c);
      const std::string what = std::string(f) + " at " + std::to_string(bits);
      expectPictures(two, c, findCompressor(fcc)->lossless, what);
      const std::string sums = packetSums(two.path);
      EXPECT_EQ(std::count(sums.begin(), sums.end(), '\n'), c.frames) << what;
      EXPECT_EQ(sums, packetSums(one.path)) << what;
    }
  }
}

// Every frame a key frame and packets taken late: encoders run frame
// threads and hold frames back, and the file still gets every frame, in
// its place, as a key frame; the intra-only encoders give the very packets
// they give one frame at a time.
TEST(Compressors, FramesHeldBackByTheEncoderLandInOrder) {
  testsupport::TempDir plain, overlapped;
  for (const char* f : {"ULRG", "MJPG", "H264", "HFYU"}) {
    const FOURCC fcc = mmioFOURCC(f[0], f[1], f[2], f[3]);
    Case c;
    c.frames = 12;
    const Written one = writeClip(plain, fcc, c);
    c.overlap = true;
    const Written two = writeClip(overlapped, fcc, c);
    expectPictures(two, c, findCompressor(fcc)->lossless, f);
    if (fcc != mmioFOURCC('H', '2', '6', '4')) {
      EXPECT_EQ(packetSums(two.path), packetSums(one.path)) << f;
    }
  }
}

// A live recording's encoder stays on one thread where that keeps up with
// its rate, so every packet comes back with its frame; past that rate, and
// for a build from files, frame threads hold the first frames back.
TEST(Compressors, PacedEncodersTakeFrameThreadsOnlyWhereOneThreadFallsBehind) {
  if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "one core: libavcodec runs one thread anyway";
  const int w = 640, h = 480;
  const auto fmt = dibHeader(w, h, 32, false);
  const auto bits = packDib(naturalPicture(w, h, 0), w, h, 32, false);
  struct Run {
    bool paced;
    int fps;
    bool holds;
  };
  for (const char* f : {"ULRG", "HFYU"}) {
    for (const Run r : {Run{true, 30, false}, Run{true, 1000, true}, Run{false, 30, true}}) {
      EncoderOptions o;
      o.allowDelay = true;
      o.paced = r.paced;
      o.framesPerSecond = r.fps;
      std::unique_ptr<Encoder> enc;
      ASSERT_EQ(createEncoder(mmioFOURCC(f[0], f[1], f[2], f[3]), fmt, o, enc), AVIERR_OK) << f;
      ASSERT_EQ(enc->prepare(bits), AVIERR_OK) << f;
      std::span<const std::uint8_t> packet;
      bool key = false;
      ASSERT_EQ(enc->compress(true, packet, key), AVIERR_OK) << f;
      EXPECT_EQ(packet.empty(), r.holds) << f << (r.paced ? " paced at " : " as fast as it goes, ") << r.fps;
    }
  }
}

TEST(Compressors, QualityAndDataRateReachTheEncoder) {
  // Busy content (noise over the picture) so that a data-rate target is
  // something the encoder can reach without running into its coarsest
  // quantiser.
  const int w = 320, h = 240, frames = 20;
  auto pic = naturalPicture(w, h, 0);
  std::uint32_t seed = 1;
  for (std::size_t i = 0; i < pic.size(); ++i) {
    seed = seed * 1664525u + 1013904223u;
    if (i % 4 != 3) pic[i] = std::uint8_t(std::clamp(int(pic[i]) + int(seed >> 27) - 16, 0, 255));
  }
  const auto fmt = dibHeader(w, h, 32, false);
  const auto bits = packDib(pic, w, h, 32, false);
  auto bytesFor = [&](const char* f, LONG q, LONG kBps) {
    EncoderOptions opt;
    opt.quality = q;
    opt.kilobytesPerSecond = kBps;
    opt.framesPerSecond = 10;
    std::unique_ptr<Encoder> enc;
    EXPECT_EQ(createEncoder(mmioFOURCC(f[0], f[1], f[2], f[3]), fmt, opt, enc), AVIERR_OK);
    long total = 0;
    for (int i = 0; i < frames && enc; ++i) {
      std::span<const std::uint8_t> packet;
      bool key = false;
      EXPECT_EQ(enc->encode(bits, true, packet, key), AVIERR_OK);
      total += long(packet.size());
    }
    return total;
  };
  for (const char* f : {"MJPG", "XVID", "H264"}) {
    EXPECT_LT(bytesFor(f, 1000, 0), bytesFor(f, 9000, 0)) << f;
    // ICQUALITY_DEFAULT lands between the two extremes.
    const long best = bytesFor(f, 10000, 0);
    EXPECT_LT(bytesFor(f, 0, 0), bytesFor(f, ICQUALITY_DEFAULT, 0)) << f;
    EXPECT_LT(bytesFor(f, ICQUALITY_DEFAULT, 0), best) << f;
    // Half of what the best quality takes per second, in kB/s: rate
    // control overshoots a little at first, so ask for clearly less.
    const LONG half = LONG(best / frames * 10 / 2 / 1000);
    EXPECT_LT(bytesFor(f, 10000, half), best * 3 / 4) << f << " at " << half << " kB/s";
  }
}

// Motion JPEG codes whole 16x16 blocks and 4:2:0 chroma: odd sizes that
// leave part of a block give the whole picture (the address sanitiser
// watches the rows past the edge). With a data rate another encoder takes
// over; the stream format is the same.
TEST(Compressors, MotionJpegAtOddSizesAndWithADataRate) {
  testsupport::TempDir dir;
  const FOURCC mjpg = mmioFOURCC('M', 'J', 'P', 'G');
  for (const auto& [w, h] : {std::pair{255, 253}, std::pair{48, 32}}) {
    Case c;
    c.width = w;
    c.height = h;
    for (const bool topDown : {false, true}) {
      c.topDown = topDown;
      expectPictures(writeClip(dir, mjpg, c), c, false, std::to_string(w) + "x" + std::to_string(h));
    }
  }
  const auto fmt = dibHeader(255, 253, 32, false);
  std::unique_ptr<Encoder> fixed, rated;
  EncoderOptions withRate;
  withRate.kilobytesPerSecond = 500;
  withRate.framesPerSecond = 10;
  ASSERT_EQ(createEncoder(mjpg, fmt, {}, fixed), AVIERR_OK);
  ASSERT_EQ(createEncoder(mjpg, fmt, withRate, rated), AVIERR_OK);
  const auto a = fixed->outputFormat(), b = rated->outputFormat();
  EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin(), b.end()));
}

TEST(CompressorDescriptions, SayWhichCompressorsTakeAFormatAndWhyNot) {
  // The capture frame's default size.
  const auto fmt = dibHeader(255, 253, 32, false);
  const auto all = describeCompressors(fmt, false);
  ASSERT_EQ(all.size(), compressors().size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    const CompressorDescription& d = all[i];
    EXPECT_EQ(d.fccHandler, compressors()[i].fccHandler);
    EXPECT_EQ(d.name, compressors()[i].name);
    EXPECT_EQ(d.lossless, compressors()[i].lossless);
    EXPECT_EQ(d.usable, compressorAccepts(compressors()[i], fmt)) << d.name.toStdString();
    EXPECT_EQ(d.usable, d.refusal.isEmpty()) << d.name.toStdString();
    EXPECT_LT(d.framesPerSecond, 0) << "not measured";
  }
  auto refusal = [](std::span<const std::uint8_t> f, const char* fcc) {
    return compressorRefusal(*findCompressor(mmioFOURCC(fcc[0], fcc[1], fcc[2], fcc[3])), f).toStdString();
  };
  EXPECT_EQ(refusal(fmt, "H264"), "needs an even width and height");
  EXPECT_EQ(refusal(fmt, "cvid"), "needs a width and height divisible by 4");
  EXPECT_EQ(refusal(fmt, "MSVC"), "needs a width and height divisible by 4");
  EXPECT_EQ(refusal(fmt, "MJPG"), "");
  EXPECT_EQ(refusal(dibHeader(8192, 16, 32, false), "XVID"), "takes at most 8191 pixels a side");
  auto rle = dibHeader(64, 48, 32, false);
  const std::uint32_t rle8 = gdi::BI_RLE8;
  std::memcpy(&rle[16], &rle8, 4);
  EXPECT_EQ(refusal(rle, "DIB "), "cannot read this kind of frame");

  // Without a format, nothing is ruled out; a bare header reads as its bytes.
  for (const CompressorDescription& d : describeCompressors(std::span<const std::uint8_t>{}, true)) {
    EXPECT_TRUE(d.usable);
    EXPECT_LT(d.framesPerSecond, 0);
  }
  BITMAPINFOHEADER bi;
  std::memcpy(&bi, fmt.data(), sizeof bi);
  const auto fromHeader = describeCompressors(bi, false);
  for (std::size_t i = 0; i < all.size(); ++i) EXPECT_EQ(fromHeader[i].refusal, all[i].refusal);
}

TEST(CompressorDescriptions, MeasureTheUsableOnesWithTheFileWrite) {
  const auto fmt = dibHeader(100, 50, 32, false);
  for (const CompressorDescription& d : describeCompressors(fmt, true)) {
    if (d.usable) EXPECT_GT(d.framesPerSecond, 0) << d.name.toStdString();
    else EXPECT_LT(d.framesPerSecond, 0) << d.name.toStdString();
  }
  // Full frames of bottom-up rows cost nothing but the write; with it the
  // figure is a rate a file can take, not the millions of frames per second
  // an empty loop reaches. 20 kB per frame at 1 GB/s would be 50,000.
  EXPECT_LT(measureFrameRate(comptypeDIB, dibHeader(1920, 1080, 32, false), 0.1, 4), 10000);
  std::atomic<bool> cancel{true};
  EXPECT_LT(measureFrameRate(comptypeDIB, fmt, 0.1, 4, &cancel), 0);
}

TEST(CompressorDescriptions, FrameRateTextGroupsAndCaps) {
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  EXPECT_EQ(frameRateText(-1).toStdString(), "n/a");
  EXPECT_EQ(frameRateText(0.123).toStdString(), "0.12 fps");
  EXPECT_EQ(frameRateText(7.46).toStdString(), "7.5 fps");
  EXPECT_EQ(frameRateText(29.6).toStdString(), "30 fps");
  EXPECT_EQ(frameRateText(999.4).toStdString(), "999 fps");
  EXPECT_EQ(frameRateText(1000).toStdString(), "1,000 fps");
  EXPECT_EQ(frameRateText(1000.5).toStdString(), "over 1,000 fps");
  EXPECT_EQ(frameRateText(5788712).toStdString(), "over 1,000 fps");
  // A caller with a higher cap sees the grouping inside the figure too.
  EXPECT_EQ(frameRateText(1234.4, 100000).toStdString(), "1,234 fps");
  EXPECT_EQ(frameRateText(5788712, 100000).toStdString(), "over 100,000 fps");
  // The C locale, which a terminal often has, still groups.
  QLocale::setDefault(QLocale::c());
  EXPECT_EQ(frameRateText(1234, 100000).toStdString(), "1,234 fps");
  QLocale::setDefault(before);
}
