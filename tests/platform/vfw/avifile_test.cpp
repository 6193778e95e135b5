// The AVI file library written through its published calls and read back by
// ffprobe/ffmpeg, plus the raw header bytes an independent reader hides.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <sys/stat.h>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/gdi/bitmap.h"
#include "platform/vfw/avitesting.h"
#include "platform/vfw/vfw.h"
#include "support/media.h"
#include "support/tempdir.h"
#include "platform/vfw/pattern.h"
#include "support/riffread.h"

using namespace vfw;
using namespace avitest;
using gdi::RGBQUAD;
namespace avilimits = vfw::testing;

namespace {

BITMAPINFOHEADER infoHeader(int w, int h, int bpp) {
  BITMAPINFOHEADER bi{};
  bi.biSize = 40;
  bi.biWidth = w;
  bi.biHeight = h;
  bi.biPlanes = 1;
  bi.biBitCount = WORD(bpp);
  bi.biSizeImage = DWORD(gdi::rowBytes(w, bpp) * (h < 0 ? -h : h));
  return bi;
}

std::vector<std::uint8_t> bytesOf(const BITMAPINFOHEADER& bi, const std::vector<RGBQUAD>& table = {}) {
  std::vector<std::uint8_t> v(sizeof bi + table.size() * 4);
  std::memcpy(v.data(), &bi, sizeof bi);
  if (!table.empty()) std::memcpy(v.data() + sizeof bi, table.data(), table.size() * 4);
  return v;
}

AVISTREAMINFO streamInfo(int w, int h, DWORD rate) {
  AVISTREAMINFO si{};
  si.fccType = streamtypeVIDEO;
  si.fccHandler = comptypeDIB;
  si.dwScale = 1;
  si.dwRate = rate;
  si.dwSuggestedBufferSize = DWORD(w * h * 4);
  si.rcFrame = {0, 0, w, h};
  return si;
}

// A file with one compressing ('DIB ') stream, released on destruction in
// the order the writer releases.
struct OpenFile {
  PAVIFILE file = nullptr;
  PAVISTREAM raw = nullptr;
  PAVISTREAM comp = nullptr;
  // With another compressor than full frames, a key frame every
  // `keyFrameEvery` frames.
  OpenFile(const std::string& path, const AVISTREAMINFO& si, FOURCC compressor = comptypeDIB,
           DWORD keyFrameEvery = 1) {
    AVIFileInit();
    EXPECT_EQ(AVIFileOpenA(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
    EXPECT_EQ(AVIFileCreateStreamA(file, &raw, &si), AVIERR_OK);
    AVICOMPRESSOPTIONS o{};
    o.fccType = ICTYPE_VIDEO;
    o.fccHandler = compressor;
    o.dwKeyFrameEvery = keyFrameEvery;
    o.dwFlags = AVICOMPRESSF_VALID | AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_DATARATE;
    EXPECT_EQ(AVIMakeCompressedStream(&comp, raw, &o, nullptr), AVIERR_OK);
  }
  void close() {
    AVIStreamRelease(raw);
    AVIStreamRelease(comp);
    AVIFileRelease(file);
    if (file) AVIFileExit();
    raw = comp = nullptr;
    file = nullptr;
  }
  ~OpenFile() { close(); }
};

HRESULT writeFrame(PAVISTREAM s, LONG i, const std::vector<std::uint8_t>& bits) {
  return AVIStreamWrite(s, i, 1, bits.data(), LONG(bits.size()), AVIIF_KEYFRAME, nullptr, nullptr);
}

class AviFileTest : public ::testing::Test {
 protected:
  void TearDown() override {
    avilimits::setRiffSizeLimit(0);
    avilimits::setCheckpointInterval(0);
  }
  testsupport::TempDir dir;
};

}  // namespace

// Stream header values as given, frame count, key flags and pixels, checked
// both in the bytes on disk and through ffprobe/ffmpeg.
TEST_F(AviFileTest, UncompressedFileCarriesHeaderValuesIndexAndPixels) {
  const std::string path = dir.file("plain.avi");
  const int w = 64, h = 48, n = 5;
  AVISTREAMINFO si = streamInfo(w, h, 7);
  si.dwQuality = 7500;
  si.dwSuggestedBufferSize = 1000;  // smaller than a frame: the header grows it
  {
    OpenFile f(path, si);
    const BITMAPINFOHEADER bi = infoHeader(w, h, 32);
    ASSERT_EQ(AVIStreamSetFormat(f.comp, 0, &bi, 40), AVIERR_OK);
    for (int i = 0; i < n; ++i) ASSERT_EQ(writeFrame(f.comp, i, patternFrame32(w, h, i)), AVIERR_OK);
  }
  const auto b = readFile(path);
  const auto cs = chunks(b);
  ASSERT_GE(b.size(), 12u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data()), 4), "RIFF");
  EXPECT_EQ(u32(b, 4), b.size() - 8);
  const Chunk* avih = find(cs, "avih");
  const Chunk* strh = find(cs, "strh");
  const Chunk* strf = find(cs, "strf");
  const Chunk* idx1 = find(cs, "idx1");
  const Chunk* movi = find(cs, "LIST:movi");
  ASSERT_TRUE(avih && strh && strf && idx1 && movi);
  EXPECT_EQ(avih->size, 56u);
  EXPECT_EQ(strh->size, 56u);
  EXPECT_EQ(strf->size, 40u);
  EXPECT_EQ(count(cs, "AVIX"), 0);
  EXPECT_TRUE(find(cs, "JUNK"));  // the super index stays a reservation in a small file

