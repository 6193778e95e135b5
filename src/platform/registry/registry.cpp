#include "platform/registry/registry.h"

#include "platform/profile/atomicfile.h"
#include "platform/profile/profile.h"
#include "platform/registry/hive.h"

namespace registry {
namespace fs = std::filesystem;

namespace {

Error failedToSet(std::string_view name) { return Error("Failed to set data for '" + std::string(name) + "'"); }
Error invalidType(std::string_view name) { return Error("Invalid data type for '" + std::string(name) + "'"); }

struct Loaded {
  bool ok = false;
  hive::Hive hive;
};

Loaded load(HKEY root) {
  Loaded l;
  const fs::path file = RootKeyFile(root);
  if (file.empty()) return l;
  const profile::FileContents c = profile::ReadWholeFile(file);
  if (c.status == profile::ReadStatus::Unreadable) return l;
  l.ok = true;
  if (c.status == profile::ReadStatus::Ok) l.hive = hive::Parse(c.bytes);
  return l;
}

bool save(HKEY root, const hive::Hive& h) {
  const char* name = RootKeyName(root);
  if (!name || !profile::EnsureConfigDirectory()) return false;
  return profile::ReplaceFile(RootKeyFile(root), hive::Serialize(h, name));
}

bool storable(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos; }

}  // namespace

const char* RootKeyName(HKEY root) {
  switch (root) {
    case HKEY_CLASSES_ROOT: return "HKEY_CLASSES_ROOT";
    case HKEY_CURRENT_USER: return "HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE: return "HKEY_LOCAL_MACHINE";
    case HKEY_USERS: return "HKEY_USERS";
    case HKEY_CURRENT_CONFIG: return "HKEY_CURRENT_CONFIG";
    case HKEY_DYN_DATA: return "HKEY_DYN_DATA";
    default: return nullptr;
  }
}

fs::path RootKeyFile(HKEY root) {
  const char* name = RootKeyName(root);
  if (!name) return {};
  return profile::ConfigDirectory() / (std::string(name) + ".reg");
}

std::string NormalizePath(std::string_view path) {
  std::string out;
  std::size_t pos = 0;
  while (pos <= path.size()) {
    std::size_t e = path.find('\\', pos);
    if (e == std::string_view::npos) e = path.size();
    const std::string_view part = path.substr(pos, e - pos);
    if (!part.empty()) {
      if (!out.empty()) out.push_back('\\');
      out.append(part);
    }
    pos = e + 1;
  }
  return out;
}

bool Registry::OpenKey(std::string_view path, bool canCreate) {
  current_.reset();
  const std::string p = NormalizePath(path);
  Loaded l = load(RootKey);
  if (!l.ok) return false;
  if (!l.hive.exists(p)) {
    if (!canCreate || !storable(p)) return false;
    l.hive.create(p);
    if (!save(RootKey, l.hive)) return false;
  }
  current_ = p;
  return true;
}

void Registry::CloseKey() { current_.reset(); }

bool Registry::KeyExists(std::string_view path) const {
  const Loaded l = load(RootKey);
  return l.ok && l.hive.exists(NormalizePath(path));
}

bool Registry::ValueExists(std::string_view name) const {
  if (!current_) return false;
  const Loaded l = load(RootKey);
  const hive::Key* k = l.ok ? l.hive.find(*current_) : nullptr;
  return k && hive::FindValue(*k, name);
}

void Registry::WriteString(std::string_view name, std::string_view value) {
  if (!current_ || !storable(name) || !storable(value)) throw failedToSet(name);
  Loaded l = load(RootKey);
  if (!l.ok) throw failedToSet(name);
  // The key was opened; should the file have lost it since, it comes back.
  hive::SetValue(l.hive.create(*current_), hive::Entry{hive::Entry::Kind::String, std::string(name), std::string(value), 0});
  if (!save(RootKey, l.hive)) throw failedToSet(name);
}

void Registry::WriteInteger(std::string_view name, std::int32_t value) {
  if (!current_ || !storable(name)) throw failedToSet(name);
  Loaded l = load(RootKey);
  if (!l.ok) throw failedToSet(name);
  hive::SetValue(l.hive.create(*current_),
                 hive::Entry{hive::Entry::Kind::Dword, std::string(name), {}, static_cast<std::uint32_t>(value)});
  if (!save(RootKey, l.hive)) throw failedToSet(name);
}

std::string Registry::ReadString(std::string_view name) const {
  if (!current_) throw invalidType(name);
  const Loaded l = load(RootKey);
  const hive::Key* k = l.ok ? l.hive.find(*current_) : nullptr;
  const hive::Entry* e = k ? hive::FindValue(*k, name) : nullptr;
  if (!e) return {};
  if (e->kind != hive::Entry::Kind::String) throw invalidType(name);
  return e->text;
}

std::int32_t Registry::ReadInteger(std::string_view name) const {
  if (!current_) throw invalidType(name);
  const Loaded l = load(RootKey);
  const hive::Key* k = l.ok ? l.hive.find(*current_) : nullptr;
  const hive::Entry* e = k ? hive::FindValue(*k, name) : nullptr;
  if (!e) throw Error("Unable to read data for '" + std::string(name) + "'");
  if (e->kind != hive::Entry::Kind::Dword) throw invalidType(name);
  return static_cast<std::int32_t>(e->dword);
}

}  // namespace registry
