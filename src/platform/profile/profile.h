#pragma once
// The private-profile functions: named string values in INI files.
//
// A bare file name such as "kestrel.ini" lives in the per-user settings
// directory, $XDG_CONFIG_HOME/kestrel (by default ~/.config/kestrel), which
// the first write creates (without a usable HOME there is none: bare names
// read as missing and writes fail); a name with a directory part is used as given.
// Strings are UTF-8. Section and key names match without regard to ASCII
// case; blanks around names and values are ignored.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace profile {

using DWORD = std::uint32_t;
using BOOL = int;

// Copies the value of key in section of file into buffer (at most size - 1
// bytes and a terminating NUL, never splitting a UTF-8 character) and
// returns the number of bytes copied. The default (trailing spaces removed;
// nullptr means "") is copied when the file, the section or the key is
// missing or cannot be understood. buffer nullptr or size 0 returns 0. The
// list forms (section or key nullptr) are not supported and give the default.
DWORD GetPrivateProfileString(const char* section, const char* key, const char* def, char* buffer, DWORD size,
                              const char* file);

// Sets key in section of file to value, keeping every other line, and
// returns nonzero on success. The file is replaced atomically, so a failure
// (read-only file or directory, full disk, a file that cannot be read back)
// returns 0 and leaves the old file exactly as it was. Names or values that
// would break the file's structure (line breaks, a ']' in a section name, a
// '=' in a key name) are refused with 0. Deleting (key or value nullptr) is
// not supported and returns 0.
BOOL WritePrivateProfileString(const char* section, const char* key, const char* value, const char* file);

// Why there is no settings directory, for the user ("HOME is not set",
// "HOME (/x) is not a folder"); empty when there is one. An absolute
// XDG_CONFIG_HOME is enough; otherwise HOME must name an existing folder.
std::string ConfigDirectoryProblem();

// $XDG_CONFIG_HOME/kestrel, or $HOME/.config/kestrel; empty when
// ConfigDirectoryProblem() says there is none. No shared folder such as
// /tmp is ever used instead.
std::filesystem::path ConfigDirectory();

// Where a settings file name points: a bare name into ConfigDirectory()
// (empty when there is none, so nothing is read or written), anything else
// as given.
std::filesystem::path ResolveFileName(std::string_view name);

// Creates ConfigDirectory() (and its parents) when missing; true when it
// exists afterwards.
bool EnsureConfigDirectory();

}  // namespace profile
