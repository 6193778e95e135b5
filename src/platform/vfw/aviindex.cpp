#include "platform/vfw/aviindex.h"

namespace vfw::detail {

void AviIndex::add(FOURCC id, bool key, std::uint64_t chunkPos, std::uint64_t moviFourcc, std::uint32_t size) {
  if (inFirstRiff()) idx1_.push_back({id, key ? AVIIF_KEYFRAME : 0, std::uint32_t(chunkPos - moviFourcc), size});
  segment_.push_back({chunkPos + 8, size, key});
}

Bytes AviIndex::idx1() const {
  Bytes o;
  o.u32(tag("idx1"));
  o.u32(std::uint32_t(16 * idx1_.size()));
  for (const auto& e : idx1_) {
    o.u32(e.id);
    o.u32(e.flags);
    o.u32(e.offset);
    o.u32(e.size);
  }
  return o;
}

void AviIndex::dropIdx1() { std::vector<Idx1Entry>().swap(idx1_); }

Bytes AviIndex::stdIndex(FOURCC chunkId, std::uint64_t moviFourcc) const {
  Bytes o;
  o.u32(tag("ix00"));
  o.u32(std::uint32_t(24 + 8 * segment_.size()));
  o.u16(2);
  o.u8(0);
  o.u8(1);  // AVI_INDEX_OF_CHUNKS
  o.u32(std::uint32_t(segment_.size()));
  o.u32(chunkId);
  o.u64(moviFourcc);
  o.u32(0);
  for (const auto& e : segment_) {
    o.u32(std::uint32_t(e.dataPos - moviFourcc));
    o.u32(e.size | (e.key ? 0u : 0x80000000u));
  }
  return o;
}

void AviIndex::stdIndexWritten(std::uint64_t pos, std::uint32_t bytes) {
  superIndex_.push_back({pos, bytes, std::uint32_t(segment_.size())});
  segment_.clear();
}

Bytes AviIndex::indx(FOURCC chunkId) const {
  if (superIndex_.empty()) return junkChunk(kIndxData);
  Bytes o;
  o.u32(tag("indx"));
  o.u32(kIndxData);
  o.u16(4);
  o.u8(0);
  o.u8(0);  // AVI_INDEX_OF_INDEXES
  o.u32(std::uint32_t(superIndex_.size()));
  o.u32(chunkId);
  o.zeros(12);
  for (const auto& e : superIndex_) {
    o.u64(e.offset);
    o.u32(e.size);
    o.u32(e.duration);
  }
  o.zeros(16 * (kSuperIndexEntries - superIndex_.size()));
  return o;
}

}  // namespace vfw::detail
