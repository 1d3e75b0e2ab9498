#pragma once

#include <optional>
#include <string>

namespace velmo::test {

// A fresh folder for one test, removed with everything in it at the end. When
// asked, TMPDIR points at it for the test's lifetime, so code that uses the
// user's temporary folder stays inside it.
class TempDir {
 public:
  explicit TempDir(bool setTmpdir = true);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const;

 private:
  std::string path_;
  bool setTmpdir_;
  std::optional<std::string> savedTmpdir_;
};

// The whole content of a file, empty when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace velmo::test
