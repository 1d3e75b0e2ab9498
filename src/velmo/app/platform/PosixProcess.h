#pragma once

#include "velmo/app/platform/SimpleProcess.h"

namespace velmo {

// Starts a program with posix_spawn. It never asks for elevated rights: the
// downloaded program runs as the user who started the bootstrapper, with only
// descriptors 0, 1 and 2 of ours. Called on one thread; Launch with wait
// blocks it until the child exits; without wait a detached thread collects
// the child's exit so that it never lingers as a zombie.
class PosixProcess : public SimpleProcess {
 public:
  explicit PosixProcess(std::string path) : SimpleProcess(std::move(path)) {}

  bool Launch(bool wait, const std::vector<std::string>& arguments,
              const std::string& workingFolder) override;

  // Exit status of the last awaited child (its exit code, or 128 + signal).
  int LastExitCode() const { return lastExitCode_; }

 private:
  int lastExitCode_ = -1;
};

}  // namespace velmo
