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

// The key-frame flags of the first video stream, one per packet as the
// file's index gives them (ffprobe -show_packets, the OpenDML indexes or,
// with useOdml false, idx1), and one per decoded frame as the decoder
// finds it (-show_frames key_frame). Empty on failure.
struct KeyFlags {
  std::vector<bool> packets;
  std::vector<bool> frames;
};
KeyFlags keyFlags(const std::string& path, bool useOdml = true);
// Key frames at 0, n, 2n, ... of `count` frames, n <= 1 meaning every one.
std::vector<bool> everyNth(int count, int n);

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
