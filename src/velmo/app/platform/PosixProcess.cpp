#include "velmo/app/platform/PosixProcess.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

extern char** environ;

namespace velmo {

bool PosixProcess::Launch(bool wait, const std::vector<std::string>& arguments,
                          const std::string& workingFolder) {
  const std::string& path = Path();
  if (path.empty() || ::access(path.c_str(), X_OK) != 0) return false;
  std::string folder = workingFolder;
  if (folder.empty()) folder = std::filesystem::path(path).parent_path().string();
  // The program is started by its absolute path, so changing the working
  // folder in the child cannot change which program runs.
  std::string program = std::filesystem::absolute(path).string();

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  if (!folder.empty() && posix_spawn_file_actions_addchdir_np(&actions, folder.c_str()) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return false;
  }
  pid_t pid = -1;
  int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return false;
  if (!wait) return true;

  int status = 0;
  pid_t done;
  do {
    done = ::waitpid(pid, &status, 0);
  } while (done < 0 && errno == EINTR);
  if (done != pid) return false;
  if (WIFEXITED(status)) {
    lastExitCode_ = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    lastExitCode_ = 128 + WTERMSIG(status);
  }
  return true;
}

}  // namespace velmo
