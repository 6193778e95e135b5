// Fuzz target for the INI reader and editor.
//
// Built with clang and libFuzzer when configured with -DKESTREL_FUZZ=ON:
//   CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DKESTREL_FUZZ=ON
//   cmake --build build-fuzz --target ini_fuzz
//   mkdir -p /tmp/ini-corpus
//   build-fuzz/tests/fuzz/ini_fuzz -max_total_time=300 /tmp/ini-corpus tests/fuzz/corpus/ini_fuzz
// Every build also has ini_fuzz_replay, a CTest that feeds the same entry
// point its seeds and deterministic mutations of them.
//
// The input is a file's text, optionally followed by a 0xFF byte and
// "section\nkey\nvalue". Besides not crashing, editing must keep its
// promises: the value written is the value read back, and a key of another
// section reads the same before and after.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/profile/inifile.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

std::string_view field(std::string_view& rest) {
  const std::size_t nl = rest.find('\n');
  const std::string_view f = rest.substr(0, nl);
  rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\xFF');
  const std::string_view text = input.substr(0, split);
  std::string_view args = split == std::string_view::npos ? "setup\nstretch\n1" : input.substr(split + 1);
  const std::string_view section = field(args);
  const std::string_view key = field(args);
  const std::string_view value = args;

  namespace ini = profile::ini;
  const auto before = ini::Lookup(text, section, key);
  const auto otherBefore = ini::Lookup(text, "other-section", key);
  if (!ini::Storable(section, key, value)) return 0;
  // "other-section" is the section being written: nothing to compare.
  if (ini::NamesEqual(ini::Trim(section), "other-section")) return 0;

  bool changed = true;
  const std::string edited = ini::Assign(text, section, key, value, &changed);
  const auto after = ini::Lookup(edited, section, key);
  check(after.has_value());
  std::string_view expect = ini::Trim(value);
  if (expect.size() >= 2 && (expect.front() == '"' || expect.front() == '\'') && expect.back() == expect.front())
    expect = expect.substr(1, expect.size() - 2);
  check(*after == expect);
  if (!changed) check(edited == text && before == after);
  check(ini::Lookup(edited, "other-section", key) == otherBefore);
  return 0;
}
