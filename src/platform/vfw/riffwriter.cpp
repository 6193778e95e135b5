#include "platform/vfw/riffwriter.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/statfs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
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
// and the time varies far less. (Appended data of a file written direct
// only takes this way where the file system refuses that; see Stage.)
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

// Appended bytes gather in an aligned buffer and reach the file through
// the page cache, or, where the caller asks (setDirectWrites), in whole
// blocks through a second descriptor of it opened with O_DIRECT. A live
// recording is written once, at a rate the disk keeps up with, and not
// read back while it grows, so the page cache only costs there: for 8 MB
// frames (1080p, uncompressed) the copy into it and its writeback took
// about 3 ms of system time per frame even with synced pages dropped, a
// direct write from this buffer 0.12 ms (4 MiB writes from huge pages; 0.8
// ms from 4 KiB pages in 1 MiB writes). A build from files is better off without: it finishes at the speed of
// memory and the kernel writes behind it, where direct writes would make
// it wait for the disk.
//
// At the end of every append the last, partial block goes out too, padded
// with zeros past the end: the file holds every byte appended when the call
// returns, as with plain writes, and the next append writes that block
// again with more in it. The zeros are cut off at the end (finish()) and
// lie beyond every size on disk meanwhile. Where the file system takes no
// direct writes (EINVAL), or a padded block fails where the exact bytes
// might not (a file size limit, a full disk), the same bytes go through the
// page cache, so what fails, and where, is what plain writes would give.
class Stage {
 public:
  static constexpr std::size_t kCapacity = std::size_t(4) << 20;
  static constexpr std::size_t kBlock = 4096;
  static constexpr std::size_t kAlign = std::size_t(2) << 20;  // a huge page

  explicit Stage(int fd) : fd_(fd), buf_(static_cast<std::uint8_t*>(::operator new(kCapacity, std::align_val_t(kAlign)))) {
    ::madvise(buf_, kCapacity, MADV_HUGEPAGE);
  }
  ~Stage() {
    if (direct_ >= 0) ::close(direct_);
    ::operator delete(buf_, std::align_val_t(kAlign));
  }
  Stage(const Stage&) = delete;
  Stage& operator=(const Stage&) = delete;

  bool direct() const { return direct_ >= 0; }
  // Before anything is staged: whether appends go past the page cache.
  void useDirect(bool on) {
    if (on && direct_ < 0) direct_ = openDirect(fd_);
    if (!on) dropDirect();
  }
  std::uint64_t end() const { return pos_ + size_; }
  std::span<std::uint8_t> room() { return {buf_ + size_, kCapacity - size_}; }
  void added(std::size_t n) { size_ += n; }

  // Appending goes on at `at`; `before` are the file's bytes that end there
  // (the part of the last block that a direct write must repeat).
  void restart(std::uint64_t at, std::span<const std::uint8_t> before) {
    std::size_t keep = direct() ? std::size_t(at % kBlock) : 0;
    if (keep > before.size()) {  // nothing to repeat that block with
      dropDirect();
      keep = 0;
    }
    pos_ = at - keep;
    size_ = keep;
    std::memcpy(buf_, before.data() + before.size() - keep, keep);
  }
  // After a failure: nothing staged is trusted, and the little still
  // written (the index) goes through the page cache.
  void reset(std::uint64_t at) {
    dropDirect();
    pos_ = at;
    size_ = 0;
  }

  // Staged bytes rewritten in place (sizes in a header just appended).
  void patch(std::uint64_t pos, std::span<const std::uint8_t> data) {
    const std::uint64_t from = std::max(pos, pos_), to = std::min(pos + data.size(), end());
    if (from < to) std::memcpy(buf_ + (from - pos_), data.data() + (from - pos), std::size_t(to - from));
  }

  // Writes the whole blocks staged; at the end of an append everything,
  // the partial block padded. 0 or the errno.
  int flush(bool appendEnd) {
    if (size_ == 0) return 0;
    if (!direct()) {
      const std::span<const std::uint8_t> part[] = {{buf_, size_}};
      if (const int err = writeAllAt(fd_, pos_, part); err != 0) return err;
      pos_ += size_;
      size_ = 0;
      return 0;
    }
    const std::size_t whole = size_ / kBlock * kBlock;
    const std::size_t len = appendEnd ? (size_ + kBlock - 1) / kBlock * kBlock : whole;
    if (len > 0) {
      if (len > size_) std::memset(buf_ + size_, 0, len - size_);
      const int err = writeDirect(len);
      if (err == EINVAL) {  // alignment or file system: no direct writes here after all
        dropDirect();
        return flush(appendEnd);
      }
      if (err != 0) {
        const std::span<const std::uint8_t> part[] = {{buf_, size_}};
        if (const int plain = writeAllAt(fd_, pos_, part); plain != 0) return plain;
      }
    }
    const std::size_t keep = size_ - whole;
    std::memmove(buf_, buf_ + whole, keep);
    pos_ += whole;
    size_ = keep;
    return 0;
  }

