#include "platform/vfw/riffwriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>

#include "platform/vfw/avitesting.h"

namespace vfw {

namespace {

constexpr std::uint64_t kDefaultRiffLimit = 0x40000000;  // 1 GiB, what old readers cope with
constexpr int kDefaultCheckpointMs = 1000;
constexpr std::uint64_t kMoviAlign = 2048;

std::atomic<std::uint64_t> g_riffLimit{kDefaultRiffLimit};
std::atomic<int> g_checkpointMs{kDefaultCheckpointMs};

void putU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}

// A write past RLIMIT_FSIZE must come back as EFBIG, not kill the process.
void ignoreFileSizeSignal() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction old {};
    if (sigaction(SIGXFSZ, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) {
      struct sigaction sa {};
      sa.sa_handler = SIG_IGN;
      sigemptyset(&sa.sa_mask);
      sigaction(SIGXFSZ, &sa, nullptr);
    }
  });
}

bool writeAllAt(int fd, std::uint64_t pos, std::span<const std::span<const std::uint8_t>> parts) {
  for (auto part : parts) {
    const std::uint8_t* p = part.data();
    std::size_t left = part.size();
    while (left > 0) {
      const ssize_t n = ::pwrite(fd, p, std::min<std::size_t>(left, 1u << 30), static_cast<off_t>(pos));
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (n == 0) return false;
      p += n;
      pos += std::uint64_t(n);
      left -= std::size_t(n);
    }
  }
  return true;
}

}  // namespace

namespace testing {
void setRiffSizeLimit(std::uint64_t bytes) { g_riffLimit = bytes ? bytes : kDefaultRiffLimit; }
std::uint64_t riffSizeLimit() { return g_riffLimit; }
void setCheckpointInterval(int milliseconds) {
  g_checkpointMs = milliseconds > 0 ? milliseconds : kDefaultCheckpointMs;
}
}  // namespace testing

namespace detail {

int createFile(const char* path) {
  ignoreFileSizeSignal();
  // O_NONBLOCK: a FIFO of that name (no reader) fails here rather than
  // hanging the caller; only a regular file can hold an AVI that is patched
  // in place.
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, 0) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

RiffWriter::RiffWriter(int fd)
    : fd_(fd), riffLimit_(g_riffLimit), checkpointEvery_(std::chrono::milliseconds(int(g_checkpointMs))) {}

RiffWriter::~RiffWriter() { ::close(fd_); }

bool RiffWriter::start(std::span<const std::uint8_t> lists) {
  const std::uint64_t listsEnd = kListsPos + lists.size();
  // The movi LIST header goes 12 bytes before a 2048 boundary so that
  // frames start aligned; a JUNK chunk (at least its 8-byte header) fills.
  moviPos_ = (listsEnd + 8 + 12 + kMoviAlign - 1) / kMoviAlign * kMoviAlign - 12;

  Bytes o;
  o.u32(tag("RIFF"));
  o.u32(std::uint32_t(moviPos_ + 12 - 8));
  o.u32(tag("AVI "));
  o.bytes(lists);
  o.bytes(junkChunk(std::uint32_t(moviPos_ - listsEnd - 8)).b);
  o.u32(tag("LIST"));
  o.u32(4);
  o.u32(tag("movi"));
  if (!put(0, o.b)) return false;
  started_ = true;
  riffPos_ = 0;
  pos_ = moviPos_ + 12;
  lastCheckpoint_ = std::chrono::steady_clock::now();
  return true;
}

std::optional<std::uint64_t> RiffWriter::appendChunk(FOURCC id, std::span<const std::uint8_t> data) {
  std::uint8_t head[8];
  putU32(head, id);
  putU32(head + 4, std::uint32_t(data.size()));
  static const std::uint8_t pad[1] = {0};
  const std::span<const std::uint8_t> parts[] = {head, data, std::span(pad, data.size() & 1)};
  if (!writeAllAt(fd_, pos_, parts)) {
    failed_ = true;
    return std::nullopt;
  }
  const std::uint64_t at = pos_;
  pos_ += 8 + data.size() + (data.size() & 1);
  return at;
}

std::optional<std::uint64_t> RiffWriter::append(std::span<const std::uint8_t> chunks) {
  if (!put(pos_, chunks)) return std::nullopt;
  const std::uint64_t at = pos_;
  pos_ += chunks.size();
  return at;
}

bool RiffWriter::checkpointDue() {
  const auto now = std::chrono::steady_clock::now();
  if (now - lastCheckpoint_ < checkpointEvery_) return false;
  lastCheckpoint_ = now;
  return true;
}

bool RiffWriter::checkpoint(std::span<const Field> fields) {
  return putSize(riffPos_, pos_) && putSize(moviPos_, pos_) && putFields(fields);
}

bool RiffWriter::closeMovi() { return putSize(moviPos_, pos_); }

bool RiffWriter::closeRiff(std::span<const Field> fields) {
  if (!putSize(riffPos_, pos_)) return false;
  riffOpen_ = false;
  return putFields(fields);
}

bool RiffWriter::openAvix() {
  Bytes o;
  o.u32(tag("RIFF"));
  o.u32(16);
  o.u32(tag("AVIX"));
  o.u32(tag("LIST"));
  o.u32(4);
  o.u32(tag("movi"));
  if (!put(pos_, o.b)) return false;
  riffPos_ = pos_;
  moviPos_ = pos_ + 12;
  pos_ += o.b.size();
  riffOpen_ = true;
  return true;
}

void RiffWriter::dropPartialChunk() {
  if (failed_ && ::ftruncate(fd_, static_cast<off_t>(pos_)) != 0) {
    // The sizes written later still cover the whole chunks only.
  }
}

void RiffWriter::finish(std::uint64_t moviEnd, std::span<const Field> fields) {
  // A RIFF closed already (a failed start of the next) keeps its sizes.
  if (riffOpen_) {
    putSize(moviPos_, moviEnd);
    putSize(riffPos_, pos_);
  }
  for (const Field& f : fields) put(f.pos, f.bytes);
  if (::ftruncate(fd_, static_cast<off_t>(pos_)) != 0) {
    // A tail the sizes do not cover stays; readers skip it.
  }
}

bool RiffWriter::put(std::uint64_t pos, std::span<const std::uint8_t> data) {
  const std::span<const std::uint8_t> parts[] = {data};
  if (writeAllAt(fd_, pos, parts)) return true;
  failed_ = true;
  return false;
}

bool RiffWriter::putSize(std::uint64_t header, std::uint64_t end) {
  std::uint8_t v[4];
  putU32(v, std::uint32_t(end - header - 8));
  return put(header + 4, v);
}

bool RiffWriter::putFields(std::span<const Field> fields) {
  return std::all_of(fields.begin(), fields.end(), [this](const Field& f) { return put(f.pos, f.bytes); });
}

}  // namespace detail
}  // namespace vfw
