#include "platform/profile/profile.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#include "platform/profile/atomicfile.h"
#include "platform/profile/inifile.h"

namespace profile {
namespace fs = std::filesystem;

namespace {

std::string_view orEmpty(const char* s) { return s ? std::string_view(s) : std::string_view(); }

// The longest prefix of s of at most max bytes that does not end inside a
// UTF-8 sequence.
std::size_t utf8Prefix(std::string_view s, std::size_t max) {
  if (s.size() <= max) return s.size();
  auto continuation = [&](std::size_t i) { return (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80; };
  // s[max] is the first byte left out; if it continues a character, leave
  // out that whole character.
  std::size_t k = max;
  for (int back = 0; k > 0 && back < 3 && continuation(k); ++back) --k;
  return continuation(k) ? max : k;  // not UTF-8 at all: cut bytes
}

DWORD copyOut(std::string_view value, char* buffer, DWORD size) {
  const std::size_t n = utf8Prefix(value, size - 1);
  if (n > 0) std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return static_cast<DWORD>(n);
}

}  // namespace

std::string ConfigDirectoryProblem() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  // The XDG base directory rules ignore a relative value.
  if (xdg && xdg[0] == '/') return {};
  const char* home = std::getenv("HOME");
  // Without a home of its own the only place left would be a shared folder
  // such as /tmp, where anyone could read the settings or plant their own.
  if (!home) return "HOME is not set";
  if (!home[0]) return "HOME is empty";
  if (home[0] != '/') return "HOME (" + std::string(home) + ") is not an absolute path";
  std::error_code ec;
  if (!fs::is_directory(home, ec)) return "HOME (" + std::string(home) + ") is not a folder";
  return {};
}

fs::path ConfigDirectory() {
  if (!ConfigDirectoryProblem().empty()) return {};
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return fs::path(xdg) / "kestrel";
  return fs::path(std::getenv("HOME")) / ".config" / "kestrel";
}

fs::path ResolveFileName(std::string_view name) {
  if (name.find('/') == std::string_view::npos) {
    const fs::path dir = ConfigDirectory();
    // No settings folder: the name points nowhere, never at the current folder.
    return dir.empty() ? fs::path() : dir / fs::path(name);
  }
  return fs::path(name);
}

bool EnsureConfigDirectory() {
  const fs::path dir = ConfigDirectory();
  if (dir.empty()) return false;
  std::error_code ec;
  if (fs::is_directory(dir, ec)) return true;
  fs::create_directories(dir, ec);
  if (ec) return false;
  // Settings are the user's own business.
  fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace, ec);
  return fs::is_directory(dir, ec);
}

DWORD GetPrivateProfileString(const char* section, const char* key, const char* def, char* buffer, DWORD size,
                              const char* file) {
  if (!buffer || size == 0) return 0;
  std::string_view fallback = orEmpty(def);
  while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);
  if (!section || !key || !file || !*file) return copyOut(fallback, buffer, size);

  const FileContents contents = ReadWholeFile(ResolveFileName(file));
  if (contents.status != ReadStatus::Ok) return copyOut(fallback, buffer, size);
  const std::optional<std::string> value = ini::Lookup(contents.bytes, section, key);
  return copyOut(value ? std::string_view(*value) : fallback, buffer, size);
}

BOOL WritePrivateProfileString(const char* section, const char* key, const char* value, const char* file) {
  if (!section || !key || !value || !file || !*file) return 0;
  if (!ini::Storable(section, key, value)) return 0;
  const std::string_view name(file);
  if (name.find('/') == std::string_view::npos && !EnsureConfigDirectory()) return 0;
  const fs::path path = ResolveFileName(name);

  const FileContents contents = ReadWholeFile(path);
  // A file we cannot read is not rewritten: its contents would be lost.
  if (contents.status == ReadStatus::Unreadable) return 0;
  bool changed = true;
  const std::string text = ini::Assign(contents.bytes, section, key, value, &changed);
  if (!changed) return MayReplace(path) ? 1 : 0;
  return ReplaceFile(path, text) ? 1 : 0;
}

}  // namespace profile
