// The AVI writer side by side with the ffmpeg command, in one run.
//
//   writer_bench [--frames N] [--skip-ffmpeg]
//
// Prints Markdown tables (the figures in bench/RESULTS.md come from here):
//  1. pixel conversion at 1080p, libyuv against swscale;
//  2. N (300) frames of 1920x1080 32-bit screen-like content through the
//     writer path (AVIFileOpenA ... AVIStreamWrite, every frame a key frame)
//     and through `ffmpeg` reading the same frames as rawvideo from a file,
//     same encoder and quality, -threads 1 and ffmpeg's default threads;
//  3. uncompressed frames: writer time per frame against a plain memcpy;
//  4. the writer's peak RSS at 100 and 300 frames (child processes);
//  5. every compressor's frames per second at 1920x1080 and 640x480, with
//     one thread and with libavcodec's automatic thread count.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "spawn.h"
#include "platform/vfw/codec.h"
#include "platform/vfw/codec_internal.h"
#include "platform/vfw/vfw.h"

extern "C" {
#include <libavutil/frame.h>
}

using namespace vfw;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kDistinctFrames = 10;

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

std::vector<std::uint8_t> header(int w, int h, bool topDown = false) {
  BITMAPINFOHEADER bi{};
  bi.biSize = 40;
  bi.biWidth = w;
  bi.biHeight = topDown ? -h : h;
  bi.biPlanes = 1;
  bi.biBitCount = 32;
  bi.biSizeImage = DWORD(w) * DWORD(h) * 4;
  std::vector<std::uint8_t> v(40);
  std::memcpy(v.data(), &bi, 40);
  return v;
}

using bench::run;

struct Codec {
  const char* label;
  FOURCC fcc;
  std::vector<std::string> ffmpegArgs;  // after the input, before -threads
};

const std::vector<Codec>& sideBySide() {
  static const std::vector<Codec> list = {
      {"Motion JPEG (q 4)", mmioFOURCC('M', 'J', 'P', 'G'), {"-c:v", "mjpeg", "-q:v", "4", "-pix_fmt", "yuvj420p"}},
      {"H.264 ultrafast (crf 23)", mmioFOURCC('H', '2', '6', '4'),
       {"-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-crf", "23", "-g", "1", "-pix_fmt",
        "yuv420p"}},
      {"Ut Video (gbrp)", mmioFOURCC('U', 'L', 'R', 'G'), {"-c:v", "utvideo", "-pix_fmt", "gbrp"}},
      {"Uncompressed", comptypeDIB, {"-c:v", "rawvideo", "-pix_fmt", "bgra"}},
  };
  return list;
}

// Writes `frames` frames through the AVI library; returns seconds or < 0.
double writeThroughLibrary(FOURCC fcc, const std::vector<std::vector<std::uint8_t>>& frames, int count,
                           const std::string& path) {
  const auto fmt = header(kWidth, kHeight);
  const auto start = Clock::now();
  AVIFileInit();
  PAVIFILE file = nullptr;
  PAVISTREAM raw = nullptr, compressed = nullptr;
  bool ok = AVIFileOpenA(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr) == AVIERR_OK;
  AVISTREAMINFOA si{};
  si.fccType = streamtypeVIDEO;
  si.fccHandler = fcc;
  si.dwScale = 1;
  si.dwRate = 30;
  si.dwQuality = DWORD(ICQUALITY_DEFAULT);
  si.dwSuggestedBufferSize = DWORD(kWidth * kHeight * 4);
  si.rcFrame = {0, 0, kWidth, kHeight};
  ok = ok && AVIFileCreateStreamA(file, &raw, &si) == AVIERR_OK;
  AVICOMPRESSOPTIONS opt{};
  opt.fccType = ICTYPE_VIDEO;
  opt.fccHandler = fcc;
  opt.dwKeyFrameEvery = 1;
  opt.dwQuality = DWORD(ICQUALITY_DEFAULT);
  opt.dwFlags = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
  ok = ok && AVIMakeCompressedStream(&compressed, raw, &opt, nullptr) == AVIERR_OK;
  for (int i = 0; ok && i < count; ++i) {
    // As the recorder does: the format again, then the frame as a key frame.
    ok = AVIStreamSetFormat(compressed, 0, fmt.data(), LONG(fmt.size())) == AVIERR_OK &&
         AVIStreamWrite(compressed, i, 1, frames[std::size_t(i) % frames.size()].data(),
                        LONG(frames[0].size()), AVIIF_KEYFRAME, nullptr, nullptr) == AVIERR_OK;
  }
  AVIStreamRelease(raw);
  AVIStreamRelease(compressed);
  AVIFileRelease(file);
  AVIFileExit();
  return ok ? seconds(start) : -1;
}

double runFfmpeg(const Codec& c, const std::string& rawFile, int count, const char* threads, const std::string& out) {
  std::vector<std::string> args = {"ffmpeg", "-v", "error", "-y", "-f", "rawvideo", "-pix_fmt", "bgra", "-s",
                                   std::to_string(kWidth) + "x" + std::to_string(kHeight), "-r", "30",
                                   "-stream_loop", "-1", "-i", rawFile, "-frames:v", std::to_string(count)};
  args.insert(args.end(), c.ffmpegArgs.begin(), c.ffmpegArgs.end());
  if (threads) args.insert(args.end(), {"-threads", threads});
  args.push_back(out);
  const auto start = Clock::now();
  return run(args) == 0 ? seconds(start) : -1;
}

