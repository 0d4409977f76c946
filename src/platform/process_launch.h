#pragma once
// Starting the programs that show documents: the arguments go to the program as they are (file
// names with blanks, quotes, "$" or bytes that are not UTF-8 stay one argument each); no shell
// ever reads them. The program runs in its own session so that closing the desk does not
// close it.
#include <string>
#include <sys/types.h>
#include <vector>

namespace px::platform {

struct LaunchResult {
  pid_t pid = -1;
  std::string error;  // the system's text when the program could not be started
  bool ok() const { return pid > 0; }
};

// argv[0] is looked up in PATH when it has no "/".
LaunchResult SpawnProgram(const std::vector<std::string>& argv, const std::string& workDir = {});

enum class ProcessState { Running, Exited, Gone };
// Reaps the child when it has ended; exitCode is set for Exited. Gone: not our child (any more).
ProcessState PollProcess(pid_t pid, int* exitCode = nullptr);

}  // namespace px::platform
