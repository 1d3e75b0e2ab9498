#pragma once

#include <type_traits>
#include <utility>

namespace velmo {

// Runs code that touches mapped file pages and turns a SIGBUS (the file was
// truncated underneath, or an I/O error while paging in) into
// FileInvalidMapException instead of killing the process.
//
// A process-wide SIGBUS handler is installed on first use. It jumps back only
// when the faulting thread has armed a guard; any other SIGBUS gets the
// default action. The guarded code must not own objects with destructors that
// matter: a fault leaves its frame without unwinding (copies and checksums over
// raw pointers are what it is for).
class MappedAccessGuard {
 public:
  template <class F>
  static void Run(F&& function) {
    RunRaw([](void* context) { (*static_cast<std::remove_reference_t<F>*>(context))(); },
           const_cast<void*>(static_cast<const void*>(&function)));
  }

  static void RunRaw(void (*function)(void*), void* context);
};

}  // namespace velmo
