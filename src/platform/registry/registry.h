#pragma once
// The registry: keys below six predefined root keys holding named string
// and 32-bit integer values. Each root key is stored as one regedit-style
// text file ("Windows Registry Editor Version 5.00") in the per-user
// settings directory, for example HKEY_CURRENT_USER.reg, replaced
// atomically on every change. Key paths and value names match without
// regard to ASCII case, as on the original platform.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace registry {

using HKEY = std::uint32_t;
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr HKEY HKEY_USERS = 0x80000003u;
inline constexpr HKEY HKEY_PERFORMANCE_DATA = 0x80000004u;  // no file: performance data is not stored
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;
inline constexpr HKEY HKEY_DYN_DATA = 0x80000006u;

// What the accessor raises when a value cannot be read or written.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "HKEY_CURRENT_USER" and so on; nullptr for a handle that is no stored root.
const char* RootKeyName(HKEY root);

// The file that stores a root key; empty for a handle that is no stored root.
std::filesystem::path RootKeyFile(HKEY root);

// A key path as stored: backslash-separated, without empty parts, so
// "\Software\\Kestrel\" is "Software\Kestrel".
std::string NormalizePath(std::string_view path);

// The registry accessor: choose a root key, open a key, then read and write
// its values. Nothing is cached; each call reads or replaces the file.
class Registry {
 public:
  HKEY RootKey = HKEY_CURRENT_USER;

  // Opens the key at path below RootKey, creating it (on disk at once) when
  // canCreate is set. False when it does not exist and may not or could not
  // be created; no key is open then.
  bool OpenKey(std::string_view path, bool canCreate);
  void CloseKey();
  bool HasCurrentKey() const { return current_.has_value(); }

  bool KeyExists(std::string_view path) const;
  bool ValueExists(std::string_view name) const;

  // Raise Error ("Failed to set data for 'name'") when no key is open, the
  // value cannot be stored in the text format, or the file cannot be
  // replaced.
  void WriteString(std::string_view name, std::string_view value);
  void WriteInteger(std::string_view name, std::int32_t value);

  // ReadString gives "" for a missing value; both raise Error when no key is
  // open or the value has another type, and ReadInteger also when the value
  // is missing.
  std::string ReadString(std::string_view name) const;
  std::int32_t ReadInteger(std::string_view name) const;

 private:
  std::optional<std::string> current_;
};

}  // namespace registry
