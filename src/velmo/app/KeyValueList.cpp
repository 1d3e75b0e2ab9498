#include "velmo/app/KeyValueList.h"

namespace velmo {

KeyValueList ParseKeyValueList(const std::string& text) {
  KeyValueList pairs;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    const std::string piece = text.substr(start, end - start);
    const std::size_t eq = piece.find('=');
    if (!piece.empty() && eq != std::string::npos) {
      pairs.emplace_back(piece.substr(0, eq), piece.substr(eq + 1));
    }
    start = end + 1;
  }
  return pairs;
}

std::string Localized(const std::string& value, const std::string& language) {
  if (language.empty()) return value;
  for (const auto& [key, text] : ParseKeyValueList(value)) {
    if (key == language) return text;
  }
  return std::string();
}

}  // namespace velmo
