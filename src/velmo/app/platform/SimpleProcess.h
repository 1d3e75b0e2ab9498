#pragma once

#include <string>
#include <vector>

namespace velmo {

// A program that can be started and awaited.
class SimpleProcess {
 public:
  virtual ~SimpleProcess() = default;

  // Starts the program with `arguments` as its argument vector (without the
  // program name; every flag and every value is its own element, so no value
  // needs quoting). An empty `workingFolder` means the program's own folder.
  // With `wait`, returns once the program has ended. False when the program
  // could not be started or awaited.
  virtual bool Launch(bool wait, const std::vector<std::string>& arguments,
                      const std::string& workingFolder) = 0;

  const std::string& Path() const { return path_; }

 protected:
  explicit SimpleProcess(std::string path) : path_(std::move(path)) {}

 private:
  std::string path_;
};

}  // namespace velmo
