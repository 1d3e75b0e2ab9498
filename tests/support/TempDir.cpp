#include "support/TempDir.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace velmo::test {

TempDir::TempDir(bool setTmpdir) : setTmpdir_(setTmpdir) {
  std::string pattern = (std::filesystem::temp_directory_path() / "velmo-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("TempDir: mkdtemp failed");
  path_ = pattern;
  if (setTmpdir_) {
    if (const char* old = getenv("TMPDIR")) savedTmpdir_ = old;
    setenv("TMPDIR", path_.c_str(), 1);
  }
}

TempDir::~TempDir() {
  if (setTmpdir_) {
    if (savedTmpdir_)
      setenv("TMPDIR", savedTmpdir_->c_str(), 1);
    else
      unsetenv("TMPDIR");
  }
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::operator/(const std::string& relative) const { return path_ + "/" + relative; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace velmo::test
