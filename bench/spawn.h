#pragma once
// Starting the peer programs the benchmarks compare against.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;

namespace bench {

// Runs argv (no shell); returns the exit code (-1 if it could not run or
// did not exit) and, if asked, the child's rusage.
inline int run(const std::vector<std::string>& args, rusage* usage = nullptr) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  rusage ru{};
  if (wait4(pid, &status, 0, &ru) < 0) return -1;
  if (usage) *usage = ru;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace bench
