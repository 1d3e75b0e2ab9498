#include "velmo/telemetry/LogFormat.h"

#include <ctime>

namespace velmo {

namespace {

std::string FormatUtc(std::chrono::system_clock::time_point when, const char* pattern) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm utc{};
  if (::gmtime_r(&seconds, &utc) == nullptr) return std::string();
  char buffer[64];
  const std::size_t n = std::strftime(buffer, sizeof buffer, pattern, &utc);
  return std::string(buffer, n);
}

}  // namespace

std::string LogFileName(std::chrono::system_clock::time_point when, unsigned counter) {
  std::string name = FormatUtc(when, "Log.%Y.%m.%d.%H.%M.%S.txt");
  if (counter > 0) name += "." + std::to_string(counter);
  return name;
}

std::string LogLinePrefix(std::chrono::system_clock::time_point when) {
  return FormatUtc(when, "[%Y-%m-%d %H:%M:%S] ");
}

}  // namespace velmo
