#include "velmo/app/platform/PosixProcess.h"

#include <dirent.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

extern char** environ;

namespace velmo {
namespace {

// The child gets standard input, output and error and nothing else: the
// engine's sockets, mapped files and logs are not the program's business, and
// a socket kept open in a long-lived child would keep a connection alive.
#if defined(__GLIBC__)
#if __GLIBC_PREREQ(2, 34)
#define VELMO_HAVE_ADDCLOSEFROM 1
#endif
#endif

int CloseInheritedDescriptors(posix_spawn_file_actions_t* actions) {
#if defined(VELMO_HAVE_ADDCLOSEFROM)
  return posix_spawn_file_actions_addclosefrom_np(actions, 3);
#else
  // Without closefrom, every descriptor open now is closed by name. One
  // another thread opens meanwhile may slip through; the engine's own are
  // all open already.
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return errno;
  const int own = ::dirfd(dir);
  int error = 0;
  while (dirent* entry = ::readdir(dir)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd <= 2 || fd == own) continue;
    error = posix_spawn_file_actions_addclose(actions, static_cast<int>(fd));
    if (error != 0) break;
  }
  ::closedir(dir);
  return error;
#endif
}

void AwaitChild(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

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
  if ((!folder.empty() && posix_spawn_file_actions_addchdir_np(&actions, folder.c_str()) != 0) ||
      CloseInheritedDescriptors(&actions) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return false;
  }
  pid_t pid = -1;
  int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return false;
  if (!wait) {
    // Someone must collect the child's exit or it stays a zombie for as long
    // as this process lives. A thread that waits for this one pid leaves
    // every other child (and SIGCHLD) to its owner; if this process ends
    // first, the child is handed to init as usual.
    try {
      std::thread(AwaitChild, pid).detach();
    } catch (const std::system_error&) {
      // No thread to spare: the program runs all the same, and its exit
      // entry is collected when this process ends.
    }
    return true;
  }

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
