#pragma once
// The indexes of an AVI file: the 'idx1' of the first RIFF, an 'ix00'
// standard index per RIFF once there are several, and the 'indx' super
// index in the header that points at them. They are kept in memory as the
// frames come and turned into chunks for the writer to place.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/vfw/avifile_internal.h"

namespace vfw::detail {

class AviIndex {
 public:
  // One super-index entry per RIFF: 256 RIFFs of 1 GiB are far beyond any
  // recording, and the reservation costs 4 KiB of header.
  static constexpr std::uint32_t kSuperIndexEntries = 256;
  // Bytes of the 'indx' chunk's data, reserved in the header from the start.
  static constexpr std::uint32_t kIndxData = 24 + 16 * kSuperIndexEntries;

  // Until the first RIFF is closed there is no super index, and only the
  // frames of the first RIFF go into idx1.
  bool inFirstRiff() const { return superIndex_.empty(); }
  // The super index cannot take the RIFF after the open one.
  bool full() const { return superIndex_.size() + 1 >= kSuperIndexEntries; }
  // Frames of the open RIFF not yet in a standard index.
  bool hasSegment() const { return !segment_.empty(); }

  // A chunk of `size` data bytes whose header is at `chunkPos`; the open
  // movi list's fourcc is at `moviFourcc`.
  void add(FOURCC id, bool key, std::uint64_t chunkPos, std::uint64_t moviFourcc, std::uint32_t size);

  // The 'idx1' chunk of the first RIFF's frames.
  Bytes idx1() const;
  // idx1 is on disk for good (or given up): its entries go.
  void dropIdx1();

  // The 'ix00' chunk of the open RIFF's frames, offsets from `moviFourcc`.
  Bytes stdIndex(FOURCC chunkId, std::uint64_t moviFourcc) const;
  // That chunk went to `pos` and took `bytes`: the super index points at it
  // and the next RIFF's frames start a new segment.
  void stdIndexWritten(std::uint64_t pos, std::uint32_t bytes);

  // The header's 'indx' chunk once the file has several RIFFs, a JUNK
  // reservation of the same size before.
  Bytes indx(FOURCC chunkId) const;

 private:
  struct Idx1Entry {
    std::uint32_t id, flags, offset, size;
  };
  struct StdEntry {
    std::uint64_t dataPos;
    std::uint32_t size;
    bool key;
  };
  struct SuperEntry {
    std::uint64_t offset;
    std::uint32_t size, duration;
  };

  std::vector<Idx1Entry> idx1_;
  std::vector<StdEntry> segment_;
  std::vector<SuperEntry> superIndex_;
};

}  // namespace vfw::detail
