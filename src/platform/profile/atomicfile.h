#pragma once
// Whole-file reads and crash-safe replacement of small settings files.
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace profile {

// Settings files are small. A file larger than this is not ours to parse
// (and rewriting it could lose data), so it reads as unreadable.
inline constexpr std::size_t kMaxSettingsFileSize = 64u << 20;

enum class ReadStatus { Ok, Missing, Unreadable };

struct FileContents {
  ReadStatus status = ReadStatus::Missing;
  std::string bytes;
};

// Reads a whole regular file. A missing file is Missing; a directory, a
// device, a file over kMaxSettingsFileSize or a read error is Unreadable.
FileContents ReadWholeFile(const std::filesystem::path& path);

// Whether the file may be replaced: it must be a regular file (or absent),
// writable for us, and must not carry the read-only mark. Root passes every
// access() test, so a file without any write permission bit counts as
// read-only too, like the read-only attribute the settings format comes
// from, which binds administrators as well.
bool MayReplace(const std::filesystem::path& path);

// Replaces the file's contents atomically: a temporary file in the same
// directory is written, flushed to disk and renamed over the old one, which
// keeps its permissions. On any failure the temporary file is removed, the
// old file is untouched and false is returned. A symbolic link is followed,
// so a linked settings file stays linked; a dangling link gets its target
// created when the target's folder exists.
bool ReplaceFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace profile
