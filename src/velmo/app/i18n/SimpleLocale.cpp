#include "velmo/app/i18n/SimpleLocale.h"

#include <iomanip>
#include <locale>
#include <sstream>

#include "velmo/app/i18n/Messages.h"

namespace velmo {

SimpleLocale::~SimpleLocale() = default;

std::string ReplaceAll(const std::string& text, const std::string& placeholder,
                       const std::string& value) {
  if (placeholder.empty()) return text;
  std::string out;
  std::size_t from = 0;
  for (std::size_t at = text.find(placeholder); at != std::string::npos;
       at = text.find(placeholder, from)) {
    out.append(text, from, at - from);
    out += value;
    from = at + placeholder.size();
  }
  out.append(text, from, std::string::npos);
  return out;
}

std::string SimpleLocale::Format(const std::string& messageId, const std::string& argument) const {
  return ReplaceAll(Translate(messageId), "{1}", Translate(argument));
}

std::string SimpleLocale::Format2(const std::string& messageId, const std::string& first,
                                  const std::string& second) const {
  return ReplaceAll(FormatPlain(messageId, first), "{2}", second);
}

std::string SimpleLocale::FormatPlain(const std::string& messageId,
                                      const std::string& argument) const {
  return ReplaceAll(Translate(messageId), "{1}", argument);
}

std::string SimpleLocale::FormatNumber(double value, int decimals) const {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << std::fixed << std::setprecision(decimals > 0 ? decimals : 0) << value;
  return out.str();
}

std::string SimpleLocale::FormatPercent(double fraction, int decimals) const {
  return FormatNumber(fraction * 100.0, decimals) + "%";
}

std::string SimpleLocale::FormatSize(std::uint64_t bytes) const {
  const auto value = static_cast<double>(bytes);
  if (bytes < 1048576u) return FormatNumber(value / 1024.0, 0) + " KB";
  if (bytes < 1073741824u) return FormatNumber(value / 1048576.0, 2) + " MB";
  return FormatNumber(value / 1073741824.0, 2) + " GB";
}

std::string SimpleLocale::RemainingTimeText(std::int32_t seconds) const {
  if (seconds == -1) return Translate(messages::kCalculating);
  // Wider arithmetic: adding the minute to a huge estimate must not overflow.
  std::int64_t total = seconds;
  if (total > 60) total += 60;
  const auto hours = static_cast<std::int32_t>(total / 3600);
  const auto minutes = static_cast<std::int32_t>((total % 3600) / 60);
  const auto secs = static_cast<std::int32_t>(total % 60);
  return RemainingTimeWords(hours, minutes, secs);
}

}  // namespace velmo