  EXPECT_EQ(u32(b, avih->pos + 8 + 0), 1000000u / 7);  // microseconds per frame
  EXPECT_EQ(u32(b, avih->pos + 8 + 16), DWORD(n));     // total frames
  EXPECT_EQ(u32(b, avih->pos + 8 + 24), 1u);           // streams
  EXPECT_EQ(u32(b, avih->pos + 8 + 32), DWORD(w));
  EXPECT_EQ(u32(b, avih->pos + 8 + 36), DWORD(h));

  const std::uint64_t s = strh->pos + 8;
  EXPECT_EQ(u32(b, s + 0), streamtypeVIDEO);
  EXPECT_EQ(u32(b, s + 4), comptypeDIB);
  EXPECT_EQ(u32(b, s + 20), 1u);     // scale
  EXPECT_EQ(u32(b, s + 24), 7u);     // rate
  EXPECT_EQ(u32(b, s + 32), DWORD(n));  // length
  EXPECT_EQ(u32(b, s + 36), DWORD(w * h * 4));
  EXPECT_EQ(u32(b, s + 40), 7500u);  // quality
  EXPECT_EQ(u16(b, s + 48), 0);
  EXPECT_EQ(u16(b, s + 50), 0);
  EXPECT_EQ(u16(b, s + 52), w);
  EXPECT_EQ(u16(b, s + 54), h);

  // idx1: one 16-byte entry per frame, key, offsets from the 'movi' fourcc
  // to each chunk's header.
  ASSERT_EQ(idx1->size, 16u * n);
  for (int i = 0; i < n; ++i) {
    const std::uint64_t e = idx1->pos + 8 + 16u * i;
    EXPECT_EQ(u32(b, e + 4), AVIIF_KEYFRAME);
    const std::uint64_t chunk = movi->pos + 8 + u32(b, e + 8);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data() + chunk), 4), "00db");
    EXPECT_EQ(u32(b, e + 12), DWORD(w * h * 4));
    if (i == 0) {
      EXPECT_EQ(chunk % 2048, 0u);  // frames start aligned
    }
  }

  const auto p = testsupport::probeVideo(path);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.codecName, "rawvideo");
  EXPECT_EQ(p.width, w);
  EXPECT_EQ(p.height, h);
  EXPECT_EQ(p.rateNum, 7);
  EXPECT_EQ(p.rateDen, 1);
  EXPECT_EQ(p.frameCount, n);
  EXPECT_EQ(p.keyPackets, n);
  const auto frames = testsupport::decodeFrames(path, w, h);
  ASSERT_EQ(frames.size(), std::size_t(n));
  for (int i = 0; i < n; ++i) EXPECT_TRUE(isPatternFrame(frames[std::size_t(i)], w, h, i)) << "frame " << i;
}

