// A real file past 4 GiB: several 1 GiB RIFFs, read back by ffprobe/ffmpeg.
// Needs about 4.5 GB of disk for a few seconds; skipped when the disk has
// less than 10 GB free. CTest label "large".
#include <gtest/gtest.h>

#include <QStringList>
#include <filesystem>
#include <random>
#include <sstream>
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

// The same past 4 GiB with delta frames: lossless H.264 of noise (about
// 4.5 MB a frame), a key frame every 30, every write flagged AVIIF_KEYFRAME.
// ffprobe reads exactly those key frames from the OpenDML indexes, the
// whole file decodes without an error, and a seek into the last group,
// past 4 GiB, gives the picture the full decode gives.
TEST(LargeAviFile, PassesFourGibibytesWithDeltaFrames) {
  testsupport::TempDir dir;
  std::error_code ec;
  const auto space = std::filesystem::space(dir.path().toStdString(), ec);
  if (ec || space.available < 10'000'000'000ull) GTEST_SKIP() << "less than 10 GB free";

  const std::string path = dir.file("large_delta.avi");
  const int w = 1920, h = 1080;
  std::vector<std::vector<std::uint8_t>> noise(6, std::vector<std::uint8_t>(std::size_t(w) * h * 4));
  std::mt19937 random(25);
  for (auto& f : noise)
    for (auto& b : f) b = std::uint8_t(random());
  int n = 0;
  {
    AVIFileInit();
    PAVIFILE f = nullptr;
    ASSERT_EQ(AVIFileOpenA(&f, path.c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
    const FOURCC h264 = mmioFOURCC('H', '2', '6', '4');
    AVISTREAMINFO si{};
    si.fccType = streamtypeVIDEO;
    si.fccHandler = h264;
    si.dwScale = 1;
    si.dwRate = 30;
    si.rcFrame = {0, 0, w, h};
    PAVISTREAM raw = nullptr, comp = nullptr;
    ASSERT_EQ(AVIFileCreateStreamA(f, &raw, &si), AVIERR_OK);
    AVICOMPRESSOPTIONS o{};
    o.fccType = ICTYPE_VIDEO;
    o.fccHandler = h264;
    o.dwKeyFrameEvery = 30;
    o.dwQuality = 10000;  // lossless: frames as large as the noise
    o.dwFlags = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
    ASSERT_EQ(AVIMakeCompressedStream(&comp, raw, &o, nullptr), AVIERR_OK);
    BITMAPINFOHEADER bi{40, w, h, 1, 32, 0, DWORD(w * h * 4), 0, 0, 0, 0};
    ASSERT_EQ(AVIStreamSetFormat(comp, 0, &bi, 40), AVIERR_OK);
    // Until 40 frames past 4 GiB: the last group lies wholly beyond it.
    int past = -1;
    while (past < 0 || n < past + 40) {
      const auto& bits = noise[std::size_t(n % 6)];
      ASSERT_EQ(AVIStreamWrite(comp, n, 1, bits.data(), LONG(bits.size()), AVIIF_KEYFRAME, nullptr, nullptr), AVIERR_OK)
          << "frame " << n;
      ++n;
      if (past < 0 && std::filesystem::file_size(path) > (4ull << 30)) past = n;
      ASSERT_LT(n, 3000) << "the frames are smaller than they should be";
    }
    AVIStreamRelease(raw);
    AVIStreamRelease(comp);
    AVIFileRelease(f);
    AVIFileExit();
  }
  ASSERT_GT(std::filesystem::file_size(path), 4ull << 30);

  std::string out;
  ASSERT_EQ(testsupport::runCommand({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                     "packet=flags", "-of", "csv=p=0", path},
                                    &out, 600000),
            0);
  std::vector<bool> keys;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) keys.push_back(!line.empty() && line[0] == 'K');
  EXPECT_EQ(keys, testsupport::everyNth(n, 30));

  // One checksum a decoded frame; the decoder reports nothing amiss.
  ASSERT_EQ(testsupport::runCommand({"ffmpeg", "-v", "error", "-xerror", "-i", path, "-map", "0:v", "-f", "framemd5",
                                     "-"},
                                    &out, 900000),
            0);
  std::vector<std::string> sums;
  std::istringstream frames(out);
  for (std::string line; std::getline(frames, line);)
    if (!line.empty() && line[0] != '#') sums.push_back(line.substr(line.rfind(',') + 1));
  ASSERT_EQ(sums.size(), std::size_t(n));
  // The last key frame and ten frames past it.
  const int target = (n - 1) / 30 * 30 + std::min(10, (n - 1) % 30);
  // Half a frame early: the first frame at or after it is the target.
  const std::string at = std::to_string((target - 0.5) / 30.0);
  ASSERT_EQ(testsupport::runCommand({"ffmpeg", "-v", "error", "-ss", at, "-i", path, "-map", "0:v", "-frames:v", "1",
                                     "-f", "framemd5", "-"},
                                    &out, 600000),
            0);
  EXPECT_NE(out.find(sums[std::size_t(target)]), std::string::npos) << "seek to frame " << target;
  std::filesystem::remove(path);
}
