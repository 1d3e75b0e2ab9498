#include "velmo/file/MappedAccessGuard.h"

#include <setjmp.h>
#include <signal.h>

#include <mutex>

#include "velmo/file/FileException.h"

namespace velmo {

namespace {

// Jump target of the guard the current thread has armed; null when none.
thread_local sigjmp_buf* armedJump = nullptr;
struct sigaction previousAction;

void OnSigbus(int signal, siginfo_t* info, void* context) {
  if (armedJump) siglongjmp(*armedJump, 1);
  // Not ours: hand the signal to whoever had it before (normally the default
  // action, which ends the process with a core dump).
  sigaction(SIGBUS, &previousAction, nullptr);
  if (previousAction.sa_flags & SA_SIGINFO) {
    if (previousAction.sa_sigaction) previousAction.sa_sigaction(signal, info, context);
  } else if (previousAction.sa_handler != SIG_IGN && previousAction.sa_handler != SIG_DFL) {
    previousAction.sa_handler(signal);
  } else {
    raise(signal);
  }
}

void InstallHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_sigaction = OnSigbus;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGBUS, &action, &previousAction);
  });
}

}  // namespace

void MappedAccessGuard::RunRaw(void (*function)(void*), void* context) {
  InstallHandler();
  sigjmp_buf jump;
  sigjmp_buf* volatile outer = armedJump;
  if (sigsetjmp(jump, 1) != 0) {
    armedJump = outer;
    throw FileInvalidMapException();
  }
  armedJump = &jump;
  try {
    function(context);
  } catch (...) {
    armedJump = outer;
    throw;
  }
  armedJump = outer;
}

}  // namespace velmo
