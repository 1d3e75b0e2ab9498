#pragma once

#include <string>

namespace velmo {

// A shortcut file pointing at a program.
class SimpleShortcut {
 public:
  virtual ~SimpleShortcut() = default;

  // Writes the shortcut so that it points at `target`; false on any failure.
  virtual bool Create(const std::string& target) = 0;
  // Copies the written shortcut to `folder` as `newName`; false on failure.
  virtual bool CopyTo(const std::string& folder, const std::string& newName) = 0;
  // Deletes the shortcut `name` in `folder`; true when a file was removed.
  virtual bool Remove(const std::string& folder, const std::string& name) = 0;

  const std::string& Name() const { return name_; }

 protected:
  explicit SimpleShortcut(std::string name) : name_(std::move(name)) {}

 private:
  std::string name_;
};

}  // namespace velmo
