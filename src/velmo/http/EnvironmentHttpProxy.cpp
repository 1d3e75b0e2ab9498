#include "velmo/http/EnvironmentHttpProxy.h"

#include <cctype>
#include <cstdlib>

#include "velmo/http/ChooseProxy.h"
#include "velmo/platform/System.h"

namespace velmo {
namespace {

std::string Trim(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) {
    return std::string();
  }
  const auto end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

// The first of the names that is set to a non-blank value.
std::string FirstSet(const EnvironmentReader& read, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const std::optional<std::string> value = read(name);
    if (value && !Trim(*value).empty()) {
      return Trim(*value);
    }
  }
  return std::string();
}

}  // namespace

std::optional<std::string> ReadProcessEnvironment(const std::string& name) {
  return EnvironmentValue(name.c_str());
}

std::string EnvironmentHttpProxy::BypassListFromNoProxy(const std::string& noProxy) {
  std::string list;
  const auto append = [&list](const std::string& pattern) {
    if (!list.empty()) {
      list += "; ";
    }
    list += pattern;
  };
  std::string entry;
  // Entries are separated by commas and/or white space, as curl reads them.
  for (std::size_t i = 0; i <= noProxy.size(); ++i) {
    const char c = i < noProxy.size() ? noProxy[i] : ',';
    if (c != ',' && !std::isspace(static_cast<unsigned char>(c))) {
      // Host names compare case-insensitively; the URL's host arrives in lower case.
      entry += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      continue;
    }
    if (entry.empty()) {
      continue;
    }
    if (entry == "*") {
      append("*");
    } else {
      const std::string domain = entry[0] == '.' ? entry.substr(1) : entry;
      if (!domain.empty()) {
        append(domain);
        append("*." + domain);
      }
    }
    entry.clear();
  }
  return list;
}

std::optional<EnvironmentHttpProxy> EnvironmentHttpProxy::FromEnvironment(
    const EnvironmentReader& read) {
  const std::string http = FirstSet(read, {"http_proxy", "HTTP_PROXY"});
  const std::string all = FirstSet(read, {"all_proxy", "ALL_PROXY"});
  if (http.empty() && all.empty()) {
    return std::nullopt;
  }
  std::string proxyList;
  if (!http.empty()) {
    proxyList = "http=" + http;
  }
  if (!all.empty()) {
    proxyList += (proxyList.empty() ? "" : "; ") + all;
  }
  return EnvironmentHttpProxy(proxyList,
                              BypassListFromNoProxy(FirstSet(read, {"no_proxy", "NO_PROXY"})));
}

std::string EnvironmentHttpProxy::GetProxyForUrl(const std::string& url) {
  return ChooseProxy(url, proxyList_, bypassList_);
}

}  // namespace velmo
