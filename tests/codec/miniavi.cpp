#include "miniavi.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace codectest {

namespace {

struct Buf {
  std::vector<std::uint8_t> b;
  void u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(v >> (8 * i)));
  }
  void u16(std::uint16_t v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
  }
  void tag(const char* t) { b.insert(b.end(), t, t + 4); }
  void bytes(std::span<const std::uint8_t> s) { b.insert(b.end(), s.begin(), s.end()); }
  void patch(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
  }
  std::size_t open(const char* list, const char* type) {
    tag(list);
    const std::size_t at = b.size();
    u32(0);
    if (type) tag(type);
    return at;
  }
  void close(std::size_t at) {
    patch(at, static_cast<std::uint32_t>(b.size() - at - 4));
    if (b.size() & 1) b.push_back(0);
  }
};

std::int32_t s32(const std::vector<std::uint8_t>& f, std::size_t off) {
  std::int32_t v;
  std::memcpy(&v, &f[off], 4);
  return v;
}

}  // namespace

MiniAvi::MiniAvi(std::span<const std::uint8_t> format, std::uint32_t handler, int fps)
    : format_(format.begin(), format.end()), handler_(handler), fps_(fps) {}

void MiniAvi::add(std::span<const std::uint8_t> packet, bool key) {
  packets_.emplace_back(packet.begin(), packet.end());
  keys_.push_back(key);
}

bool MiniAvi::write(const std::string& path) const {
  const std::int32_t width = s32(format_, 4);
  const std::int32_t height = std::abs(s32(format_, 8));
  std::uint32_t maxPacket = 0;
  for (const auto& p : packets_) maxPacket = std::max<std::uint32_t>(maxPacket, std::uint32_t(p.size()));
  const auto frames = static_cast<std::uint32_t>(packets_.size());

  Buf o;
  const std::size_t riff = o.open("RIFF", "AVI ");
  const std::size_t hdrl = o.open("LIST", "hdrl");
  o.tag("avih");
  o.u32(56);
  o.u32(1000000u / std::uint32_t(fps_));
  for (std::uint32_t v : {0u, 0u, 0x10u, frames, 0u, 1u, maxPacket, std::uint32_t(width), std::uint32_t(height), 0u,
                          0u, 0u, 0u})
    o.u32(v);
  const std::size_t strl = o.open("LIST", "strl");
  o.tag("strh");
  o.u32(56);
  o.tag("vids");
  o.u32(handler_);
  for (std::uint32_t v : {0u, 0u, 0u, 1u, std::uint32_t(fps_), 0u, frames, maxPacket, 0xFFFFFFFFu, 0u}) o.u32(v);
  o.u16(0);
  o.u16(0);
  o.u16(static_cast<std::uint16_t>(width));
  o.u16(static_cast<std::uint16_t>(height));
  const std::size_t strf = o.open("strf", nullptr);
  o.bytes(format_);
  o.close(strf);
  o.close(strl);
  o.close(hdrl);
  const std::size_t movi = o.open("LIST", "movi");
  std::vector<std::uint32_t> offsets;
  for (const auto& p : packets_) {
    offsets.push_back(static_cast<std::uint32_t>(o.b.size() - movi - 4));
    const std::size_t ck = o.open("00dc", nullptr);
    o.bytes(p);
    o.close(ck);
  }
  o.close(movi);
  const std::size_t idx = o.open("idx1", nullptr);
  for (std::size_t i = 0; i < packets_.size(); ++i) {
    o.tag("00dc");
    o.u32(keys_[i] ? 0x10u : 0u);
    o.u32(offsets[i]);
    o.u32(static_cast<std::uint32_t>(packets_[i].size()));
  }
  o.close(idx);
  o.close(riff);
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(o.b.data()), static_cast<std::streamsize>(o.b.size()));
  return bool(f);
}

}  // namespace codectest