std::vector<std::vector<std::uint8_t>> makeFrames(int w, int h) {
  std::vector<std::vector<std::uint8_t>> frames;
  for (int i = 0; i < kDistinctFrames; ++i) frames.push_back(syntheticFrame(header(w, h), i * 7));
  return frames;
}

void conversionSection() {
  std::printf("### Conversion of one 1920x1080 32-bit frame (bottom-up DIB, flipped on the way)\n\n");
  std::printf("| to | libyuv ms | swscale ms | swscale / libyuv |\n|---|---|---|---|\n");
  const auto fmt = header(kWidth, kHeight);
  const auto in = detail::parseInputFormat(fmt);
  const auto frames = makeFrames(kWidth, kHeight);
  for (AVPixelFormat out : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_RGB24, AV_PIX_FMT_GBRP}) {
    double ms[2] = {0, 0};
    for (int b = 0; b < 2; ++b) {
      detail::Converter conv(*in, out, b == 0 ? detail::Converter::Backend::Auto : detail::Converter::Backend::Swscale);
      AVFrame* f = av_frame_alloc();
      f->format = out;
      f->width = kWidth;
      f->height = kHeight;
      av_frame_get_buffer(f, 0);
      conv.convert(frames[0].data(), f);  // warm-up
      const int n = 60;
      const auto start = Clock::now();
      for (int i = 0; i < n; ++i) conv.convert(frames[std::size_t(i) % frames.size()].data(), f);
      ms[b] = seconds(start) * 1000 / n;
      av_frame_free(&f);
    }
    std::printf("| %s | %.2f | %.2f | %.2f |\n", out == AV_PIX_FMT_YUV420P ? "I420 (yuv420p)"
                                                 : out == AV_PIX_FMT_YUVJ420P ? "J420 (yuvj420p)"
                                                 : out == AV_PIX_FMT_RGB24  ? "rgb24"
                                                                            : "gbrp (planar)",
                ms[0], ms[1], ms[1] / ms[0]);
  }
  std::printf("\n");
}

void sideBySideSection(int count, bool withFfmpeg) {
  const auto frames = makeFrames(kWidth, kHeight);
  // Files go to tmpfs: the disk's write-back speed is the same wall for
  // both programs and would hide their own costs.
  const std::string dir = "/dev/shm/kestrel-writer-bench";
  run({"mkdir", "-p", dir});
  const std::string rawFile = dir + "/frames.bgra";
  {
    // The same frames for ffmpeg, top row first as rawvideo expects.
    std::ofstream raw(rawFile, std::ios::binary);
    const std::size_t stride = std::size_t(kWidth) * 4;
    for (const auto& f : frames)
      for (int y = kHeight - 1; y >= 0; --y)
        raw.write(reinterpret_cast<const char*>(&f[stride * std::size_t(y)]), std::streamsize(stride));
  }
  std::printf("### %d frames of 1920x1080 32-bit screen content, every frame a key frame\n\n", count);
  std::printf("| compressor | Kestrel fps | ffmpeg -threads 1 fps | ratio | ffmpeg default threads fps | ratio |\n");
  std::printf("|---|---|---|---|---|---|\n");
  double rawSeconds = 0;
  for (const Codec& c : sideBySide()) {
    const double k = writeThroughLibrary(c.fcc, frames, count, dir + "/kestrel.avi");
    if (c.fcc == comptypeDIB) rawSeconds = k;
    std::remove((dir + "/kestrel.avi").c_str());
    double f1 = -1, fd = -1;
    if (withFfmpeg) {
      f1 = runFfmpeg(c, rawFile, count, "1", dir + "/ffmpeg.avi");
      fd = runFfmpeg(c, rawFile, count, nullptr, dir + "/ffmpeg.avi");
      std::remove((dir + "/ffmpeg.avi").c_str());
    }
    const double kf = count / k, f1f = count / f1, fdf = count / fd;
    std::printf("| %s | %.1f | %.1f | %.2f | %.1f | %.2f |\n", c.label, kf, f1f, kf / f1f, fdf, kf / fdf);
    std::fflush(stdout);
  }
  std::printf("\n");

  // A plain copy of each frame into one buffer, the floor for any writer.
  std::vector<std::uint8_t> dst(frames[0].size());
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    std::memcpy(dst.data(), frames[std::size_t(i) % frames.size()].data(), dst.size());
    asm volatile("" : : "r"(dst.data()) : "memory");
  }
  const double copyMs = seconds(start) * 1000 / count;
  // And a plain write(2) of each frame to a file on the same tmpfs: what any
  // program pays to get the bytes into a file.
  double plainMs = 0;
  {
    const std::string plain = dir + "/plain.bin";
    FILE* f = std::fopen(plain.c_str(), "wb");
    const auto t0 = Clock::now();
    for (int i = 0; f && i < count; ++i)
      if (::write(fileno(f), frames[std::size_t(i) % frames.size()].data(), frames[0].size()) < 0) break;
    plainMs = seconds(t0) * 1000 / count;
    if (f) std::fclose(f);
    std::remove(plain.c_str());
  }
  std::printf("### Uncompressed: writer time per frame against memcpy and write(2) of the frame (8,294,400 bytes)\n\n");
  std::printf("| writer ms/frame | memcpy ms/frame | writer / memcpy | write(2) ms/frame | writer / write(2) |\n");
  std::printf("|---|---|---|---|---|\n");
  const double writerMs = rawSeconds * 1000 / count;
  std::printf("| %.2f | %.2f | %.2f | %.2f | %.2f |\n\n", writerMs, copyMs, writerMs / copyMs, plainMs,
              writerMs / plainMs);
  run({"rm", "-rf", dir});
}

