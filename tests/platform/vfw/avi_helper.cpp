// A separate process that writes an AVI file through the library, for the
// tests that kill a writer or run it under a file size limit.
//   avi_helper FILE FRAMES WIDTH HEIGHT SLEEP_MS [RIFF_LIMIT [FOURCC [overlap]]]
// Prints "wrote N MS" after each frame (MS since start) and, when a write
// fails, "failed N HR ERRNO" before releasing, N being the frames the file
// keeps; exits 0, or 3 after a failure. FOURCC picks a compressor (full
// frames without); "overlap" writes with AVIStreamSetOverlap and ends with
// AVIStreamFlush. With AVI_HELPER_COMPLETE set, the file is completed with
// AVIFileComplete before the release and "completed HR ERRNO" printed last;
// AVI_HELPER_CHECKPOINT_MS sets the interval between header updates;
// AVI_HELPER_KEYFRAMES=N asks for a key frame every N frames (every write
// is flagged AVIIF_KEYFRAME all the same, as the recorder's are);
// AVI_HELPER_SOUND adds a sound stream (PCM, 48 kHz stereo) and writes a
// tenth of a second of it before each frame, every sample of frame i's
// chunk holding i + 1.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/vfw/avitesting.h"
#include "platform/vfw/vfw.h"
#include "platform/vfw/pattern.h"

using namespace vfw;

int main(int argc, char** argv) {
  if (argc < 6) return 2;
  const char* file = argv[1];
  const int frames = std::atoi(argv[2]), w = std::atoi(argv[3]), h = std::atoi(argv[4]), sleepMs = std::atoi(argv[5]);
  if (argc > 6) testing::setRiffSizeLimit(std::strtoull(argv[6], nullptr, 10));
  FOURCC handler = comptypeDIB;
  if (argc > 7 && std::strlen(argv[7]) == 4) handler = mmioFOURCC(argv[7][0], argv[7][1], argv[7][2], argv[7][3]);
  const bool overlap = argc > 8 && std::strcmp(argv[8], "overlap") == 0;
  if (const char* ms = std::getenv("AVI_HELPER_CHECKPOINT_MS")) testing::setCheckpointInterval(std::atoi(ms));
  const bool complete = std::getenv("AVI_HELPER_COMPLETE") != nullptr;
  const auto t0 = std::chrono::steady_clock::now();

  AVIFileInit();
  PAVIFILE f = nullptr;
  if (AVIFileOpenA(&f, file, OF_WRITE | OF_CREATE, nullptr) != AVIERR_OK) return 4;
  if (std::getenv("AVI_HELPER_DIRECT") && AVIFileSetDirectWrites(f, 1) != AVIERR_OK) return 4;
  AVISTREAMINFO si{};
  si.fccType = streamtypeVIDEO;
  si.fccHandler = handler;
  si.dwScale = 1;
  si.dwRate = 10;
  si.dwSuggestedBufferSize = DWORD(w * h * 4);
  si.rcFrame = {0, 0, w, h};
  PAVISTREAM raw = nullptr, comp = nullptr;
  if (AVIFileCreateStreamA(f, &raw, &si) != AVIERR_OK) return 5;
  AVICOMPRESSOPTIONS o{};
  o.fccType = ICTYPE_VIDEO;
  o.fccHandler = handler;
  o.dwFlags = AVICOMPRESSF_VALID;
  if (const char* every = std::getenv("AVI_HELPER_KEYFRAMES")) {
    o.dwKeyFrameEvery = DWORD(std::atoi(every));
    o.dwFlags |= AVICOMPRESSF_KEYFRAMES;
  }
  if (AVIMakeCompressedStream(&comp, raw, &o, nullptr) != AVIERR_OK) return 6;
  PAVISTREAM sound = nullptr;
  if (std::getenv("AVI_HELPER_SOUND")) {
    AVISTREAMINFO ai{};
    ai.fccType = streamtypeAUDIO;
    ai.dwScale = 1;
    ai.dwRate = 48000;
    if (AVIFileCreateStreamA(f, &sound, &ai) != AVIERR_OK) return 9;
  }
  BITMAPINFOHEADER bi{};
  bi.biSize = 40;
  bi.biWidth = w;
  bi.biHeight = h;
  bi.biPlanes = 1;
  bi.biBitCount = 32;
  bi.biSizeImage = DWORD(w * h * 4);
  if (AVIStreamSetFormat(comp, 0, &bi, 40) != AVIERR_OK) return 7;
  if (overlap && AVIStreamSetOverlap(comp, 1) != AVIERR_OK) return 8;

  int rc = 0;
  for (int i = 0; i < frames; ++i) {
    const auto bits = avitest::patternFrame32(w, h, i);
    if (sound) {
      const std::vector<std::int16_t> chunk(9600, std::int16_t(i + 1));
      if (AVIStreamWrite(sound, -1, 4800, chunk.data(), 19200, 0, nullptr, nullptr) != AVIERR_OK) return 10;
    }
    const HRESULT hr = AVIStreamWrite(comp, i, 1, bits.data(), LONG(bits.size()), AVIIF_KEYFRAME, nullptr, nullptr);
    const long ms = long(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count());
    if (hr != AVIERR_OK) {
      // Overlapped, a write reports the frame before it.
      std::printf("failed %d %d %d\n", overlap ? i - 1 : i, int(hr), AVIFileLastErrno(f));
      std::fflush(stdout);
      rc = 3;
      break;
    }
    std::printf("wrote %d %ld\n", i, ms);
    std::fflush(stdout);
    if (sleepMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs));
  }
  if (overlap && rc == 0) {
    if (const HRESULT hr = AVIStreamFlush(comp); hr != AVIERR_OK) {
      std::printf("failed %d %d %d\n", frames - 1, int(hr), AVIFileLastErrno(f));
      rc = 3;
    }
  }
  AVIStreamRelease(raw);
  AVIStreamRelease(comp);
  AVIStreamRelease(sound);
  if (complete) {
    const HRESULT hr = AVIFileComplete(f);
    std::printf("completed %d %d\n", int(hr), AVIFileLastErrno(f));
  }
  AVIFileRelease(f);
  AVIFileExit();
  return rc;
}