// 16-bit 5-5-5 and 8-bit palettised frames decode to exactly what was written.
TEST_F(AviFileTest, SixteenAndEightBitFramesDecodeExactly) {
  const int w = 37, h = 20;  // odd width: rows are padded
  {
    const std::string path = dir.file("rgb555.avi");
    std::vector<std::uint8_t> bits(std::size_t(gdi::rowBytes(w, 16)) * h, 0);
    std::vector<std::uint8_t> expect;  // rgb555le top-down, tightly packed
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const std::uint16_t v = std::uint16_t(((x * 5 + y) & 31) << 10 | ((y * 3) & 31) << 5 | ((x + 2 * y) & 31));
        std::uint8_t* p = bits.data() + std::size_t(h - 1 - y) * std::size_t(gdi::rowBytes(w, 16)) + 2 * x;
        p[0] = std::uint8_t(v);
        p[1] = std::uint8_t(v >> 8);
        expect.push_back(std::uint8_t(v));
        expect.push_back(std::uint8_t(v >> 8));
      }
    {
      OpenFile f(path, streamInfo(w, h, 5));
      const BITMAPINFOHEADER bi = infoHeader(w, h, 16);
      ASSERT_EQ(AVIStreamSetFormat(f.comp, 0, &bi, 40), AVIERR_OK);
      ASSERT_EQ(writeFrame(f.comp, 0, bits), AVIERR_OK);
      ASSERT_EQ(writeFrame(f.comp, 1, bits), AVIERR_OK);
    }
    std::string out;
    ASSERT_EQ(testsupport::runCommand({"ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb555le", "-"},
                                      &out),
              0);
    ASSERT_EQ(out.size(), expect.size() * 2);
    EXPECT_TRUE(std::equal(expect.begin(), expect.end(), reinterpret_cast<const std::uint8_t*>(out.data())));
  }
  {
    const std::string path = dir.file("pal8.avi");
    std::vector<RGBQUAD> table(256);
    for (int i = 0; i < 256; ++i) table[std::size_t(i)] = {std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 7), 0};
    const int stride = int(gdi::rowBytes(w, 8));
    std::vector<std::uint8_t> bits(std::size_t(stride) * h, 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) bits[std::size_t(h - 1 - y) * std::size_t(stride) + std::size_t(x)] = std::uint8_t(x * 9 + y);
    {
      OpenFile f(path, streamInfo(w, h, 5));
      const auto fmt = bytesOf(infoHeader(w, h, 8), table);
      ASSERT_EQ(AVIStreamSetFormat(f.comp, 0, fmt.data(), LONG(fmt.size())), AVIERR_OK);
      ASSERT_EQ(writeFrame(f.comp, 0, bits), AVIERR_OK);
    }
    const auto frames = testsupport::decodeFrames(path, w, h);
    ASSERT_EQ(frames.size(), 1u);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const RGBQUAD c = table[std::uint8_t(x * 9 + y)];
        const std::uint8_t* p = frames[0].data() + (std::size_t(y) * w + std::size_t(x)) * 4;
        ASSERT_EQ(p[0], c.rgbBlue) << x << "," << y;
        ASSERT_EQ(p[1], c.rgbGreen);
        ASSERT_EQ(p[2], c.rgbRed);
      }
  }
}

