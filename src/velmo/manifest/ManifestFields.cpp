#include "velmo/manifest/ManifestFields.h"

#include <limits>

#include "velmo/manifest/ManifestExceptions.h"

namespace velmo {

namespace {

const char kWhiteSpace[] = " \t\r\n";

std::uint64_t ParseDecimal(const std::string& text, std::uint64_t max) {
  const auto first = text.find_first_not_of(kWhiteSpace);
  if (first == std::string::npos) {
    throw ManifestParseException("empty number");
  }
  const auto last = text.find_last_not_of(kWhiteSpace);
  std::uint64_t value = 0;
  for (auto i = first; i <= last; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') {
      throw ManifestParseException("not a decimal number: " + text);
    }
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (max - digit) / 10) {
      throw ManifestParseException("number out of range: " + text);
    }
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace

const std::string& RequiredField(const boost::property_tree::ptree& tree, const std::string& name) {
  const auto found = tree.find(name);
  if (found == tree.not_found()) {
    throw ManifestParseException("missing field " + name);
  }
  return found->second.data();
}

std::optional<std::string> OptionalField(const boost::property_tree::ptree& tree,
                                         const std::string& name) {
  const auto found = tree.find(name);
  if (found == tree.not_found()) {
    return std::nullopt;
  }
  return found->second.data();
}

std::uint32_t ParseDecimalUint32(const std::string& text) {
  return static_cast<std::uint32_t>(ParseDecimal(text, std::numeric_limits<std::uint32_t>::max()));
}

std::uint64_t ParseDecimalUint64(const std::string& text) {
  return ParseDecimal(text, std::numeric_limits<std::uint64_t>::max());
}

}  // namespace velmo
