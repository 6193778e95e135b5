// A real file past 4 GiB: several 1 GiB RIFFs, read back by ffprobe/ffmpeg.
// Needs about 4.5 GB of disk for a few seconds; skipped when the disk has
// less than 10 GB free. CTest label "large".
#include <gtest/gtest.h>

#include <QStringList>
#include <filesystem>
#include <string>

#include "platform/vfw/vfw.h"
#include "support/media.h"
#include "support/tempdir.h"
#include "platform/vfw/pattern.h"

using namespace vfw;

TEST(LargeAviFile, PassesFourGibibytesAndStillOpens) {
  testsupport::TempDir dir;
  std::error_code ec;
  const auto space = std::filesystem::space(dir.path().toStdString(), ec);
  if (ec || space.available < 10'000'000'000ull) GTEST_SKIP() << "less than 10 GB free";

  const std::string path = dir.file("large.avi");
  const int w = 1920, h = 1080, n = 530;  // 8 MB frames, 4.39 GB
  // A handful of distinct frames, reused, keeps the writer disk-bound.
  std::vector<std::vector<std::uint8_t>> distinct;
  for (int i = 0; i < 4; ++i) distinct.push_back(avitest::patternFrame32(w, h, i));
  {
    AVIFileInit();
    PAVIFILE f = nullptr;
    ASSERT_EQ(AVIFileOpenA(&f, path.c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
    AVISTREAMINFO si{};
    si.fccType = streamtypeVIDEO;
    si.fccHandler = comptypeDIB;
    si.dwScale = 1;
    si.dwRate = 30;
    si.dwSuggestedBufferSize = DWORD(w * h * 4);
    si.rcFrame = {0, 0, w, h};
    PAVISTREAM raw = nullptr, comp = nullptr;
    ASSERT_EQ(AVIFileCreateStreamA(f, &raw, &si), AVIERR_OK);
    AVICOMPRESSOPTIONS o{};
    o.fccHandler = comptypeDIB;
    ASSERT_EQ(AVIMakeCompressedStream(&comp, raw, &o, nullptr), AVIERR_OK);
    BITMAPINFOHEADER bi{40, w, h, 1, 32, 0, DWORD(w * h * 4), 0, 0, 0, 0};
    ASSERT_EQ(AVIStreamSetFormat(comp, 0, &bi, 40), AVIERR_OK);
    for (int i = 0; i < n; ++i) {
      const auto& bits = distinct[std::size_t(i % 4)];
      ASSERT_EQ(AVIStreamWrite(comp, i, 1, bits.data(), LONG(bits.size()), AVIIF_KEYFRAME, nullptr, nullptr), AVIERR_OK)
          << "frame " << i;
    }
    AVIStreamRelease(raw);
    AVIStreamRelease(comp);
    AVIFileRelease(f);
    AVIFileExit();
  }
  ASSERT_GT(std::filesystem::file_size(path), 4ull << 30);

  std::string out;
  ASSERT_EQ(testsupport::runCommand({"ffprobe", "-v", "error", "-count_packets", "-select_streams", "v:0",
                                     "-show_entries", "stream=nb_read_packets,width,height", "-of", "csv=p=0", path},
                                    &out, 600000),
            0);
  EXPECT_EQ(out, "1920,1080," + std::to_string(n) + "\n");
  // The first frame and the last three (past 4 GiB) decode to what was written.
  ASSERT_EQ(testsupport::runCommand({"ffmpeg", "-v", "error", "-i", path, "-vf",
                                     "select=eq(n\\,0)+gte(n\\," + std::to_string(n - 3) + ")", "-vsync",
                                     "passthrough", "-f", "rawvideo", "-pix_fmt", "bgra", "-"},
                                    &out, 600000),
            0);
  const std::size_t frameBytes = std::size_t(w) * h * 4;
  ASSERT_EQ(out.size(), 4 * frameBytes);
  const int expect[4] = {0, (n - 3) % 4, (n - 2) % 4, (n - 1) % 4};
  for (int k = 0; k < 4; ++k) {
    const std::vector<std::uint8_t> f(out.begin() + long(k * frameBytes), out.begin() + long((k + 1) * frameBytes));
    EXPECT_TRUE(avitest::isPatternFrame(f, w, h, expect[k])) << "decoded frame " << k;
  }
  std::filesystem::remove(path);
}