// With the RIFF limit lowered, a file of several RIFFs: AVIX segments, ix00
// standard indexes, the super index and dmlh; every frame read back.
TEST_F(AviFileTest, OpenDmlFileOfSeveralRiffsReadsInFull) {
  avilimits::setRiffSizeLimit(256 * 1024);
  const std::string path = dir.file("odml.avi");
  const int w = 96, h = 64, n = 60;  // 24 KiB frames, about 6 MiB
  {
    OpenFile f(path, streamInfo(w, h, 25));
    const BITMAPINFOHEADER bi = infoHeader(w, h, 32);
    ASSERT_EQ(AVIStreamSetFormat(f.comp, 0, &bi, 40), AVIERR_OK);
    for (int i = 0; i < n; ++i) ASSERT_EQ(writeFrame(f.comp, i, patternFrame32(w, h, i)), AVIERR_OK);
  }
  const auto b = readFile(path);
  const auto cs = chunks(b);
  const int avix = count(cs, "RIFF:AVIX");
  EXPECT_GE(avix, 4);
  EXPECT_EQ(count(cs, "ix00"), avix + 1);
  EXPECT_EQ(count(cs, "idx1"), 1);
  const Chunk* indx = find(cs, "indx");
  const Chunk* dmlh = find(cs, "dmlh");
  const Chunk* avih = find(cs, "avih");
  const Chunk* strh = find(cs, "strh");
  ASSERT_TRUE(indx && dmlh && avih && strh);
  EXPECT_EQ(u32(b, dmlh->pos + 8), DWORD(n));
  EXPECT_EQ(u32(b, strh->pos + 8 + 32), DWORD(n));
  const std::uint32_t entries = u32(b, indx->pos + 8 + 4);
  EXPECT_EQ(entries, DWORD(avix + 1));
  std::uint32_t indexed = 0;
  for (std::uint32_t e = 0; e < entries; ++e) {
    const std::uint64_t at = indx->pos + 8 + 24 + 16u * e;
    const std::uint64_t ix = u64(b, at);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data() + ix), 4), "ix00");
    EXPECT_EQ(u32(b, at + 8), u32(b, ix + 4) + 8);
    EXPECT_EQ(u32(b, ix + 4), 24 + 8 * u32(b, ix + 8 + 4));  // 8-byte entries
    EXPECT_EQ(u16(b, ix + 8), 2);                            // longs per entry
    indexed += u32(b, at + 12);
    // Each standard index entry points at the data of a key frame chunk.
    const std::uint64_t base = u64(b, ix + 8 + 12);
    for (std::uint32_t k = 0; k < u32(b, ix + 8 + 4); ++k) {
      const std::uint64_t data = base + u32(b, ix + 8 + 24 + 8u * k);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data() + data - 8), 4), "00db");
      EXPECT_EQ(u32(b, ix + 8 + 24 + 8u * k + 4), DWORD(w * h * 4));  // bit 31 clear: key
    }
  }
  EXPECT_EQ(indexed, DWORD(n));
  // The first RIFF's avih and idx1 count its own frames only.
  const Chunk* idx1 = find(cs, "idx1");
  EXPECT_EQ(u32(b, avih->pos + 8 + 16), idx1->size / 16);

  for (const char* odml : {"1", "0"}) {
    std::string out;
    ASSERT_EQ(testsupport::runCommand({"ffprobe", "-v", "error", "-use_odml", odml, "-count_packets", "-select_streams",
                                       "v:0", "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", path},
                                      &out),
              0);
    EXPECT_EQ(std::stol(out), n) << "use_odml " << odml;
  }
  const auto p = testsupport::probeVideo(path);
  EXPECT_EQ(p.frameCount, n);
  EXPECT_EQ(p.keyPackets, n);
  const auto frames = testsupport::decodeFrames(path, w, h);
  ASSERT_EQ(frames.size(), std::size_t(n));
  for (int i = 0; i < n; ++i) EXPECT_TRUE(isPatternFrame(frames[std::size_t(i)], w, h, i)) << "frame " << i;
}