void memorySection(const char* self) {
  std::printf("### Peak RSS of the writer (separate process per run, H.264 and uncompressed)\n\n");
  std::printf("| compressor | 100 frames MiB | 300 frames MiB |\n|---|---|---|\n");
  for (const char* codec : {"H264", "MJPG", "DIB "}) {
    double mib[2] = {0, 0};
    int i = 0;
    for (const char* n : {"100", "300"}) {
      rusage ru{};
      run({self, "--rss", codec, n}, &ru);
      mib[i++] = double(ru.ru_maxrss) / 1024.0;
    }
    std::printf("| %s | %.1f | %.1f |\n", codec, mib[0], mib[1]);
  }
  std::printf("\n");
}

double encodeRate(FOURCC fcc, int w, int h, int threads, double budget) {
  const auto fmt = header(w, h);
  EncoderOptions opt;
  opt.threads = threads;
  std::unique_ptr<Encoder> enc;
  if (createEncoder(fcc, fmt, opt, enc) != AVIERR_OK) return -1;
  const auto frames = std::vector{syntheticFrame(fmt, 0), syntheticFrame(fmt, 5)};
  std::span<const std::uint8_t> packet;
  bool key = false;
  enc->encode(frames[0], true, packet, key);  // warm-up
  int n = 0;
  const auto start = Clock::now();
  do {
    if (enc->encode(frames[std::size_t(n % 2)], true, packet, key) != AVIERR_OK) return -1;
    ++n;
  } while (seconds(start) < budget && n < 300);
  return n / seconds(start);
}

// What the compressor dialog does on the UI thread before it shows: ask
// every compressor whether it takes the format (each opens its encoder).
void dialogListSection() {
  for (auto [w, h] : {std::pair{1920, 1080}, std::pair{640, 480}}) {
    const auto fmt = header(w, h);
    const auto start = Clock::now();
    int accepted = 0;
    for (const CompressorInfo& c : compressors()) accepted += compressorAccepts(c, fmt) ? 1 : 0;
    std::printf("Compressor list check at %dx%d: %d of %zu accepted in %.1f ms\n\n", w, h, accepted,
                compressors().size(), seconds(start) * 1000);
  }
}

void perCompressorSection() {
  std::printf("### Every compressor, 32-bit input, every frame a key frame (frames/s)\n\n");
  std::printf("| compressor | 1920x1080, 1 thread | 1920x1080, auto threads | 640x480, 1 thread | 640x480, auto threads |\n");
  std::printf("|---|---|---|---|---|\n");
  for (const CompressorInfo& c : compressors()) {
    const bool slow = std::strcmp(c.encoder, "cinepak") == 0;
    const double budget = slow ? 0.1 : 1.5;
    if (c.fccHandler == comptypeDIB) {
      std::printf("| %s | rows passed through, no work | | | |\n", c.name.toStdString().c_str());
      continue;
    }
    std::printf("| %s | %.2f | %.2f | %.2f | %.2f |\n", c.name.toStdString().c_str(),
                encodeRate(c.fccHandler, kWidth, kHeight, 1, budget), encodeRate(c.fccHandler, kWidth, kHeight, 0, budget),
                encodeRate(c.fccHandler, 640, 480, 1, budget), encodeRate(c.fccHandler, 640, 480, 0, budget));
    std::fflush(stdout);
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  int count = 300;
  bool withFfmpeg = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--rss" && i + 2 < argc) {
      const std::string f = argv[i + 1];
      const auto frames = makeFrames(kWidth, kHeight);
      const std::string out = "/dev/shm/kestrel-writer-bench-rss-" + std::to_string(getpid()) + ".avi";
      const double s = writeThroughLibrary(mmioFOURCC(f[0], f[1], f[2], f.size() > 3 ? f[3] : ' '), frames,
                                           std::atoi(argv[i + 2]), out);
      std::remove(out.c_str());
      return s < 0 ? 1 : 0;
    }
    if (a == "--frames" && i + 1 < argc) count = std::atoi(argv[++i]);
    if (a == "--skip-ffmpeg") withFfmpeg = false;
  }
  conversionSection();
  dialogListSection();
  sideBySideSection(count, withFfmpeg);
  memorySection(argv[0]);
  perCompressorSection();
  return 0;
}
