#include "platform/process_launch.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace px::platform {

LaunchResult SpawnProgram(const std::vector<std::string>& argv, const std::string& workDir) {
  LaunchResult r;
  if (argv.empty() || argv.front().empty()) {
    r.error = "no program";
    return r;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    r.error = std::strerror(rc);
    return r;
  }
  r.pid = pid;
  return r;
}

ProcessState PollProcess(pid_t pid, int* exitCode) {
  if (pid <= 0) return ProcessState::Gone;
  int status = 0;
  const pid_t got = waitpid(pid, &status, WNOHANG);
  if (got == 0) return ProcessState::Running;
  if (got == pid) {
    if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return ProcessState::Exited;
  }
  return ProcessState::Gone;
}

}  // namespace px::platform
