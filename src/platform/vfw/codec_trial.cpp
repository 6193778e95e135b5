// Trial recordings: how fast each compressor's whole path (conversion,
// compression, file write) runs at the caller's frame size, and the
// description of every compressor the dialog and the command line show.
//
// The write matters: without it uncompressed full frames of bottom-up rows
// cost nothing at all (the packet is the caller's buffer) and measured in
// the millions of frames per second, which says nothing about a recording.
#include <QCoreApplication>
#include <QLocale>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/vfw/codec.h"
#include "platform/vfw/codec_internal.h"
#include "platform/vfw/riffwriter.h"

namespace vfw {

std::vector<std::uint8_t> syntheticFrame(std::span<const std::uint8_t> inputFormat, int seed) {
  const auto in = detail::parseInputFormat(inputFormat);
  if (!in) return {};
  std::vector<std::uint8_t> bits(in->imageBytes, 0);
  const int w = in->width, h = in->height;
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = &bits[in->stride * std::size_t(in->bottomUp ? h - 1 - y : y)];
    for (int x = 0; x < w; ++x) {
      const double fx = double(x) / w, fy = double(y) / h;
      int r = int(60 + 150 * fy + 20 * std::sin(6.0 * fx + 0.3 * seed));
      int g = int(90 + 100 * fx);
      int b = int(200 - 120 * fy);
      const int wx = w / 5 + seed, wy = h / 5;
      if (x >= wx && x < wx + w / 2 && y >= wy && y < wy + h / 2) {
        r = g = b = 235;
        if ((y / 2) % 6 == 0 && ((x + seed) / 4) % 3 != 0) r = g = b = 30;
      }
      r = std::clamp(r, 0, 255), g = std::clamp(g, 0, 255), b = std::clamp(b, 0, 255);
      switch (in->bitCount) {
        case 32: row[4 * x] = std::uint8_t(b), row[4 * x + 1] = std::uint8_t(g), row[4 * x + 2] = std::uint8_t(r); break;
        case 24: row[3 * x] = std::uint8_t(b), row[3 * x + 1] = std::uint8_t(g), row[3 * x + 2] = std::uint8_t(r); break;
        case 16: {
          const bool g6 = in->pixFmt == AV_PIX_FMT_RGB565LE;
          const int v = g6 ? (r >> 3) << 11 | (g >> 2) << 5 | (b >> 3) : (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
          row[2 * x] = std::uint8_t(v), row[2 * x + 1] = std::uint8_t(v >> 8);
          break;
        }
        default: row[x] = std::uint8_t((r + g + b) / 3); break;  // an index; the palette decides the colour
      }
    }
  }
  return bits;
}

double measureFrameRate(FOURCC fccHandler, std::span<const std::uint8_t> inputFormat, double budgetSeconds,
                        int maxFrames, const std::atomic<bool>* cancel) {
  return runTrial(fccHandler, inputFormat, budgetSeconds, maxFrames, cancel).framesPerSecond;
}

TrialResult runTrial(FOURCC fccHandler, std::span<const std::uint8_t> inputFormat, double budgetSeconds,
                     int maxFrames, const std::atomic<bool>* cancel, LONG quality) {
  using Clock = std::chrono::steady_clock;
  TrialResult result;
  const CompressorInfo* info = findCompressor(fccHandler);
  if (!info) return result;
  std::unique_ptr<Encoder> enc;
  EncoderOptions options;
  options.quality = quality;
  // Delta frames after the first, as a recording has them between its key
  // frames; the interval is longer than any trial.
  options.keyFrameEvery = info->temporal ? 1000000 : 1;
  if (createEncoder(fccHandler, inputFormat, options, enc) != AVIERR_OK) return result;
  const auto frames = std::array{syntheticFrame(inputFormat, 0), syntheticFrame(inputFormat, 3)};
  // Removed by the system when closed, even if we are killed mid-trial.
  // Under a file size limit the trial's writes must fail like the AVI
  // file's, not end the process with SIGXFSZ: how much a trial writes
  // depends on the machine's speed.
  detail::ignoreFileSizeSignal();
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(), &std::fclose);
  const auto start = Clock::now();
  // A compressor with delta frames makes one at least, so that its size is
  // known too.
  const int atLeast = info->temporal ? 2 : 1;
  int done = 0;
  double elapsed = 0;
  double deltaBytes = 0;
  while (done < std::max(atLeast, maxFrames)) {
    if (cancel && cancel->load()) return {};
    std::span<const std::uint8_t> packet;
    bool key = false;
    if (enc->encode(frames[std::size_t(done % 2)], done == 0, packet, key) != AVIERR_OK) return {};
    if (done == 0)
      result.keyFrameBytes = double(packet.size());
    else
      deltaBytes += double(packet.size());
    // Flushed so each frame's write reaches the system, as the AVI file's do.
    if (file && (std::fwrite(packet.data(), 1, packet.size(), file.get()) != packet.size() ||
                 std::fflush(file.get()) != 0))
      file.reset();  // a full temporary folder: go on without the write
    ++done;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    if (elapsed >= budgetSeconds && done >= atLeast) break;
  }
  result.framesPerSecond = elapsed > 0 ? done / elapsed : 0;
  if (done > 1) result.deltaFrameBytes = deltaBytes / (done - 1);
  return result;
}

double estimatedBytes(const TrialResult& trial, LONG keyFrameEvery, double frames) {
  if (trial.keyFrameBytes < 0 || frames <= 0) return -1;
  // Intra-only compressors' other frames are key frames too: their average.
  const double delta = trial.deltaFrameBytes >= 0 ? trial.deltaFrameBytes : trial.keyFrameBytes;
  const double keys = keyFrameEvery > 1 ? std::ceil(frames / double(keyFrameEvery)) : frames;
  return keys * trial.keyFrameBytes + (frames - keys) * delta;
}

std::vector<CompressorDescription> describeCompressors(std::span<const std::uint8_t> inputFormat, bool measure) {
  std::vector<CompressorDescription> out;
  for (const CompressorInfo& c : compressors()) {
    CompressorDescription d;
    d.fccHandler = c.fccHandler;
    d.name = c.name;
    d.lossless = c.lossless;
    if (!inputFormat.empty()) d.refusal = compressorRefusal(c, inputFormat);
    d.usable = d.refusal.isEmpty();
    if (measure && d.usable && !inputFormat.empty()) d.framesPerSecond = measureFrameRate(c.fccHandler, inputFormat);
    out.push_back(std::move(d));
  }
  return out;
}

std::vector<CompressorDescription> describeCompressors(const BITMAPINFOHEADER& in, bool measure) {
  return describeCompressors(std::span(reinterpret_cast<const std::uint8_t*>(&in), sizeof in), measure);
}

QString frameRateText(double fps, double cap) {
  if (fps < 0) return QCoreApplication::translate("vfw", "n/a");
  // The locale's own separator, but always one: "1234 fps" reads as a code.
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
  if (fps > cap) return QCoreApplication::translate("vfw", "over %1 fps").arg(locale.toString(qRound64(cap)));
  if (fps >= 10) return QCoreApplication::translate("vfw", "%1 fps").arg(locale.toString(qRound64(fps)));
  return QCoreApplication::translate("vfw", "%1 fps").arg(locale.toString(fps, 'f', fps >= 1 ? 1 : 2));
}

}  // namespace vfw
