// ShellExecuteA: the desktop's default action through xdg-open.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/shell/shell.h"

extern char** environ;

namespace shell {

namespace {

// How long a launch waits for xdg-open's verdict before taking it as
// started: long enough for its own checks, short enough not to be felt.
constexpr int kOpenerVerdictMs = 1500;

bool isBrowserName(const std::string& file) {
  std::string f;
  for (char c : file) f += char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return f == "iexplore" || f == "iexplore.exe";
}

// An address such as "https://..." or "file:///...": xdg-open takes it as is.
bool isAddress(const std::string& s) {
  const auto colon = s.find("://");
  if (colon == std::string::npos || colon == 0) return false;
  for (std::size_t i = 0; i < colon; ++i) {
    const char c = s[i];
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (i > 0 && ((c >= '0' && c <= '9') || c == '+' ||
                                                                                    c == '-' || c == '.'));
    if (!ok) return false;
  }
  return true;
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool isDir(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Starts `xdg-open target` without a shell, in dir when given. The child is
// waited for on a thread of its own so the user-interface thread never
// blocks and no zombie is left behind.
std::intptr_t spawnOpener(const std::string& target, const std::string& dir) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  std::string program = "xdg-open";
  std::string arg = target;
  // "--" is not understood by xdg-open; a name starting with "-" is made
  // a path instead so it is not taken for an option.
  if (!arg.empty() && arg[0] == '-') arg = "./" + arg;
  std::vector<char*> argv{program.data(), arg.data(), nullptr};
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return rc == ENOENT || rc == EACCES ? SE_ERR_FNF : SE_ERR_NOASSOC;
  // xdg-open finds out at once when nothing on the desktop opens the file
  // and says so in its exit status; a short wait lets that reach the user
  // instead of vanishing. An opener still running after it has handed the
  // file on (some wait for the program they started) counts as launched.
  for (int waited = 0; waited < kOpenerVerdictMs; waited += 10) {
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r < 0 && errno == EINTR) continue;
    if (r == pid) {
      if (!WIFEXITED(status)) return SE_ERR_NOASSOC;
      switch (WEXITSTATUS(status)) {
        case 0: return kLaunched;
        case 2: return SE_ERR_FNF;      // the file does not exist
        default: return SE_ERR_NOASSOC;  // 3: no program for it, 4: it failed
      }
    }
    if (r < 0) return kLaunched;  // reaped elsewhere; nothing more to learn
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return kLaunched;
}

}  // namespace

std::intptr_t ShellExecuteA(HWND, const char*, const char* file, const char* params, const char* dir, int) {
  const std::string f = file ? file : "";
  const std::string p = params ? params : "";
  const std::string d = dir ? dir : "";
  if (f.empty()) return SE_ERR_FNF;
  if (!d.empty() && !isDir(d)) return SE_ERR_PNF;
  if (isBrowserName(f)) {
    // The browser by its old name: the default browser for the address.
    if (p.empty()) return SE_ERR_FNF;
    return spawnOpener(p, d);
  }
  if (!p.empty()) return SE_ERR_NOASSOC;
  if (!isAddress(f)) {
    const std::string path = (f[0] == '/' || d.empty()) ? f : d + "/" + f;
    if (!exists(path)) return SE_ERR_FNF;
  }
  return spawnOpener(f, d);
}

}  // namespace shell
