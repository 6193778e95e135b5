#include "platform/vfw/aviindex.h"

#include <algorithm>

namespace vfw::detail {

void AviIndex::addToIdx1(FOURCC id, bool key, std::uint64_t chunkPos, std::uint64_t moviFourcc, std::uint32_t size) {
  if (inFirstRiff()) idx1_.push_back({id, key ? AVIIF_KEYFRAME : 0, std::uint32_t(chunkPos - moviFourcc), size});
}

void AviIndex::addToSegment(bool key, std::uint64_t chunkPos, std::uint32_t size, std::uint32_t duration) {
  segment_.push_back({chunkPos + 8, size, duration, key});
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
  o.u32(mmioFOURCC('i', 'x', char('0' + stream_ / 10), char('0' + stream_ % 10)));
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
  std::uint64_t duration = 0;
  for (const auto& e : segment_) duration += e.duration;
  superIndex_.push_back({pos, bytes, std::uint32_t(std::min<std::uint64_t>(duration, 0xffffffffu))});
  segment_.clear();
}

namespace {
// Standard-index entries an 'indx' chunk that points on to another holds.
constexpr std::size_t kDirect = AviIndex::kSuperIndexEntries - 1;
}  // namespace

bool AviIndex::needsChainedIndx() const {
  return superIndex_.size() - chained_.size() * kDirect == kSuperIndexEntries;
}

// Table t holds the entries from t x kDirect on: kDirect of them and a link
// to table t + 1 when there is one, else the rest. `adding` counts a table
// about to be written after the last one.
Bytes AviIndex::indxChunk(FOURCC chunkId, std::size_t table, bool adding) const {
  const std::size_t tables = chained_.size() + 1 + (adding ? 1 : 0);
  const std::size_t first = table * kDirect;
  const bool linked = table + 1 < tables;
  const std::size_t direct = linked ? kDirect : superIndex_.size() - first;
  Bytes o;
  o.u32(tag("indx"));
  o.u32(kIndxData);
  o.u16(4);
  o.u8(0);
  o.u8(0);  // AVI_INDEX_OF_INDEXES
  o.u32(std::uint32_t(direct + (linked ? 1 : 0)));
  o.u32(chunkId);
  o.zeros(12);
  for (std::size_t i = first; i < first + direct; ++i) {
    o.u64(superIndex_[i].offset);
    o.u32(superIndex_[i].size);
    o.u32(superIndex_[i].duration);
  }
  if (linked) {
    // The next table's place (for a table being added, where it will go:
    // right after the last standard index) and all the frames behind it.
    const std::uint64_t next =
        table + 1 < chained_.size() + 1 ? chained_[table] : superIndex_.back().offset + superIndex_.back().size;
    std::uint64_t frames = 0;
    for (std::size_t i = first + direct; i < superIndex_.size(); ++i) frames += superIndex_[i].duration;
    o.u64(next);
    o.u32(8 + kIndxData);
    o.u32(std::uint32_t(std::min<std::uint64_t>(frames, 0xffffffffu)));
  }
  o.zeros(16 * (kSuperIndexEntries - direct - (linked ? 1 : 0)));
  return o;
}

Bytes AviIndex::indx(FOURCC chunkId) const {
  if (superIndex_.empty()) return junkChunk(kIndxData);
  return indxChunk(chunkId, 0, false);
}

std::vector<AviIndex::Chained> AviIndex::chainedIndexes(FOURCC chunkId) const {
  std::vector<Chained> out;
  for (std::size_t t = 0; t < chained_.size(); ++t) out.push_back({chained_[t], indxChunk(chunkId, t + 1, false)});
  return out;
}

}  // namespace vfw::detail