// The same past 1 GiB with delta frames (the RIFF limit lowered): lossless
// ZMBV and H.264, a key frame every 10 frames, every write flagged
// AVIIF_KEYFRAME. idx1 and every part's ix00 flag exactly the key frames,
// ffprobe reads the same flags through either index and the decoder finds
// the same; every ZMBV frame decodes to what was written.
TEST_F(AviFileTest, OpenDmlFileOfDeltaFramesIndexesTheKeyFrames) {
  const int w = 96, h = 64, n = 95;
  for (const char* c : {"ZMBV", "H264"}) {
    SCOPED_TRACE(c);
    // Several parts of each file's size.
    avilimits::setRiffSizeLimit(c[0] == 'Z' ? 64 * 1024 : 4 * 1024);
    const std::string path = dir.file(QStringLiteral("delta_%1.avi").arg(c));
    {
      OpenFile f(path, streamInfo(w, h, 25), mmioFOURCC(c[0], c[1], c[2], c[3]), 10);
      const BITMAPINFOHEADER bi = infoHeader(w, h, 32);
      ASSERT_EQ(AVIStreamSetFormat(f.comp, 0, &bi, 40), AVIERR_OK);
      for (int i = 0; i < n; ++i) ASSERT_EQ(writeFrame(f.comp, i, patternFrame32(w, h, i)), AVIERR_OK);
    }
    const auto b = readFile(path);
    const auto cs = chunks(b);
    EXPECT_GE(count(cs, "RIFF:AVIX"), 2);
    const auto want = testsupport::everyNth(n, 10);
    const auto index = indexFlags(b);
    EXPECT_EQ(index.ix00, want);
    ASSERT_FALSE(index.idx1.empty());
    ASSERT_LT(index.idx1.size(), std::size_t(n));
    EXPECT_EQ(index.idx1, testsupport::everyNth(int(index.idx1.size()), 10));
    for (const bool odml : {true, false}) {
      const auto flags = testsupport::keyFlags(path, odml);
      EXPECT_EQ(flags.frames, want) << "use_odml " << odml;
      // Through idx1 alone ffmpeg finds the later parts' frames by scanning
      // and calls them all key frames: only the indexed ones count.
      ASSERT_EQ(flags.packets.size(), want.size()) << "use_odml " << odml;
      const std::size_t indexed = odml ? want.size() : index.idx1.size();
      EXPECT_TRUE(std::equal(want.begin(), want.begin() + long(indexed), flags.packets.begin()))
          << "use_odml " << odml;
    }
    const auto frames = testsupport::decodeFrames(path, w, h);
    ASSERT_EQ(frames.size(), std::size_t(n));
    if (c[0] == 'Z') {
      for (int i = 0; i < n; ++i) EXPECT_TRUE(isPatternFrame(frames[std::size_t(i)], w, h, i)) << "frame " << i;
    }
  }
}

// The compressing stream takes one input format: the same one again is a
// no-op, another is refused and writes nothing; frames land at their index.
TEST_F(AviFileTest, FormatRulesAndFramePositions) {
  const std::string path = dir.file("rules.avi");
  const int w = 32, h = 16;
  {
    OpenFile f(path, streamInfo(w, h, 10));
    const auto bits = patternFrame32(w, h, 0);
    EXPECT_NE(writeFrame(f.comp, 0, bits), AVIERR_OK);  // no format yet
    const BITMAPINFOHEADER bi = infoHeader(w, h, 32);
    ASSERT_EQ(AVIStreamSetFormat(f.comp, 0, &bi, 40), AVIERR_OK);
    EXPECT_EQ(AVIStreamSetFormat(f.comp, 0, &bi, 40), AVIERR_OK);
    const BITMAPINFOHEADER wider = infoHeader(w + 4, h, 32);
    EXPECT_EQ(AVIStreamSetFormat(f.comp, 0, &wider, 40), AVIERR_UNSUPPORTED);
    const BITMAPINFOHEADER deeper = infoHeader(w, h, 24);
    EXPECT_EQ(AVIStreamSetFormat(f.comp, 0, &deeper, 40), AVIERR_UNSUPPORTED);
    EXPECT_EQ(AVIStreamSetFormat(f.comp, 0, &bi, 12), AVIERR_BADFORMAT);  // shorter than a header

    ASSERT_EQ(writeFrame(f.comp, 0, bits), AVIERR_OK);
    // A buffer shorter than a frame is refused before the compressor reads it.
    EXPECT_EQ(AVIStreamWrite(f.comp, 1, 1, bits.data(), LONG(bits.size() - 1), AVIIF_KEYFRAME, nullptr, nullptr),
              AVIERR_BADSIZE);
    EXPECT_EQ(AVIStreamWrite(f.comp, 1, 2, bits.data(), LONG(bits.size()), AVIIF_KEYFRAME, nullptr, nullptr),
              AVIERR_UNSUPPORTED);
    // Frame 3 after frame 0: positions 1 and 2 are empty (repeat) frames.
    LONG samples = 0, bytes = 0;
    ASSERT_EQ(AVIStreamWrite(f.comp, 3, 1, patternFrame32(w, h, 3).data(), LONG(bits.size()), AVIIF_KEYFRAME, &samples,
                             &bytes),
              AVIERR_OK);
    EXPECT_EQ(samples, 1);
    EXPECT_EQ(bytes, LONG(bits.size()));
    EXPECT_EQ(writeFrame(f.comp, 2, bits), AVIERR_UNSUPPORTED);  // the past cannot be rewritten
  }
  // Frame 3 plays at 3/10 s; the empty chunks before it repeat frame 0.
  std::string out;
  ASSERT_EQ(testsupport::runCommand({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                     "packet=pts,size", "-of", "csv=p=0", path},
                                    &out),
            0);
  EXPECT_EQ(out, "0," + std::to_string(w * h * 4) + "\n3," + std::to_string(w * h * 4) + "\n");
  const auto b = readFile(path);
  const auto cs = chunks(b);
  const Chunk* strh = find(cs, "strh");
  ASSERT_TRUE(strh);
  EXPECT_EQ(u32(b, strh->pos + 8 + 32), 4u);
}

