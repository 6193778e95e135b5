#pragma once
// A deliberately small AVI 1.0 writer for the compressor tests: one video
// stream, frames kept in memory, written at close. The tests judge the
// encoders, not the file library, so this stays as plain as the format
// allows; ffprobe reads the result.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace codectest {

class MiniAvi {
 public:
  MiniAvi(std::span<const std::uint8_t> format, std::uint32_t handler, int fps);
  void add(std::span<const std::uint8_t> packet, bool key);
  bool write(const std::string& path) const;

 private:
  std::vector<std::uint8_t> format_;
  std::uint32_t handler_;
  int fps_;
  std::vector<std::vector<std::uint8_t>> packets_;
  std::vector<bool> keys_;
};

}  // namespace codectest
