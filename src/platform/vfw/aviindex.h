#pragma once
// The indexes of one stream of an AVI file: the 'idx1' of the first RIFF,
// an 'ix0N' standard index per RIFF once there are several, and the 'indx'
// super index in the header that points at them. They are kept in memory
// as the chunks come and turned into chunks for the writer to place. A
// file of two streams keeps one AviIndex per stream and lists both in the
// first one's idx1, in the order of the file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/vfw/avifile_internal.h"

namespace vfw::detail {

class AviIndex {
 public:
  // Stream `stream` of the file (0 the video): its standard indexes are
  // 'ix00', 'ix01', ...
  explicit AviIndex(int stream = 0) : stream_(stream) {}

  // Entries of one 'indx' chunk: the header's, reserved from the start
  // (4 KiB), and each chained one. A file of up to 256 RIFFs has all its
  // entries in the header. Past that, the header's last entry points at an
  // 'indx' chunk of its own in the movi list, which holds the next RIFFs'
  // entries, and whose last entry points at the next such chunk once it is
  // full, and so on: no count of RIFFs is too many.
  static constexpr std::uint32_t kSuperIndexEntries = 256;
  // Bytes of an 'indx' chunk's data.
  static constexpr std::uint32_t kIndxData = 24 + 16 * kSuperIndexEntries;

  // Until the first RIFF is closed there is no super index, and only the
  // frames of the first RIFF go into idx1.
  bool inFirstRiff() const { return superIndex_.empty(); }
  // Frames of the open RIFF not yet in a standard index.
  bool hasSegment() const { return !segment_.empty(); }

  // A chunk of `size` data bytes whose header is at `chunkPos`; the open
  // movi list's fourcc is at `moviFourcc`. `duration` is in the stream's
  // own units (one frame, or the sample frames a sound chunk holds).
  void add(FOURCC id, bool key, std::uint64_t chunkPos, std::uint64_t moviFourcc, std::uint32_t size,
           std::uint32_t duration = 1) {
    addToIdx1(id, key, chunkPos, moviFourcc, size);
    addToSegment(key, chunkPos, size, duration);
  }
  // The two halves of add: the entry in idx1 (while in the first RIFF),
  // which may be another stream's index, and the one in this stream's
  // standard index.
  void addToIdx1(FOURCC id, bool key, std::uint64_t chunkPos, std::uint64_t moviFourcc, std::uint32_t size);
  void addToSegment(bool key, std::uint64_t chunkPos, std::uint32_t size, std::uint32_t duration);

  // The 'idx1' chunk of the first RIFF's frames.
  Bytes idx1() const;
  // idx1 is on disk for good (or given up): its entries go.
  void dropIdx1();

  // The 'ix0N' chunk of the open RIFF's frames, offsets from `moviFourcc`.
  Bytes stdIndex(FOURCC chunkId, std::uint64_t moviFourcc) const;
  // That chunk went to `pos` and took `bytes`: the super index points at it
  // and the next RIFF's frames start a new segment.
  void stdIndexWritten(std::uint64_t pos, std::uint32_t bytes);

  // With RIFFs still to come: the last 'indx' chunk has no room for the
  // next RIFF's entry, so a chained one must follow the standard index just
  // written.
  bool needsChainedIndx() const;
  // The chained 'indx' chunk that takes the last entry on, to be appended.
  Bytes chainedIndx(FOURCC chunkId) const { return indxChunk(chunkId, chained_.size() + 1, true); }
  // That chunk went to `pos`.
  void chainedIndxWritten(std::uint64_t pos) { chained_.push_back(pos); }

  // The header's 'indx' chunk once the file has several RIFFs, a JUNK
  // reservation of the same size before.
  Bytes indx(FOURCC chunkId) const;
  // Where each chained 'indx' chunk is, and what it holds now.
  struct Chained {
    std::uint64_t pos;
    Bytes chunk;
  };
  std::vector<Chained> chainedIndexes(FOURCC chunkId) const;

 private:
  struct Idx1Entry {
    std::uint32_t id, flags, offset, size;
  };
  struct StdEntry {
    std::uint64_t dataPos;
    std::uint32_t size;
    std::uint32_t duration;
    bool key;
  };
  struct SuperEntry {
    std::uint64_t offset;
    std::uint32_t size, duration;
  };

  // 'indx' chunk `table` (0 the header's) of `tables`.
  Bytes indxChunk(FOURCC chunkId, std::size_t table, bool adding) const;

  int stream_;
  std::vector<Idx1Entry> idx1_;
  std::vector<StdEntry> segment_;
  std::vector<SuperEntry> superIndex_;  // one per standard index, in order
  std::vector<std::uint64_t> chained_;  // the chained 'indx' chunks' places
};

}  // namespace vfw::detail
