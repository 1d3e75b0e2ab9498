#include "velmo/http/ChooseProxy.h"

#include <Poco/Exception.h>
#include <Poco/URI.h>

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

// Whole-text match where "*" stands for any run of characters and every other
// character for itself - what the pattern means as a regular expression with
// its dots escaped, without building one (a user's bypass entry may hold
// characters that would make an invalid expression).
bool WildcardMatch(const std::string& pattern, const std::string& text) {
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t star = std::string::npos;
  std::size_t resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star != std::string::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
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
    if (WildcardMatch(pattern, host)) {
      return true;
    }
  }
  return false;
}

std::string ChooseProxy(const std::string& url, const std::string& proxyList,
                        const std::string& bypassList) {
  // With no proxy there is nothing to choose: the URL is not even read.
  const std::vector<std::string> entries = SplitList(proxyList);
  if (entries.empty()) {
    return std::string();
  }
  const std::string host = HostOf(url);
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
  std::string chosen = !schemeProxy.empty() ? schemeProxy : genericProxy;
  if (chosen == ":" || chosen == "::") {
    return std::string();
  }
  if (HostMatchesBypassList(host, bypassList)) {
    return std::string();
  }
  return chosen;
}

}  // namespace velmo
