#include "support/media.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <cmath>

namespace testsupport {

int runCommand(const std::vector<std::string>& argv, std::string* out, int timeoutMs) {
  if (argv.empty()) return -1;
  QProcess p;
  QStringList args;
  for (size_t i = 1; i < argv.size(); ++i) args << QString::fromStdString(argv[i]);
  p.setProcessChannelMode(QProcess::SeparateChannels);
  p.start(QString::fromStdString(argv[0]), args);
  if (!p.waitForStarted(10000)) return -1;
  QByteArray data;
  while (!p.waitForFinished(100)) {
    data += p.readAllStandardOutput();
    timeoutMs -= 100;
    if (timeoutMs <= 0) {
      p.kill();
      p.waitForFinished();
      return -1;
    }
  }
  data += p.readAllStandardOutput();
  if (out) *out = data.toStdString();
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

ProbedStream probeVideo(const std::string& path) {
  ProbedStream s;
  std::string out;
  if (runCommand({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_streams", "-show_packets",
                  "-of", "json", path},
                 &out) != 0)
    return s;
  const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
  const QJsonArray streams = root.value("streams").toArray();
  if (streams.isEmpty()) return s;
  const QJsonObject st = streams.first().toObject();
  s.codecName = st.value("codec_name").toString().toStdString();
  s.codecTag = st.value("codec_tag_string").toString().toStdString();
  s.width = st.value("width").toInt();
  s.height = st.value("height").toInt();
  const QStringList rate = st.value("r_frame_rate").toString().split('/');
  if (rate.size() == 2) {
    s.rateNum = rate[0].toInt();
    s.rateDen = rate[1].toInt();
  }
  const QJsonArray packets = root.value("packets").toArray();
  s.frameCount = packets.size();
  for (const auto& v : packets) {
    const QJsonObject p = v.toObject();
    const long size = p.value("size").toString().toLong();
    s.packetSizes.push_back(size);
    if (size > 0) ++s.nonEmptyPackets;
    if (p.value("flags").toString().startsWith('K')) ++s.keyPackets;
  }
  s.ok = true;
  return s;
}

KeyFlags keyFlags(const std::string& path, bool useOdml) {
  KeyFlags k;
  std::string out;
  const std::string odml = useOdml ? "1" : "0";
  if (runCommand({"ffprobe", "-v", "error", "-use_odml", odml, "-select_streams", "v:0", "-show_entries",
                  "packet=flags,size", "-of", "csv=p=0", path},
                 &out, 300000) != 0)
    return {};
  for (const QString& line : QString::fromStdString(out).split('\n', Qt::SkipEmptyParts)) {
    // "size,flags"; empty chunks (a skipped position) carry no picture.
    const QStringList f = line.split(',');
    if (f.size() >= 2 && f[0].toLong() > 0) k.packets.push_back(f[1].startsWith('K'));
  }
  if (runCommand({"ffprobe", "-v", "error", "-use_odml", odml, "-select_streams", "v:0", "-show_entries",
                  "frame=key_frame", "-of", "csv=p=0", path},
                 &out, 300000) != 0)
    return {};
  // A frame with side data has more fields after its flag.
  for (const QString& line : QString::fromStdString(out).split('\n', Qt::SkipEmptyParts))
    k.frames.push_back(line.section(',', 0, 0).trimmed() == "1");
  return k;
}

std::vector<bool> everyNth(int count, int n) {
  std::vector<bool> v;
  for (int i = 0; i < count; ++i) v.push_back(n <= 1 || i % n == 0);
  return v;
}

std::vector<std::vector<uint8_t>> decodeFrames(const std::string& path, int width, int height,
                                               const std::string& pixFmt) {
  std::vector<std::vector<uint8_t>> frames;
  std::string out;
  if (runCommand({"ffmpeg", "-v", "error", "-i", path, "-map", "0:v:0", "-vsync", "passthrough", "-f",
                  "rawvideo", "-pix_fmt", pixFmt, "-"},
                 &out, 300000) != 0)
    return frames;
  int bpp = 4;
  if (pixFmt == "rgb24" || pixFmt == "bgr24") bpp = 3;
  if (pixFmt == "gray") bpp = 1;
  const size_t frameBytes = static_cast<size_t>(width) * height * bpp;
  if (frameBytes == 0) return frames;
  for (size_t off = 0; off + frameBytes <= out.size(); off += frameBytes)
    frames.emplace_back(out.begin() + static_cast<long>(off), out.begin() + static_cast<long>(off + frameBytes));
  return frames;
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0.0;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double d = double(a[i]) - double(b[i]);
    sum += d * d;
  }
  if (sum == 0) return 99.0;
  const double mse = sum / double(a.size());
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace testsupport
