#pragma once
// The RIFF structure of an AVI file on disk: the 'AVI ' RIFF with the
// header, chunks appended to the open movi list, 'AVIX' RIFFs once a RIFF
// has grown past its limit, and sizes and header fields rewritten in place
// so that the file stays readable however it ends. What the header says
// and which indexes go where is the caller's.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/vfw/avifile_internal.h"

namespace vfw::detail {

// A write past RLIMIT_FSIZE must come back as EFBIG, not kill the process
// with SIGXFSZ: every file the library writes calls this first.
void ignoreFileSizeSignal();

// Opens `path` as a new, empty regular file for the writer; -1 if that
// cannot be had.
int createFile(const char* path);

// Puts what has been written on the disk about once a second, on a thread
// of its own so that no write waits for the disk (riffwriter.cpp).
class Syncer;

// The most one buffered write(2) hands the kernel (riffwriter.cpp says why).
constexpr std::size_t kWriteSlice = std::size_t(512) << 10;

// Where appended bytes wait for the file: an aligned buffer written out in
// whole blocks, past the page cache where asked and allowed (riffwriter.cpp).
class Stage;

class RiffWriter {
 public:
  // The header lists follow the RIFF's own 12 bytes.
  static constexpr std::uint64_t kListsPos = 12;

  // Part of the header that is rewritten in place as the file grows.
  struct Field {
    std::uint64_t pos;
    std::vector<std::uint8_t> bytes;
  };

  // Takes the file. The RIFF size limit and the interval between header
  // updates are read from the testing knobs now.
  explicit RiffWriter(int fd);
  ~RiffWriter();
  RiffWriter(const RiffWriter&) = delete;
  RiffWriter& operator=(const RiffWriter&) = delete;

  bool started() const { return started_; }
  // A write failed: nothing past the last whole chunk can be trusted.
  bool failed() const { return failed_; }
  // Why the first write, truncation or sync that failed did (0: none did).
  int lastErrno() const { return errno_; }
  std::uint64_t pos() const { return pos_; }  // end of the last whole chunk
  std::uint64_t moviFourcc() const { return moviPos_ + 8; }
  bool riffFull() const { return pos_ - riffPos_ > riffLimit_; }

  // Writes the start of the file: the 'AVI ' RIFF header, `lists` (which
  // belong at kListsPos), JUNK so that the first chunk starts on a
  // 2048-byte boundary, and the movi list header.
  bool start(std::span<const std::uint8_t> lists);
  // Appends a chunk (padded to even length) to the open movi list. Returns
  // where its header went.
  std::optional<std::uint64_t> appendChunk(FOURCC id, std::span<const std::uint8_t> data);
  // The same for data made on the way (rows turned over, alpha set): `fill`
  // writes the chunk's next bytes into the room it is given and returns how
  // many. It may stop short at a boundary of its own (a whole row), but
  // must take something when the room is larger than kMinFillRoom.
  using Fill = std::function<std::size_t(std::span<std::uint8_t> room)>;
  static constexpr std::size_t kMinFillRoom = std::size_t(1) << 20;
  std::optional<std::uint64_t> appendChunk(FOURCC id, std::uint32_t size, const Fill& fill);
  // Appends bytes that are already whole chunks (an index). Returns where
  // they went.
  std::optional<std::uint64_t> append(std::span<const std::uint8_t> chunks);
  // Whether appended bytes go past the page cache (O_DIRECT) just now.
  bool writesDirect() const;
  // Asks for that (or not) before start(); false once started. Where the
  // file system takes no direct writes, appends stay in the page cache.
  bool setDirectWrites(bool on);

  // Whether the header on disk is due for an update; restarts the clock
  // when it is.
  bool checkpointDue();
  // The open RIFF's and movi's sizes up to the last chunk, then `fields`.
  bool checkpoint(std::span<const Field> fields);
  // Ends the open movi list at the current end.
  bool closeMovi();
  // Ends the open RIFF at the current end, then rewrites `fields`.
  bool closeRiff(std::span<const Field> fields);
  // Starts the next RIFF, 'AVIX', with its movi list.
  bool openAvix();

  // After a failure: whatever a failed write left beyond the last whole
  // chunk goes.
  void dropPartialChunk();
  // The last update, whatever fails: the open RIFF ends at the current end
  // and its movi list at `moviEnd`, `fields` are rewritten and the file is
  // cut after the last chunk. False when any of that (or a sync) failed.
  bool finish(std::uint64_t moviEnd, std::span<const Field> fields);

 private:
  bool put(std::uint64_t pos, std::span<const std::uint8_t> data);
  // Appends at pos_ through the stage, the file holding every byte up to
  // the new end when it returns 0 (else the errno).
  int appendBytes(std::span<const std::uint8_t> data);
  // The size field of the RIFF or LIST header at `header`, up to `end`.
  bool putSize(std::uint64_t header, std::uint64_t end);
  bool putFields(std::span<const Field> fields);
  // A sync that failed since the last write fails the writer now.
  bool syncFailed();
  void fail(int err);

  int fd_;
  std::unique_ptr<Stage> stage_;
  std::shared_ptr<Syncer> syncer_;
  int errno_ = 0;
  const std::uint64_t riffLimit_;
  const std::chrono::steady_clock::duration checkpointEvery_;
  std::chrono::steady_clock::time_point lastCheckpoint_{};
  std::chrono::steady_clock::duration sinceLast_{};  // the wait before the next update
  bool started_ = false;
  bool failed_ = false;
  bool riffOpen_ = true;
  std::uint64_t pos_ = 0;
  std::uint64_t riffPos_ = 0;  // header of the open RIFF
  std::uint64_t moviPos_ = 0;  // 'LIST' header of the open movi
};

}  // namespace vfw::detail
