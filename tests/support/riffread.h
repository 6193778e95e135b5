#pragma once
// A plain walk over an AVI file's chunks, for checking the bytes our writer
// put on disk (the values an independent reader cannot show, such as the
// raw header fields and index entries).
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace avitest {

struct Chunk {
  std::string path;  // e.g. "RIFF:AVI /LIST:hdrl/avih"
  std::string id;
  std::uint64_t pos = 0;   // chunk header
  std::uint32_t size = 0;  // data bytes
};

inline std::vector<std::uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::uint32_t u32(const std::vector<std::uint8_t>& b, std::uint64_t off) {
  std::uint32_t v = 0;
  if (off + 4 <= b.size()) std::memcpy(&v, b.data() + off, 4);
  return v;
}
inline std::uint16_t u16(const std::vector<std::uint8_t>& b, std::uint64_t off) {
  std::uint16_t v = 0;
  if (off + 2 <= b.size()) std::memcpy(&v, b.data() + off, 2);
  return v;
}
inline std::uint64_t u64(const std::vector<std::uint8_t>& b, std::uint64_t off) {
  return u32(b, off) | std::uint64_t(u32(b, off + 4)) << 32;
}

inline void walk(const std::vector<std::uint8_t>& b, std::uint64_t start, std::uint64_t end, const std::string& parent,
                 std::vector<Chunk>& out, bool skipFrames) {
  std::uint64_t pos = start;
  while (pos + 8 <= end) {
    const std::string id(reinterpret_cast<const char*>(b.data() + pos), 4);
    const std::uint32_t size = u32(b, pos + 4);
    if (id == "RIFF" || id == "LIST") {
      const std::string type(reinterpret_cast<const char*>(b.data() + pos + 8), 4);
      const std::string path = parent + "/" + id + ":" + type;
      out.push_back({path, id + ":" + type, pos, size});
      walk(b, pos + 12, std::min<std::uint64_t>(pos + 8 + size, end), path, out, skipFrames);
    } else if (!(skipFrames && id.size() == 4 && id[0] == '0' && id[1] == '0' && (id[2] == 'd'))) {
      out.push_back({parent + "/" + id, id, pos, size});
    }
    pos += 8 + std::uint64_t(size) + (size & 1);
  }
}

// Every chunk of the file in order (frame chunks left out when asked).
inline std::vector<Chunk> chunks(const std::vector<std::uint8_t>& b, bool skipFrames = true) {
  std::vector<Chunk> out;
  walk(b, 0, b.size(), "", out, skipFrames);
  return out;
}

inline const Chunk* find(const std::vector<Chunk>& cs, const std::string& id) {
  for (const auto& c : cs)
    if (c.id == id) return &c;
  return nullptr;
}

// The chunks must outlive the pointer.
const Chunk* find(std::vector<Chunk>&& cs, const std::string& id) = delete;

inline int count(const std::vector<Chunk>& cs, const std::string& id) {
  int n = 0;
  for (const auto& c : cs) n += c.id == id;
  return n;
}

// The key-frame flag of every frame chunk as the file's own indexes say it:
// idx1's AVIIF_KEYFRAME for the first RIFF's frames, and every 'ix00'
// entry's bit 31 clear, in file order.
struct IndexFlags {
  std::vector<bool> idx1;
  std::vector<bool> ix00;
};
inline IndexFlags indexFlags(const std::vector<std::uint8_t>& b) {
  IndexFlags f;
  for (const Chunk& c : chunks(b)) {
    if (c.id == "idx1") {
      for (std::uint32_t e = 0; e < c.size / 16; ++e) f.idx1.push_back((u32(b, c.pos + 8 + 16u * e + 4) & 0x10) != 0);
    } else if (c.id == "ix00") {
      const std::uint32_t n = u32(b, c.pos + 8 + 4);
      for (std::uint32_t e = 0; e < n; ++e) f.ix00.push_back((u32(b, c.pos + 8 + 24 + 8u * e + 4) & 0x80000000u) == 0);
    }
  }
  return f;
}

}  // namespace avitest
