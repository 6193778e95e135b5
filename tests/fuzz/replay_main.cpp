// Runs the INI fuzz target without libFuzzer: a set of seeds and a few
// thousand deterministic mutations of them, so every build exercises it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main() {
  const std::vector<std::string> seeds = {
      "",
      "[setup]\nstretch=1\n",
      "\xEF\xBB\xBF[Setup]\r\nStretch = 0\r\n\r\n[x]\r\na=b",
      "k=v\n[setup]\n;c\nstretch\n[setup]\nstretch=2\n",
      "[setup\nstretch=1\n]\n[]\n=\n==\n[ setup ]\n'q'=\"v\"\n",
      std::string("[setup]\nst\0retch=1\n", 20) + "\xFFsetup\nstretch\n  new value  ",
      "[a]\rb=c\r\r[setup]\rstretch=1\xFFSETUP\nSTRETCH\n\"quoted\"",
      "\xFF" "other-section\nk\nv",
      "[other-section]\nstretch=keep\n[setup]\nstretch=0\n\xFFsetup\nstretch\n1",
  };
  std::mt19937 rng(20261208);
  const std::string alphabet = std::string("[]=;\r\n \t\x1A\"'\xFF\xEF\xBB\xBF\0abkSs", 22);
  long runs = 0;
  for (const std::string& seed : seeds) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(seed.data()), seed.size());
    ++runs;
    for (int i = 0; i < 2000; ++i) {
      std::string s = seed;
      const int edits = 1 + static_cast<int>(rng() % 6);
      for (int e = 0; e < edits; ++e) {
        const std::size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
        const char c = (rng() % 2) ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng() & 0xFF);
        switch (rng() % 3) {
          case 0: s.insert(at, 1, c); break;
          case 1: if (at < s.size()) s.erase(at, 1); break;
          default: if (at < s.size()) s[at] = c; else s.push_back(c); break;
        }
      }
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
      ++runs;
    }
  }
  std::printf("%ld inputs, no failure\n", runs);
  return 0;
}