 private:
  // The same file again with O_DIRECT, or -1. Only for a descriptor open
  // for writing: reopening through /proc must not grant what it lacks. Not
  // on tmpfs, whose pages are the file: there a direct write only drops
  // and remakes them (the builder's 1080p frames went from 260 to 140 a
  // second).
  static int openDirect(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) return -1;
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0 || fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC) return -1;
    char path[40];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    const int d = ::open(path, O_WRONLY | O_DIRECT | O_CLOEXEC);
    if (d < 0) return -1;
    struct stat a {}, b {};
    if (::fstat(fd, &a) != 0 || ::fstat(d, &b) != 0 || a.st_dev != b.st_dev || a.st_ino != b.st_ino) {
      ::close(d);
      return -1;
    }
    return d;
  }

  void dropDirect() {
    if (direct_ >= 0) ::close(direct_);
    direct_ = -1;
  }

  int writeDirect(std::size_t len) {
    for (std::size_t done = 0; done < len;) {
      const ssize_t n = ::pwrite(direct_, buf_ + done, len - done, static_cast<off_t>(pos_ + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno ? errno : EIO;
      }
      if (n == 0) return ENOSPC;
      done += std::size_t(n);
    }
    return 0;
  }

  const int fd_;
  std::uint8_t* const buf_;
  int direct_ = -1;
  std::uint64_t pos_ = 0;  // the file offset of buf_[0], a block boundary when writing direct
  std::size_t size_ = 0;
};

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
    pthread_setname_np(pthread_self(), "disk sync");
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
    : fd_(fd), stage_(std::make_unique<Stage>(fd)), riffLimit_(g_riffLimit), checkpointEvery_(std::chrono::milliseconds(int(g_checkpointMs))) {
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
  stage_->reset(pos_);
}

bool RiffWriter::writesDirect() const { return stage_->direct(); }

bool RiffWriter::setDirectWrites(bool on) {
  if (started_) return false;
  stage_->useDirect(on);
  return true;
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
  stage_->restart(pos_, o.b);
  lastCheckpoint_ = std::chrono::steady_clock::now();
  sinceLast_ = {};
  return true;
}

std::optional<std::uint64_t> RiffWriter::appendChunk(FOURCC id, std::span<const std::uint8_t> data) {
  std::size_t given = 0;
  return appendChunk(id, std::uint32_t(data.size()), [&](std::span<std::uint8_t> room) {
    const std::size_t n = std::min(room.size(), data.size() - given);
    std::memcpy(room.data(), data.data() + given, n);
    given += n;
    return n;
  });
}

namespace {

// Copies `data` into the stage, writing it out whenever it is full.
int stageBytes(Stage& stage, std::span<const std::uint8_t> data) {
  while (!data.empty()) {
    std::span<std::uint8_t> room = stage.room();
    if (room.empty()) {
      if (const int err = stage.flush(false); err != 0) return err;
      continue;
    }
    const std::size_t n = std::min(room.size(), data.size());
    std::memcpy(room.data(), data.data(), n);
    stage.added(n);
    data = data.subspan(n);
  }
  return 0;
}

}  // namespace

std::optional<std::uint64_t> RiffWriter::appendChunk(FOURCC id, std::uint32_t size, const Fill& fill) {
  if (syncFailed()) return std::nullopt;
  std::uint8_t head[8];
  putU32(head, id);
  putU32(head + 4, size);
  int err = stageBytes(*stage_, head);
  for (std::uint64_t left = size; err == 0 && left > 0;) {
    std::span<std::uint8_t> room = stage_->room();
    const bool roomy = room.size() >= kMinFillRoom;
    if (room.size() > left) room = room.first(std::size_t(left));
    const std::size_t n = room.empty() ? 0 : fill(room);
    if (n > room.size() || (n == 0 && (roomy || room.size() == left))) {
      err = EINVAL;  // the caller's bytes do not add up to the size it gave
      break;
    }
    if (n == 0) {
      err = stage_->flush(false);  // room for the caller's next piece
      continue;
    }
    stage_->added(n);
    left -= n;
  }
  static const std::uint8_t pad[1] = {0};
  if (err == 0) err = stageBytes(*stage_, std::span(pad, size & 1));
  if (err == 0) err = stage_->flush(true);
  if (err != 0) {
    fail(err);
    return std::nullopt;
  }
  const std::uint64_t chunk = pos_;
  pos_ += 8 + std::uint64_t(size) + (size & 1);
  return chunk;
}

int RiffWriter::appendBytes(std::span<const std::uint8_t> data) {
  int err = stageBytes(*stage_, data);
  if (err == 0) err = stage_->flush(true);
  return err;
}

std::optional<std::uint64_t> RiffWriter::append(std::span<const std::uint8_t> chunks) {
  if (const int err = appendBytes(chunks); err != 0) {
    fail(err);
    return std::nullopt;
  }
  const std::uint64_t at = pos_;
  pos_ += chunks.size();
  return at;
}

// The first chunk brings the header up to date at once, and the waits
// grow from an eighth of the interval to the whole one: a file killed in
// its first second (a build writes hundreds of frames there) counts about
// what a longer one does, the frames of up to a second before.
bool RiffWriter::checkpointDue() {
  const auto now = std::chrono::steady_clock::now();
  if (now - lastCheckpoint_ < sinceLast_) return false;
  lastCheckpoint_ = now;
  sinceLast_ = sinceLast_ == std::chrono::steady_clock::duration{} ? checkpointEvery_ / 8
                                                                  : std::min(checkpointEvery_, sinceLast_ * 2);
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
  if (const int err = appendBytes(o.b); err != 0) {
    fail(err);
    return false;
  }
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
  // The block a direct write will repeat must repeat this too.
  stage_->patch(pos, data);
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
