#include "velmo/http/ChooseProxy.h"

#include <Poco/Exception.h>
#include <Poco/URI.h>

#include <regex>
#include <vector>

namespace velmo {
namespace {

std::vector<std::string> SplitList(const std::string& list) {
  static const std::string kSeparator = "; ";
  std::vector<std::string> entries;
  if (list.empty()) {
    return entries;
  }
  std::string::size_type begin = 0;
  while (true) {
    const auto end = list.find(kSeparator, begin);
    if (end == std::string::npos) {
      entries.push_back(list.substr(begin));
      break;
    }
    entries.push_back(list.substr(begin, end - begin));
    begin = end + kSeparator.size();
  }
  return entries;
}

// "*" matches any run of characters; every other character stands for itself.
// Characters that mean something to a regular expression are escaped so that a
// bypass entry from the user's settings can never make an invalid expression.
std::string PatternToRegex(const std::string& pattern) {
  std::string regex = "^";
  for (const char c : pattern) {
    if (c == '*') {
      regex += ".*";
    } else if (std::string("\\^$.|?+()[]{}").find(c) != std::string::npos) {
      regex += '\\';
      regex += c;
    } else {
      regex += c;
    }
  }
  regex += '$';
  return regex;
}

std::string HostOf(const std::string& url) {
  try {
    return Poco::URI(url).getHost();  // ASCII letters come back in lower case
  } catch (const Poco::Exception&) {
    return std::string();
  }
}

}  // namespace

bool HostMatchesBypassList(const std::string& host, const std::string& bypassList) {
  for (const std::string& pattern : SplitList(bypassList)) {
    try {
      const std::regex expression(PatternToRegex(pattern));
      std::smatch match;
      if (std::regex_search(host, match, expression) && match.str(0) == host) {
        return true;
      }
    } catch (const std::regex_error&) {
      // Unreachable with escaped patterns; an entry that cannot be read bypasses nothing.
    }
  }
  return false;
}

std::string ChooseProxy(const std::string& url, const std::string& proxyList,
                        const std::string& bypassList) {
  const std::string host = HostOf(url);
  const std::vector<std::string> entries = SplitList(proxyList);
  if (entries.empty()) {
    return std::string();
  }
  static const std::string kHttpPrefix = "http=";
  std::string schemeProxy;
  std::string genericProxy;
  for (const std::string& entry : entries) {
    if (schemeProxy.empty() && entry.compare(0, kHttpPrefix.size(), kHttpPrefix) == 0) {
      schemeProxy = entry.substr(kHttpPrefix.size());
    } else if (genericProxy.empty() && entry.find('=') == std::string::npos) {
      genericProxy = entry;
    }
  }
  const std::string chosen = !schemeProxy.empty() ? schemeProxy : genericProxy;
  if (chosen == ":" || chosen == "::") {
    return std::string();
  }
  if (HostMatchesBypassList(host, bypassList)) {
    return std::string();
  }
  return chosen;
}

}  // namespace velmo
