#pragma once
// Shared by the settings-store tests: files on disk, a private settings
// directory, and ways to make a write fail that hold for root as well.
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/media.h"
#include "support/tempdir.h"

namespace settingstest {

inline std::string slurp(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

inline void spit(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << bytes;
}

// Every name in a directory, hidden ones included (a stray temporary file
// would show up here).
inline std::vector<std::string> listDir(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Points XDG_CONFIG_HOME at a fresh temporary folder for one test.
class ConfigHome {
 public:
  ConfigHome() : old_(std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "") {
    had_ = std::getenv("XDG_CONFIG_HOME") != nullptr;
    ::setenv("XDG_CONFIG_HOME", tmp_.path().toLocal8Bit().constData(), 1);
  }
  ~ConfigHome() {
    if (had_) ::setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
    else ::unsetenv("XDG_CONFIG_HOME");
  }
  std::filesystem::path root() const { return tmp_.path().toStdString(); }
  std::filesystem::path dir() const { return root() / "kestrel"; }

 private:
  testsupport::TempDir tmp_;
  std::string old_;
  bool had_ = false;
};

// Sets (or, for nullptr, removes) one environment variable for a scope.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value) ::setenv(name, value, 1);
    else ::unsetenv(name);
  }
  ~EnvVar() {
    if (had_) ::setenv(name_.c_str(), old_.c_str(), 1);
    else ::unsetenv(name_.c_str());
  }
  EnvVar(const EnvVar&) = delete;
  EnvVar& operator=(const EnvVar&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool had_ = false;
};

// The immutable attribute stops root as well as anyone else. Removed again
// by the destructor so the temporary folder can be cleaned up.
class Immutable {
 public:
  explicit Immutable(std::filesystem::path p) : path_(std::move(p)) {
    ok_ = testsupport::runCommand({"chattr", "+i", path_.string()}) == 0;
  }
  ~Immutable() {
    if (ok_) testsupport::runCommand({"chattr", "-i", path_.string()});
  }
  bool ok() const { return ok_; }

 private:
  std::filesystem::path path_;
  bool ok_ = false;
};

// A tiny tmpfs, so the disk can really be full. Needs mount rights.
class TinyDisk {
 public:
  TinyDisk(std::filesystem::path dir, const std::string& size) : dir_(std::move(dir)) {
    std::filesystem::create_directories(dir_);
    ok_ = testsupport::runCommand({"mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", dir_.string()}) == 0;
  }
  ~TinyDisk() {
    if (ok_) testsupport::runCommand({"umount", dir_.string()});
  }
  bool ok() const { return ok_; }

 private:
  std::filesystem::path dir_;
  bool ok_ = false;
};

}  // namespace settingstest
