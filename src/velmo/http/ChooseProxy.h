#pragma once

#include <string>

namespace velmo {

// Picks the proxy for url from a "; "-separated proxy list (an "http=" entry wins
// over a bare host:port entry; entries for other schemes are ignored) unless the
// URL's host matches a pattern of the "; "-separated bypass list ("*" matches any
// run of characters). Returns host:port, or empty for a direct connection.
std::string ChooseProxy(const std::string& url, const std::string& proxyList,
                        const std::string& bypassList);

// True when host matches one of the bypass patterns (exported for tests).
bool HostMatchesBypassList(const std::string& host, const std::string& bypassList);

}  // namespace velmo
