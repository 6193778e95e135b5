#pragma once
// The regedit text file of one root key, parsed into keys and values.
// Lines that are not understood are kept as they are and written back.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace registry::hive {

struct Entry {
  enum class Kind { String, Dword, Raw } kind = Kind::Raw;
  std::string name;     // value name ("" for the default value "@")
  std::string text;     // String: the value; Raw: the line as it was
  std::uint32_t dword = 0;
};

struct Key {
  std::string path;  // normalized, below the root
  std::vector<Entry> entries;
};

struct Hive {
  std::vector<std::string> preamble;  // lines before the first key, minus the header
  std::vector<Key> keys;

  Key* find(std::string_view path);
  const Key* find(std::string_view path) const;
  // A key exists when it has its own header or a key below it has one.
  bool exists(std::string_view path) const;
  Key& create(std::string_view path);
};

Hive Parse(std::string_view text);
std::string Serialize(const Hive& hive, std::string_view rootName);

const Entry* FindValue(const Key& key, std::string_view name);
void SetValue(Key& key, Entry value);

}  // namespace registry::hive
