#include "velmo/platform/System.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace velmo {

unsigned ProcessorCount() {
  long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  return n > 1 ? static_cast<unsigned>(n) : 1u;
}

std::optional<std::string> EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe): see the header
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string ErrnoText(int error) {
  char buffer[256] = {};
  // The GNU strerror_r returns the text, which may or may not be in buffer.
  return ::strerror_r(error, buffer, sizeof buffer);
}

namespace {

std::string Env(const char* name) { return EnvironmentValue(name).value_or(std::string()); }

}  // namespace

std::string UserTempFolder() {
  std::error_code ec;
  std::string tmp = Env("TMPDIR");
  if (!tmp.empty() && std::filesystem::is_directory(tmp, ec)) return tmp;
  std::string cache = Env("XDG_CACHE_HOME");
  if (!cache.empty()) return cache;
  std::string home = Env("HOME");
  if (!home.empty()) return JoinPath(home, ".cache");
  return std::string();
}

std::string JoinPath(const std::string& first, const std::string& second) {
  std::size_t skip = second.find_first_not_of('/');
  std::string rest = skip == std::string::npos ? std::string() : second.substr(skip);
  if (first.empty()) return rest;
  if (first.back() == '/') return first + rest;
  return first + "/" + rest;
}

std::string ProgramPath(const char* argv0) {
  std::error_code ec;
  if (argv0 && *argv0) {
    std::string arg(argv0);
    if (arg.front() == '/') return arg;
    if (arg.find('/') != std::string::npos) {
      auto abs = std::filesystem::absolute(arg, ec);
      if (!ec) return abs.lexically_normal().string();
    }
  }
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(argv0 ? argv0 : "") : self.string();
}

}  // namespace velmo
