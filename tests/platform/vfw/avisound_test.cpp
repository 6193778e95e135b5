// A sound stream beside the video, read back by ffprobe/ffmpeg: every
// sample decodes as written, in one RIFF and across many, through either
// index, and the file's own indexes list both streams.
#include <gtest/gtest.h>

#include <QString>

#include <cmath>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/vfw/avitesting.h"
#include "platform/vfw/pattern.h"
#include "platform/vfw/vfw.h"
#include "support/media.h"
#include "support/riffread.h"
#include "support/tempdir.h"

using namespace vfw;
using namespace avitest;

namespace {

constexpr int kW = 64, kH = 48, kRate = 10, kSamplesPerFrame = 4800;

WAVEFORMATEX pcm() {
  WAVEFORMATEX w{};
  w.wFormatTag = WAVE_FORMAT_PCM;
  w.nChannels = 2;
  w.nSamplesPerSec = 48000;
  w.wBitsPerSample = 16;
  w.nBlockAlign = 4;
  w.nAvgBytesPerSec = 192000;
  return w;
}

// Sample frames [from, from + n) of a tone, left and right apart.
std::vector<std::int16_t> tone(int from, int n) {
  std::vector<std::int16_t> s;
  for (int i = from; i < from + n; ++i) {
    s.push_back(std::int16_t(8000 * std::sin(i * 0.05)));
    s.push_back(std::int16_t(i % 30000));
  }
  return s;
}

struct SoundFile {
  PAVIFILE file = nullptr;
  PAVISTREAM video = nullptr, comp = nullptr, sound = nullptr;
  explicit SoundFile(const std::string& path) {
    AVIFileInit();
    EXPECT_EQ(AVIFileOpenA(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
    AVISTREAMINFO vi{};
    vi.fccType = streamtypeVIDEO;
    vi.fccHandler = comptypeDIB;
    vi.dwScale = 1;
    vi.dwRate = kRate;
    vi.rcFrame = {0, 0, kW, kH};
    AVISTREAMINFO si{};
    si.fccType = streamtypeAUDIO;
    si.fccHandler = 1;
    si.dwScale = 1;
    si.dwRate = 48000;
    // No sound stream before the video's.
    EXPECT_EQ(AVIFileCreateStreamA(file, &sound, &si), AVIERR_UNSUPPORTED);
    EXPECT_EQ(AVIFileCreateStreamA(file, &video, &vi), AVIERR_OK);
    EXPECT_EQ(AVIFileCreateStreamA(file, &sound, &si), AVIERR_OK);
    AVICOMPRESSOPTIONS o{};
    o.fccHandler = comptypeDIB;
    EXPECT_EQ(AVIMakeCompressedStream(&comp, video, &o, nullptr), AVIERR_OK);
    WAVEFORMATEX w = pcm();
    w.nBlockAlign = 3;  // not the samples of one instant
    EXPECT_EQ(AVIStreamSetFormat(sound, 0, &w, sizeof w), AVIERR_BADFORMAT);
    w = pcm();
    EXPECT_EQ(AVIStreamSetFormat(sound, 0, &w, sizeof w), AVIERR_OK);
    const BITMAPINFOHEADER bi{40, kW, kH, 1, 32, 0, DWORD(kW * kH * 4), 0, 0, 0, 0};
    EXPECT_EQ(AVIStreamSetFormat(comp, 0, &bi, 40), AVIERR_OK);
    // The header is written: the same format is taken, another is not.
    EXPECT_EQ(AVIStreamSetFormat(sound, 0, &w, sizeof w), AVIERR_OK);
    w.nChannels = 1;
    w.nBlockAlign = 2;
    w.nAvgBytesPerSec = 96000;
    EXPECT_EQ(AVIStreamSetFormat(sound, 0, &w, sizeof w), AVIERR_UNSUPPORTED);
  }
  // Frame i and, before it, its tenth of a second of sound.
  void write(int i) {
    const auto s = tone(i * kSamplesPerFrame, kSamplesPerFrame);
    LONG samples = 0;
    ASSERT_EQ(AVIStreamWrite(sound, -1, kSamplesPerFrame, s.data(), LONG(s.size() * 2), 0, &samples, nullptr),
              AVIERR_OK);
    EXPECT_EQ(samples, kSamplesPerFrame);
    const auto bits = patternFrame32(kW, kH, i);
    ASSERT_EQ(AVIStreamWrite(comp, i, 1, bits.data(), LONG(bits.size()), AVIIF_KEYFRAME, nullptr, nullptr),
              AVIERR_OK);
  }
  ~SoundFile() {
    AVIStreamRelease(sound);
    AVIStreamRelease(video);
    AVIStreamRelease(comp);
    AVIFileRelease(file);
    AVIFileExit();
  }
};

std::string probe(const std::string& path, const std::string& stream, const std::string& entries,
                  const std::string& odml = "1") {
  std::string out;
  EXPECT_EQ(testsupport::runCommand({"ffprobe", "-v", "error", "-use_odml", odml, "-count_packets", "-select_streams",
                                     stream, "-show_entries", entries, "-of", "csv=p=0", path},
                                    &out),
            0);
  return out;
}

std::string decodedSound(const std::string& path, const std::string& odml) {
  std::string out;
  EXPECT_EQ(testsupport::runCommand({"ffmpeg", "-v", "error", "-use_odml", odml, "-i", path, "-map", "0:a", "-f",
                                     "s16le", "-"},
                                    &out),
            0);
  return out;
}

class AviSoundTest : public ::testing::Test {
 protected:
  void TearDown() override { vfw::testing::setRiffSizeLimit(0); }
  testsupport::TempDir dir;
};

}  // namespace

// In one RIFF, in many (past the size limit, as past 1 GiB) and in more
// than the header's super index holds (a part per chunk): both
// streams in the headers, every chunk in idx1 and each part's ix00/ix01,
// and every sample decoded as written, as long as the video.
TEST_F(AviSoundTest, SoundDecodesAsWrittenBesideTheFrames) {
  for (const std::uint64_t limit : {std::uint64_t(0), std::uint64_t(64 * 1024), std::uint64_t(1)}) {
    SCOPED_TRACE(limit);
    vfw::testing::setRiffSizeLimit(limit);
    const std::string path = dir.file(QString::fromStdString("sound" + std::to_string(limit) + ".avi"));
    const int n = limit == 1 ? 160 : 40;  // 320 parts
    {
      SoundFile f(path);
      for (int i = 0; i < n; ++i) f.write(i);
      EXPECT_EQ(AVIStreamLength(f.sound), n * kSamplesPerFrame);
      EXPECT_EQ(AVIStreamLength(f.video), n);
    }
    const auto b = readFile(path);
    const auto cs = chunks(b);
    const Chunk* avih = find(cs, "avih");
    ASSERT_TRUE(avih);
    EXPECT_EQ(u32(b, avih->pos + 8 + 24), 2u);  // streams
    EXPECT_EQ(count(cs, "01wb"), n);
    const Chunk* idx1 = find(cs, "idx1");
    ASSERT_TRUE(idx1);
    int soundEntries = 0;
    for (std::uint32_t e = 0; e < idx1->size / 16; ++e)
      soundEntries += u32(b, idx1->pos + 8 + 16u * e) == mmioFOURCC('0', '1', 'w', 'b');
    const int riffs = 1 + count(cs, "RIFF:AVIX");
    if (limit) {
      EXPECT_GE(riffs, 5);
      EXPECT_EQ(count(cs, "ix00"), riffs);
      EXPECT_EQ(count(cs, "ix01"), riffs);
      EXPECT_LT(soundEntries, n);  // the first part's only
      // The sound's super index counts sample frames.
      std::vector<const Chunk*> indx;
      for (const auto& c : cs)
        if (c.id == "indx") indx.push_back(&c);
      ASSERT_GE(indx.size(), 2u);
      if (limit > 1) {
        std::uint64_t samples = 0;
        for (std::uint32_t e = 0; e < u32(b, indx[1]->pos + 8 + 4); ++e)
          samples += u32(b, indx[1]->pos + 8 + 24 + 16u * e + 12);
        EXPECT_EQ(samples, std::uint64_t(n) * kSamplesPerFrame);
      } else {
        EXPECT_EQ(indx.size(), 4u) << "a chained super index for each stream";
      }
    } else {
      EXPECT_EQ(riffs, 1);
      EXPECT_EQ(soundEntries, n);
    }
    EXPECT_EQ(probe(path, "a:0", "stream=codec_name,sample_rate,channels"), "pcm_s16le,48000,2\n");
    EXPECT_EQ(probe(path, "v:0", "stream=nb_read_packets"), std::to_string(n) + "\n");
    const auto expected = tone(0, n * kSamplesPerFrame);
    for (const char* odml : {"1", "0"}) {
      const std::string got = decodedSound(path, odml);
      ASSERT_EQ(got.size(), expected.size() * 2) << "use_odml " << odml;
      EXPECT_EQ(std::memcmp(got.data(), expected.data(), got.size()), 0) << "use_odml " << odml;
    }
    // Other readers: GStreamer decodes every sample too (of a file whose
    // parts the header's super index holds: it does not follow a chained
    // one), mediainfo sees both streams.
    if (limit == 1) continue;
    std::string out;
    ASSERT_EQ(testsupport::runCommand({"gst-launch-1.0", "-q", "filesrc", "location=" + path, "!", "avidemux",
                                       "name=d", "d.audio_0", "!", "audioconvert", "!", "audio/x-raw,format=S16LE", "!",
                                       "fdsink", "fd=1"},
                                      &out),
              0);
    EXPECT_EQ(out.size(), expected.size() * 2);
    EXPECT_EQ(std::memcmp(out.data(), expected.data(), std::min(out.size(), expected.size() * 2)), 0);
    ASSERT_EQ(testsupport::runCommand({"mediainfo", "--Inform=Audio;%Format% %Channel(s)% %SamplingRate%", path}, &out),
              0);
    EXPECT_EQ(out, "PCM 2 48000\n");
  }
}

// A chunk is whole sample frames, and says how many it holds.
TEST_F(AviSoundTest, SoundWritesOfPartSamplesAreRefused) {
  const std::string path = dir.file("parts.avi");
  SoundFile f(path);
  const auto s = tone(0, 100);
  EXPECT_EQ(AVIStreamWrite(f.sound, -1, 100, s.data(), 398, 0, nullptr, nullptr), AVIERR_BADSIZE);
  EXPECT_EQ(AVIStreamWrite(f.sound, -1, 99, s.data(), 400, 0, nullptr, nullptr), AVIERR_BADSIZE);
  EXPECT_EQ(AVIStreamWriteRows(f.sound, 0, s.data(), 400, 0), AVIERR_UNSUPPORTED);
  EXPECT_EQ(AVIStreamWrite(f.sound, -1, 100, s.data(), 400, 0, nullptr, nullptr), AVIERR_OK);
  EXPECT_EQ(AVIStreamLength(f.sound), 100);
}

// MP3 at 128 kbit/s through a compressing stream over the sound stream: a
// frame a chunk, read as MP3 by ffprobe, and decoded as long as what was
// written, a tone that starts at 1 s heard from 1 s (the encoder's delay
// taken off), in one RIFF and across parts. (Across parts, ffmpeg reads
// the MP3 frames of the later parts through the OpenDML indexes only.)
TEST_F(AviSoundTest, MpegLayer3SoundKeepsItsLengthAndPlace) {
  for (const std::uint64_t limit : {std::uint64_t(0), std::uint64_t(64 * 1024)}) {
    SCOPED_TRACE(limit);
    vfw::testing::setRiffSizeLimit(limit);
    const std::string path = dir.file(QString::fromStdString("mp3" + std::to_string(limit) + ".avi"));
    const int n = 20;  // 2 s at 10 frames/s
    {
      AVIFileInit();
      PAVIFILE file = nullptr;
      PAVISTREAM video = nullptr, comp = nullptr, sound = nullptr, mp3 = nullptr;
      ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
      AVISTREAMINFO vi{};
      vi.fccType = streamtypeVIDEO;
      vi.dwScale = 1;
      vi.dwRate = kRate;
      vi.rcFrame = {0, 0, kW, kH};
      ASSERT_EQ(AVIFileCreateStreamA(file, &video, &vi), AVIERR_OK);
      AVISTREAMINFO si{};
      si.fccType = streamtypeAUDIO;
      si.fccHandler = WAVE_FORMAT_MPEGLAYER3;
      si.dwScale = 1152;
      si.dwRate = 48000;
      ASSERT_EQ(AVIFileCreateStreamA(file, &sound, &si), AVIERR_OK);
      MPEGLAYER3WAVEFORMAT m{};
      m.wfx = {WAVE_FORMAT_MPEGLAYER3, 2, 48000, 16000, 1, 0, 12};
      m.wID = MPEGLAYER3_ID_MPEG;
      m.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;
      m.nBlockSize = 384;
      m.nFramesPerBlock = 1;
      AVICOMPRESSOPTIONS so{};
      so.fccType = streamtypeAUDIO;
      so.lpFormat = &m;
      so.cbFormat = sizeof m;
      ASSERT_EQ(AVIMakeCompressedStream(&mp3, sound, &so, nullptr), AVIERR_OK);
      const WAVEFORMATEX in = pcm();
      ASSERT_EQ(AVIStreamSetFormat(mp3, 0, &in, sizeof in), AVIERR_OK);
      AVICOMPRESSOPTIONS o{};
      o.fccHandler = comptypeDIB;
      ASSERT_EQ(AVIMakeCompressedStream(&comp, video, &o, nullptr), AVIERR_OK);
      const BITMAPINFOHEADER bi{40, kW, kH, 1, 32, 0, DWORD(kW * kH * 4), 0, 0, 0, 0};
      ASSERT_EQ(AVIStreamSetFormat(comp, 0, &bi, 40), AVIERR_OK);
      for (int i = 0; i < n; ++i) {
        std::vector<std::int16_t> s(std::size_t(kSamplesPerFrame) * 2, 0);
        if (i >= 10)
          for (int k = 0; k < kSamplesPerFrame; ++k)
            s[std::size_t(2 * k)] = s[std::size_t(2 * k + 1)] =
                std::int16_t(12000 * std::sin(2 * M_PI * 1000 * (i * kSamplesPerFrame + k) / 48000.0));
        ASSERT_EQ(AVIStreamWrite(mp3, -1, kSamplesPerFrame, s.data(), LONG(s.size() * 2), 0, nullptr, nullptr),
                  AVIERR_OK);
        const auto bits = patternFrame32(kW, kH, i);
        ASSERT_EQ(AVIStreamWrite(comp, i, 1, bits.data(), LONG(bits.size()), AVIIF_KEYFRAME, nullptr, nullptr),
                  AVIERR_OK);
      }
      AVIStreamRelease(mp3);
      AVIStreamRelease(sound);
      AVIStreamRelease(comp);
      AVIStreamRelease(video);
      AVIFileRelease(file);
      AVIFileExit();
    }
    EXPECT_EQ(probe(path, "a:0", "stream=codec_name,sample_rate,channels"), "mp3,48000,2\n");
    for (const char* odml : {"1", "0"}) {
      if (limit && odml[0] == '0') continue;
      const std::string got = decodedSound(path, odml);
      std::vector<std::int16_t> s(got.size() / 2);
      std::memcpy(s.data(), got.data(), s.size() * 2);
      const long frames = long(s.size() / 2);
      EXPECT_NEAR(frames, n * kSamplesPerFrame, 1152) << "use_odml " << odml;
      long onset = -1;
      for (long i = 0; i < frames && onset < 0; ++i)
        if (std::abs(s[std::size_t(2 * i)]) > 3000) onset = i;
      EXPECT_NEAR(onset, 48000, 96) << "use_odml " << odml << ": within 2 ms of 1 s";
    }
  }
}
