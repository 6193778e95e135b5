#include "platform/vfw/riffwriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/vfw/avitesting.h"

namespace vfw {

namespace {

constexpr std::uint64_t kDefaultRiffLimit = 0x40000000;  // 1 GiB, what old readers cope with
constexpr int kDefaultCheckpointMs = 1000;
constexpr std::uint64_t kMoviAlign = 2048;
constexpr off_t kKeepCached = 64 << 10;  // the header lists and the first frames' start

std::atomic<std::uint64_t> g_riffLimit{kDefaultRiffLimit};
std::atomic<int> g_checkpointMs{kDefaultCheckpointMs};
std::atomic<int> g_syncFailure{0};

void putU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}

// 0, or the errno of the write that failed. Large parts go out in slices
// of kWriteSlice: the kernel copies a frame into the page cache five to
// eight times faster in 512 KiB writes than in one 8 MB write (measured on
// ext4, 1080p frames: about 1.7 against 5-11 ms of system time per frame),
// and the time varies far less.
int writeAllAt(int fd, std::uint64_t pos, std::span<const std::span<const std::uint8_t>> parts) {
  for (auto part : parts) {
    const std::uint8_t* p = part.data();
    std::size_t left = part.size();
    while (left > 0) {
      const ssize_t n = ::pwrite(fd, p, std::min<std::size_t>(left, detail::kWriteSlice), static_cast<off_t>(pos));
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno ? errno : EIO;
      }
      if (n == 0) return ENOSPC;  // nothing written and no reason given: no room
      p += n;
      pos += std::uint64_t(n);
      left -= std::size_t(n);
    }
  }
  return 0;
}

}  // namespace

namespace testing {
void setRiffSizeLimit(std::uint64_t bytes) { g_riffLimit = bytes ? bytes : kDefaultRiffLimit; }
std::uint64_t riffSizeLimit() { return g_riffLimit; }
void setCheckpointInterval(int milliseconds) {
  g_checkpointMs = milliseconds > 0 ? milliseconds : kDefaultCheckpointMs;
}
void setSyncFailure(int errnoValue) { g_syncFailure = errnoValue; }
}  // namespace testing

namespace detail {

// The thread has a duplicate of the writer's descriptor, so the writer can
// close its own at the release without waiting: the last sync and the close
// of the duplicate happen here afterwards. A sync failure is kept for the
// writer to report at its next write.
class Syncer : public std::enable_shared_from_this<Syncer> {
 public:
  Syncer(int fd, std::chrono::milliseconds every) : fd_(fd), every_(every), simulatedFailure_(g_syncFailure) {}

  // nullptr when no thread (or descriptor) can be had: the file is then
  // only as durable as the kernel makes it.
  static std::shared_ptr<Syncer> start(int fd, std::chrono::milliseconds every) {
    const int dup = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (dup < 0) return nullptr;
    auto s = std::make_shared<Syncer>(dup, every);
    try {
      std::thread([s] { s->run(); }).detach();
    } catch (const std::system_error&) {
      ::close(dup);
      return nullptr;
    }
    return s;
  }

  int failure() const { return failure_; }

  void stop() {
    {
      const std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_one();
  }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      const bool stopping = wake_.wait_for(lock, every_, [this] { return stop_; });
      lock.unlock();
      const int err = simulatedFailure_ ? simulatedFailure_ : (::fdatasync(fd_) == 0 ? 0 : errno);
      int none = 0;
      if (err) failure_.compare_exchange_strong(none, err);
      // What is on the disk now leaves the page cache: a recording is not
      // read back while it grows, and gigabytes of it would push out what
      // the rest of the desktop uses. It also keeps the kernel's copy into
      // the cache cheap: with the cache filling with clean frame pages,
      // each frame's write cost 6-10 ms of system time at 1080p here, with
      // them dropped about 3. The first pages hold the header, rewritten
      // every second, and stay.
      if (!err) ::posix_fadvise(fd_, kKeepCached, 0, POSIX_FADV_DONTNEED);
      lock.lock();
      if (stopping) break;
    }
    ::close(fd_);
  }

  const int fd_;
  const std::chrono::milliseconds every_;
  const int simulatedFailure_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::atomic<int> failure_{0};
};

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
    : fd_(fd), riffLimit_(g_riffLimit), checkpointEvery_(std::chrono::milliseconds(int(g_checkpointMs))) {
  // Synced as often as the header is brought up to date: a power cut then
  // loses about what a killed recorder does.
  syncer_ = Syncer::start(fd_, std::chrono::milliseconds(int(g_checkpointMs)));
}

RiffWriter::~RiffWriter() {
  if (syncer_) syncer_->stop();
  ::close(fd_);
}

void RiffWriter::fail(int err) {
  failed_ = true;
  if (errno_ == 0) errno_ = err ? err : EIO;
}

bool RiffWriter::syncFailed() {
  if (!syncer_ || syncer_->failure() == 0) return false;
  fail(syncer_->failure());
  return true;
}

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
  std::size_t given = 0;
  return appendChunk(id, std::uint32_t(data.size()), [&] {
    const auto piece = data.subspan(given, std::min(data.size() - given, kWriteSlice));
    given += piece.size();
    return piece;
  });
}

std::optional<std::uint64_t> RiffWriter::appendChunk(FOURCC id, std::uint32_t size, const Pieces& next) {
  if (syncFailed()) return std::nullopt;
  std::uint8_t head[8];
  putU32(head, id);
  putU32(head + 4, size);
  const std::span<const std::uint8_t> headPart[] = {head};
  std::uint64_t at = pos_ + 8;
  int err = writeAllAt(fd_, pos_, headPart);
  for (std::uint64_t left = size; err == 0 && left > 0;) {
    const std::span<const std::uint8_t> piece = next();
    if (piece.empty() || piece.size() > left) {
      err = EINVAL;  // the caller's pieces do not add up to the size it gave
      break;
    }
    const std::span<const std::uint8_t> part[] = {piece};
    err = writeAllAt(fd_, at, part);
    at += piece.size();
    left -= piece.size();
  }
  static const std::uint8_t pad[1] = {0};
  const std::span<const std::uint8_t> padPart[] = {std::span(pad, size & 1)};
  if (err == 0) err = writeAllAt(fd_, at, padPart);
  if (err != 0) {
    fail(err);
    return std::nullopt;
  }
  const std::uint64_t chunk = pos_;
  pos_ += 8 + std::uint64_t(size) + (size & 1);
  return chunk;
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
    fail(errno);
  }
}

bool RiffWriter::finish(std::uint64_t moviEnd, std::span<const Field> fields) {
  bool ok = true;
  // A RIFF closed already (a failed start of the next) keeps its sizes.
  if (riffOpen_) {
    ok = putSize(moviPos_, moviEnd) && ok;
    ok = putSize(riffPos_, pos_) && ok;
  }
  for (const Field& f : fields) ok = put(f.pos, f.bytes) && ok;
  if (::ftruncate(fd_, static_cast<off_t>(pos_)) != 0) {
    // A tail the sizes do not cover stays; readers skip it.
    fail(errno);
    ok = false;
  }
  return !syncFailed() && ok;
}

bool RiffWriter::put(std::uint64_t pos, std::span<const std::uint8_t> data) {
  const std::span<const std::uint8_t> parts[] = {data};
  const int err = writeAllAt(fd_, pos, parts);
  if (err == 0) return true;
  fail(err);
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
