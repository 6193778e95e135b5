#pragma once
// Read-back of AVI and BMP files through an independent reader (ffprobe and
// ffmpeg from Debian), so our writers are never judged by our own code.
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct ProbedStream {
  bool ok = false;
  std::string codecName;   // ffprobe's codec_name
  std::string codecTag;    // fourcc as text, e.g. "MJPG"
  int width = 0;
  int height = 0;
  int rateNum = 0;         // r_frame_rate
  int rateDen = 0;
  long frameCount = -1;    // counted by decoding-free packet walk
  long keyPackets = 0;     // packets flagged K
  long nonEmptyPackets = 0;
  std::vector<long> packetSizes;
};

// Runs ffprobe on one file and returns the first video stream's facts.
ProbedStream probeVideo(const std::string& path);

// Decodes every frame of the file's first video stream with ffmpeg into
// tightly packed pixels of pixFmt ("bgra", "rgb24", ...). Empty on failure.
std::vector<std::vector<uint8_t>> decodeFrames(const std::string& path, int width, int height,
                                               const std::string& pixFmt = "bgra");

// Runs a command (argv, no shell) and returns its exit code; stdout in *out.
int runCommand(const std::vector<std::string>& argv, std::string* out = nullptr,
               int timeoutMs = 120000);

// PSNR in dB of two equally sized byte buffers (8-bit samples).
double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

}  // namespace testsupport
