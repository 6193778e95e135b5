#include "platform/profile/atomicfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "platform/fd.h"

namespace profile {
namespace fs = std::filesystem;

namespace {

using platform::Fd;

bool writeAll(int fd, const std::string& bytes) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// The file a path stands for: symbolic links are followed to their final
// target, even when that target does not exist yet, so that saving through
// a dangling link creates the file it points at instead of replacing the
// link with a plain file. A chain that is too long or loops is left alone
// and the path itself is used.
fs::path targetOf(const fs::path& path) {
  fs::path p = path;
  std::error_code ec;
  // The kernel's own limit on links followed in one lookup.
  for (int hops = 0; hops < 40; ++hops) {
    if (!fs::is_symlink(fs::symlink_status(p, ec))) return p;
    const fs::path link = fs::read_symlink(p, ec);
    if (ec) return path;
    p = link.is_absolute() ? link : p.parent_path() / link;
  }
  return path;
}

}  // namespace

FileContents ReadWholeFile(const fs::path& path) {
  FileContents out;
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) {
    out.status = (errno == ENOENT || errno == ENOTDIR) ? ReadStatus::Missing : ReadStatus::Unreadable;
    return out;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::size_t>(st.st_size) > kMaxSettingsFileSize) {
    out.status = ReadStatus::Unreadable;
    return out;
  }
  out.bytes.resize(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  for (;;) {
    if (got == out.bytes.size()) {
      // The file may have grown since fstat; take what is there, up to the cap.
      if (out.bytes.size() >= kMaxSettingsFileSize) break;
      out.bytes.resize(std::min(kMaxSettingsFileSize, out.bytes.size() * 2 + 4096));
    }
    const ssize_t n = ::read(fd.get(), out.bytes.data() + got, out.bytes.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      out.status = ReadStatus::Unreadable;
      out.bytes.clear();
      return out;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  out.bytes.resize(got);
  out.status = ReadStatus::Ok;
  return out;
}

bool MayReplace(const fs::path& path) {
  const fs::path target = targetOf(path);
  struct stat st {};
  if (::stat(target.c_str(), &st) != 0) {
    // Absent: the directory decides when the temporary file is created.
    return errno == ENOENT;
  }
  if (!S_ISREG(st.st_mode)) return false;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
  // access() also reports an immutable file or a read-only mount, for root too.
  return ::access(target.c_str(), W_OK) == 0;
}

bool ReplaceFile(const fs::path& path, const std::string& bytes) {
  if (!MayReplace(path)) return false;
  const fs::path target = targetOf(path);
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");

  struct stat old {};
  const bool hadOld = ::stat(target.c_str(), &old) == 0;

  std::string tmpl = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  Fd fd(::mkostemp(tmpl.data(), O_CLOEXEC));
  if (fd.get() < 0) return false;
  const fs::path tmp = tmpl;

  bool ok = true;
  if (hadOld) {
    // Keep the old file's permissions; keep its owner when we may (root
    // editing a user's file must not take it over).
    ok = ::fchmod(fd.get(), old.st_mode & 07777) == 0;
    if (ok && old.st_uid != ::geteuid()) {
      if (::fchown(fd.get(), old.st_uid, old.st_gid) != 0) {
        // Not permitted for an ordinary user; the file becomes ours, as
        // any editor's save would make it.
      }
    }
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ok = ::fchmod(fd.get(), 0666 & ~mask) == 0;
  }
  ok = ok && writeAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
  ok = fd.close() && ok;
  ok = ok && ::rename(tmp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(tmp.c_str());
    return false;
  }
  // Make the rename itself durable; a failure here loses nothing already
  // written, so it does not turn the write into a failure.
  Fd dfd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dfd.get() >= 0) ::fsync(dfd.get());
  return true;
}

}  // namespace profile
