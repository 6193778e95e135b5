#include "platform/registry/hive.h"

#include <cstddef>
#include <unordered_map>

#include "platform/registry/registry.h"

#include "platform/profile/inifile.h"

namespace registry::hive {

namespace {

using profile::ini::NamesEqual;
using profile::ini::Trim;

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

// Reads a quoted string with \\ and \" escapes starting at s[0] == '"';
// returns the unescaped text and moves s past the closing quote.
std::optional<std::string> readQuoted(std::string_view& s) {
  if (s.empty() || s.front() != '"') return std::nullopt;
  std::string out;
  for (std::size_t i = 1; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '\\') {
      if (i + 1 >= s.size()) return std::nullopt;
      out.push_back(s[++i]);
    } else if (c == '"') {
      s.remove_prefix(i + 1);
      return out;
    } else {
      out.push_back(c);
    }
  }
  return std::nullopt;
}

std::string quote(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::optional<std::uint32_t> readDword(std::string_view s) {
  constexpr std::string_view kPrefix = "dword:";
  if (s.size() <= kPrefix.size() || s.size() > kPrefix.size() + 8) return std::nullopt;
  if (!NamesEqual(s.substr(0, kPrefix.size()), kPrefix)) return std::nullopt;
  std::uint32_t v = 0;
  for (char c : s.substr(kPrefix.size())) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return std::nullopt;
    v = v * 16 + static_cast<std::uint32_t>(d);
  }
  return v;
}

// One value line: "name"="text", "name"=dword:0000002a, or @= for the
// default value. Anything else is kept raw.
Entry parseValue(std::string_view line) {
  Entry raw;
  raw.text = std::string(line);
  std::string_view s = Trim(line);
  std::string name;
  if (!s.empty() && s.front() == '@') {
    s.remove_prefix(1);
  } else {
    auto n = readQuoted(s);
    if (!n) return raw;
    name = std::move(*n);
  }
  s = Trim(s);
  if (s.empty() || s.front() != '=') return raw;
  s = Trim(s.substr(1));
  Entry e;
  e.name = std::move(name);
  if (!s.empty() && s.front() == '"') {
    auto v = readQuoted(s);
    if (!v || !Trim(s).empty()) return raw;
    e.kind = Entry::Kind::String;
    e.text = std::move(*v);
    return e;
  }
  if (auto d = readDword(s)) {
    e.kind = Entry::Kind::Dword;
    e.dword = *d;
    return e;
  }
  return raw;
}

std::string hex8(std::uint32_t v) {
  static const char* digits = "0123456789abcdef";
  std::string s(8, '0');
  for (int i = 7; i >= 0; --i, v >>= 4) s[static_cast<std::size_t>(i)] = digits[v & 15];
  return s;
}

}  // namespace

Key* Hive::find(std::string_view path) {
  for (Key& k : keys)
    if (NamesEqual(k.path, path)) return &k;
  return nullptr;
}

const Key* Hive::find(std::string_view path) const {
  for (const Key& k : keys)
    if (NamesEqual(k.path, path)) return &k;
  return nullptr;
}

bool Hive::exists(std::string_view path) const {
  if (path.empty()) return true;  // the root key itself
  for (const Key& k : keys) {
    if (NamesEqual(k.path, path)) return true;
    if (k.path.size() > path.size() && k.path[path.size()] == '\\' && NamesEqual(k.path.substr(0, path.size()), path))
      return true;
  }
  return false;
}

Key& Hive::create(std::string_view path) {
  if (Key* k = find(path)) return *k;
  keys.push_back(Key{std::string(path), {}});
  return keys.back();
}

Hive Parse(std::string_view text) {
  Hive h;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  // Index of the key being read; an index survives the vector growing.
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t current = kNone;
  std::unordered_map<std::string, std::size_t> byPath;  // lower-case path -> index
  bool headerSeen = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t e = text.find_first_of("\r\n", pos);
    if (e == std::string_view::npos) e = text.size();
    const std::string_view line = text.substr(pos, e - pos);
    pos = (e < text.size() && text[e] == '\r' && e + 1 < text.size() && text[e + 1] == '\n') ? e + 2 : e + 1;

    const std::string_view t = Trim(line);
    if (t.empty()) continue;
    if (!headerSeen && current == kNone && (t == kHeader || t == "REGEDIT4")) {
      headerSeen = true;
      continue;
    }
    if (t.front() == '[' && t.back() == ']' && line.find('\0') == std::string_view::npos) {
      // [ROOT\path]: the root's name is implied by the file.
      std::string_view inner = t.substr(1, t.size() - 2);
      const std::size_t slash = inner.find('\\');
      inner = slash == std::string_view::npos ? std::string_view() : inner.substr(slash + 1);
      const std::string path = NormalizePath(inner);
      std::string lower = path;
      for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
      auto [it, added] = byPath.emplace(lower, h.keys.size());
      if (added) h.keys.push_back(Key{path, {}});
      current = it->second;
      continue;
    }
    if (current == kNone) {
      h.preamble.emplace_back(line);
      continue;
    }
    h.keys[current].entries.push_back(line.find('\0') == std::string_view::npos ? parseValue(line)
                                                                         : Entry{Entry::Kind::Raw, {}, std::string(line), 0});
  }
  return h;
}

std::string Serialize(const Hive& h, std::string_view rootName) {
  std::string out(kHeader);
  out += "\n\n";
  for (const std::string& l : h.preamble) out.append(l).append("\n");
  if (!h.preamble.empty()) out += "\n";
  for (const Key& k : h.keys) {
    out.append("[").append(rootName);
    if (!k.path.empty()) out.append("\\").append(k.path);
    out.append("]\n");
    for (const Entry& e : k.entries) {
      if (e.kind == Entry::Kind::Raw) {
        out.append(e.text).append("\n");
        continue;
      }
      out.append(e.name.empty() ? std::string("@") : quote(e.name)).append("=");
      if (e.kind == Entry::Kind::String)
        out.append(quote(e.text));
      else
        out.append("dword:").append(hex8(e.dword));
      out.append("\n");
    }
    out.append("\n");
  }
  return out;
}

const Entry* FindValue(const Key& key, std::string_view name) {
  for (const Entry& e : key.entries)
    if (e.kind != Entry::Kind::Raw && NamesEqual(e.name, name)) return &e;
  return nullptr;
}

void SetValue(Key& key, Entry value) {
  for (Entry& e : key.entries) {
    if (e.kind != Entry::Kind::Raw && NamesEqual(e.name, value.name)) {
      value.name = e.name;  // the stored spelling stays
      e = std::move(value);
      return;
    }
  }
  key.entries.push_back(std::move(value));
}

}  // namespace registry::hive