// Opening and the object lifetimes: a file that cannot be created leaves
// nothing; the file is finished when its last reference goes, whichever
// order the references are released in; the init count is counted.
TEST_F(AviFileTest, OpenFailuresAndReferenceCounting) {
  PAVIFILE f = nullptr;
  const std::string missing = dir.file("no/such/dir/x.avi");
  EXPECT_EQ(AVIFileOpenA(&f, missing.c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_FILEOPEN);
  EXPECT_EQ(f, nullptr);
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(missing)));
  EXPECT_EQ(AVIFileOpenA(&f, dir.path().toStdString().c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_FILEOPEN);
  EXPECT_EQ(AVIFileOpenA(nullptr, "x.avi", OF_WRITE | OF_CREATE, nullptr), AVIERR_BADPARAM);
  // A FIFO nobody reads: refused at once instead of blocking the caller.
  const std::string fifo = dir.file("fifo.avi");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(AVIFileOpenA(&f, fifo.c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_FILEOPEN);

  const int before = AVIFileInitCount();
  AVIFileInit();
  AVIFileInit();
  EXPECT_EQ(AVIFileInitCount(), before + 2);
  AVIFileExit();
  AVIFileExit();
  AVIFileExit();  // one too many does not go below zero
  EXPECT_EQ(AVIFileInitCount(), 0);

  // Released file first, then streams: frames written after the file's
  // release still land, and the file is complete after the last release.
  const std::string path = dir.file("order.avi");
  const int w = 16, h = 8;
  ASSERT_EQ(AVIFileOpenA(&f, path.c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
  AVISTREAMINFO bad = streamInfo(w, h, 0);
  PAVISTREAM raw = nullptr, comp = nullptr;
  EXPECT_EQ(AVIFileCreateStreamA(f, &raw, &bad), AVIERR_BADFORMAT);
  EXPECT_EQ(raw, nullptr);
  const AVISTREAMINFO si = streamInfo(w, h, 3);
  ASSERT_EQ(AVIFileCreateStreamA(f, &raw, &si), AVIERR_OK);
  PAVISTREAM second = nullptr;
  EXPECT_EQ(AVIFileCreateStreamA(f, &second, &si), AVIERR_UNSUPPORTED);
  AVICOMPRESSOPTIONS o{};
  o.fccHandler = mmioFOURCC('Z', 'Z', 'Z', 'Z');
  EXPECT_EQ(AVIMakeCompressedStream(&comp, raw, &o, nullptr), AVIERR_NOCOMPRESSOR);
  o.fccHandler = comptypeDIB;
  ASSERT_EQ(AVIMakeCompressedStream(&comp, raw, &o, nullptr), AVIERR_OK);
  const BITMAPINFOHEADER bi = infoHeader(w, h, 32);
  ASSERT_EQ(AVIStreamSetFormat(comp, 0, &bi, 40), AVIERR_OK);
  ASSERT_EQ(writeFrame(comp, 0, patternFrame32(w, h, 0)), AVIERR_OK);
  EXPECT_EQ(AVIFileRelease(f), 1u);  // the stream still holds it
  ASSERT_EQ(writeFrame(comp, 1, patternFrame32(w, h, 1)), AVIERR_OK);
  EXPECT_EQ(AVIStreamRelease(raw), 1u);  // the compressing stream holds it
  ASSERT_EQ(writeFrame(comp, 2, patternFrame32(w, h, 2)), AVIERR_OK);
  EXPECT_EQ(AVIStreamRelease(comp), 0u);
  const auto p = testsupport::probeVideo(path);
  EXPECT_EQ(p.frameCount, 3);
  const auto frames = testsupport::decodeFrames(path, w, h);
  ASSERT_EQ(frames.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(isPatternFrame(frames[std::size_t(i)], w, h, i));

  // The options record: what it refers to is let go of, the pointer kept.
  AVICOMPRESSOPTIONS rec{};
  std::uint8_t fmt[4] = {};
  rec.lpFormat = fmt;
  rec.cbFormat = 4;
  LPAVICOMPRESSOPTIONS list[1] = {&rec};
  EXPECT_EQ(AVISaveOptionsFree(1, list), AVIERR_OK);
  EXPECT_EQ(rec.lpFormat, nullptr);
  EXPECT_EQ(rec.cbFormat, 0u);
  EXPECT_EQ(AVIStreamRelease(nullptr), 0u);
  EXPECT_EQ(AVIFileRelease(nullptr), 0u);
}

// A file whose stream never got a format, or that never got a stream, is
// still a well-formed AVI after the release.
TEST_F(AviFileTest, FileReleasedBeforeAnyFrameIsWellFormed) {
  const std::string path = dir.file("empty.avi");
  PAVIFILE f = nullptr;
  PAVISTREAM raw = nullptr;
  ASSERT_EQ(AVIFileOpenA(&f, path.c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
  const AVISTREAMINFO si = streamInfo(40, 30, 4);
  ASSERT_EQ(AVIFileCreateStreamA(f, &raw, &si), AVIERR_OK);
  AVIStreamRelease(raw);
  AVIFileRelease(f);
  const auto p = testsupport::probeVideo(path);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.frameCount, 0);
  EXPECT_EQ(p.width, 40);
  const auto b = readFile(path);
  EXPECT_EQ(u32(b, 4), b.size() - 8);
  const auto cs = chunks(b);
  EXPECT_TRUE(find(cs, "idx1"));

  const std::string bare = dir.file("bare.avi");
  ASSERT_EQ(AVIFileOpenA(&f, bare.c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
  AVIFileRelease(f);
  std::string out;
  EXPECT_EQ(testsupport::runCommand({"ffprobe", "-v", "error", "-show_format", bare}, &out), 0);
  EXPECT_NE(out.find("format_name=avi"), std::string::npos);
}

// More RIFFs than the header's super index has entries for (one frame a
// RIFF): up to 256 RIFFs the header holds every entry, past that its last
// entry points at an 'indx' chunk in a movi list, which points on at the
// next once it is full. ffprobe/ffmpeg read every frame, all key frames.
TEST_F(AviFileTest, FileOfMoreRiffsThanTheHeaderIndexHoldsReadsInFull) {
  avilimits::setRiffSizeLimit(1);
  const int w = 16, h = 8;
  for (const int n : {256, 257, 600}) {
    SCOPED_TRACE(n);
    const std::string path = dir.file(QStringLiteral("riffs%1.avi").arg(n));
    {
      OpenFile f(path, streamInfo(w, h, 30));
      const BITMAPINFOHEADER bi = infoHeader(w, h, 32);
      ASSERT_EQ(AVIStreamSetFormat(f.comp, 0, &bi, 40), AVIERR_OK);
      for (int i = 0; i < n; ++i) ASSERT_EQ(writeFrame(f.comp, i, patternFrame32(w, h, i)), AVIERR_OK) << i;
    }
    const auto b = readFile(path);
    const auto cs = chunks(b);
    ASSERT_EQ(count(cs, "RIFF:AVIX"), n - 1);
    ASSERT_EQ(count(cs, "ix00"), n);
    // The header's table and those chained after it: 256 entries each, the
    // last of a full one a link.
    std::vector<const Chunk*> tables;
    for (const auto& c : cs)
      if (c.id == "indx") tables.push_back(&c);
    ASSERT_EQ(tables.size(), n <= 256 ? 1u : n <= 510 ? 2u : 3u);
    EXPECT_EQ(tables[0]->path, "/RIFF:AVI /LIST:hdrl/LIST:strl/indx");
    std::uint32_t indexed = 0;
    for (std::size_t t = 0; t < tables.size(); ++t) {
      const Chunk& c = *tables[t];
      EXPECT_EQ(c.size, 24u + 16u * 256u);
      EXPECT_EQ(u16(b, c.pos + 8), 4);  // longs per entry
      EXPECT_EQ(b[c.pos + 11], 0);      // an index of indexes
      const std::uint32_t entries = u32(b, c.pos + 8 + 4);
      const bool linked = t + 1 < tables.size();
      if (linked) {
        EXPECT_EQ(entries, 256u);
      }
      std::uint32_t below = 0;
      for (std::uint32_t e = 0; e < entries; ++e) {
        const std::uint64_t at = c.pos + 8 + 24 + 16u * e;
        const std::uint64_t target = u64(b, at);
        const std::string id(reinterpret_cast<const char*>(b.data() + target), 4);
        if (linked && e + 1 == entries) {
          EXPECT_EQ(target, tables[t + 1]->pos);
          EXPECT_EQ(u32(b, at + 8), 8u + 24u + 16u * 256u);
          below = u32(b, at + 12);
        } else {
          EXPECT_EQ(id, "ix00") << "table " << t << " entry " << e;
          EXPECT_EQ(u32(b, at + 12), 1u);
          ++indexed;
        }
      }
      // A link counts the frames of every table after it.
      if (linked) {
        EXPECT_EQ(below, std::uint32_t(n) - indexed);
      }
    }
    EXPECT_EQ(indexed, std::uint32_t(n));

    const auto p = testsupport::probeVideo(path);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.frameCount, n);
    EXPECT_EQ(p.keyPackets, n);
    const auto frames = testsupport::decodeFrames(path, w, h);
    ASSERT_EQ(frames.size(), std::size_t(n));
    for (int i = 0; i < n; ++i) ASSERT_TRUE(isPatternFrame(frames[std::size_t(i)], w, h, i)) << "frame " << i;
  }
}

// The spare byte of 32-bit frames is alpha to FFmpeg (BGRA): full frames
// bottom-up, top-down, and frames written straight to the file's own stream
// all decode opaque, through the page cache and past it. An odd width puts
// rows at every alignment in the writer's buffer.
TEST_F(AviFileTest, ThirtyTwoBitFramesDecodeOpaque) {
  const int w = 23, h = 10, n = 3;
  for (const int height : {h, -h}) {
    for (const bool direct : {false, true}) {
      for (const bool pastCache : {false, true}) {
        if (direct && height < 0) continue;  // the file's own stream takes bottom-up rows only
        SCOPED_TRACE(::testing::Message() << "height " << height << (direct ? " direct" : " compressing")
                                          << (pastCache ? ", O_DIRECT" : ""));
        const std::string path = dir.file(QStringLiteral("opaque%1%2%3.avi").arg(height).arg(direct).arg(pastCache));
        {
          OpenFile f(path, streamInfo(w, h, 10));
          if (pastCache) {
            ASSERT_EQ(AVIFileSetDirectWrites(f.file, 1), AVIERR_OK);
          }
          const BITMAPINFOHEADER bi = infoHeader(w, height, 32);
          PAVISTREAM s = direct ? f.raw : f.comp;
          ASSERT_EQ(AVIStreamSetFormat(s, 0, &bi, 40), AVIERR_OK);
          for (int i = 0; i < n; ++i) {
            auto bits = patternFrame32(w, h, i);
            if (height < 0)  // the same picture, rows top first
              for (int y = 0; y < h / 2; ++y)
                std::swap_ranges(bits.begin() + y * w * 4, bits.begin() + (y + 1) * w * 4,
                                 bits.begin() + (h - 1 - y) * w * 4);
            ASSERT_EQ(writeFrame(s, i, bits), AVIERR_OK);
          }
        }
        const auto frames = testsupport::decodeFrames(path, w, h, "bgra");
        ASSERT_EQ(frames.size(), std::size_t(n));
        for (int i = 0; i < n; ++i) {
          const auto& f = frames[std::size_t(i)];
          EXPECT_TRUE(isPatternFrame(f, w, h, i)) << "frame " << i;
          int transparent = 0;
          for (std::size_t p = 3; p < f.size(); p += 4) transparent += f[p] != 0xFF;
          EXPECT_EQ(transparent, 0) << "frame " << i;
        }
      }
    }
  }
}
