#include "velmo/manifest/ManifestLocations.h"

#include <Poco/Exception.h>
#include <Poco/URI.h>

#include <cctype>
#include <cstring>
#include <stdexcept>

#include "velmo/manifest/ManifestExceptions.h"

namespace velmo {

namespace {

bool MustEncode(unsigned char c) {
  return c <= 32 || c >= 127 || std::strchr("%<>{}|\\\"^`?#", c) != nullptr;
}

// A failure carries an empty message, like every locator failure that is not
// an HTTP answer. The manifest host is configuration: a host name or address, optionally with
// ":port". Anything that would change how the URL reads (a path, a query,
// user information, white space) or a port outside 1..65535 is refused here,
// because the URI library accepts some of these and repairs others silently.
void CheckAuthority(const std::string& authority) {
  if (authority.empty()) {
    throw ManifestLocatorException();
  }
  for (const char ch : authority) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 32 || c >= 127 || std::strchr("/?#@\\", c) != nullptr) {
      throw ManifestLocatorException();
    }
  }
  // The port is what follows the last ':' outside an IPv6 literal's brackets.
  std::string::size_type searchFrom = 0;
  if (authority[0] == '[') {
    searchFrom = authority.find(']');
    if (searchFrom == std::string::npos) {
      throw ManifestLocatorException();
    }
  }
  const auto colon = authority.find(':', searchFrom);
  if (colon == std::string::npos) {
    return;
  }
  const std::string port = authority.substr(colon + 1);
  if (port.empty() || port.size() > 5 ||
      port.find_first_not_of("0123456789") != std::string::npos) {
    throw ManifestLocatorException();
  }
  const unsigned long value = std::stoul(port);
  if (value < 1 || value > 65535) {
    throw ManifestLocatorException();
  }
}

}  // namespace

HostAddress SplitHostScheme(const std::string& host) {
  for (const char* scheme : {"https", "http"}) {
    const std::size_t length = std::strlen(scheme);
    if (host.size() < length + 3 || host.compare(length, 3, "://") != 0) continue;
    bool same = true;
    for (std::size_t i = 0; i < length; ++i) {
      same = same && std::tolower(static_cast<unsigned char>(host[i])) == scheme[i];
    }
    if (!same) continue;
    std::string authority = host.substr(length + 3);
    if (!authority.empty() && authority.back() == '/') authority.pop_back();
    return HostAddress{scheme, std::move(authority)};
  }
  return HostAddress{"http", host};
}

std::string PackageManifestPath(const std::string& packageKey) {
  if (packageKey.find('/') == std::string::npos) {
    return "/manifests/" + packageKey + "/current.xml";
  }
  return "/manifests/" + packageKey + ".xml";
}

std::string NodeListPath(const std::string& partnerId) { return "/nodes/" + partnerId + ".xml"; }

std::string EncodeManifestPath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(path.size());
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if (MustEncode(c)) {
      encoded.push_back('%');
      encoded.push_back(kHex[c >> 4]);
      encoded.push_back(kHex[c & 0x0F]);
    } else {
      encoded.push_back(static_cast<char>(c));
    }
  }
  return encoded;
}

std::string ComposeManifestUrl(const std::string& host, const std::string& path) {
  const HostAddress address = SplitHostScheme(host);
  CheckAuthority(address.authority);
  // The path is encoded here and not handed to the URI library: its path
  // setter decodes percent sequences (a key holding "%41" would turn into "A")
  // and its encoder escapes more characters than the server's URL forms use.
  try {
    Poco::URI uri;
    uri.setScheme(address.scheme);
    uri.setAuthority(address.authority);
    return uri.getScheme() + "://" + uri.getAuthority() + EncodeManifestPath(path);
  } catch (const Poco::Exception&) {
    throw ManifestLocatorException();
  }
}

std::string ComposeNodeFileUrl(const std::string& host, const std::string& nodePath,
                               const std::vector<std::string>& parts) {
  const HostAddress address = SplitHostScheme(host);
  try {
    Poco::URI uri(address.scheme, address.authority, nodePath);
    if (uri.getHost().empty()) throw std::invalid_argument("the host names no machine");
    for (const std::string& part : parts) {
      // "./" keeps a part whose first segment holds a ':' from reading as a
      // scheme; '?', '#' and '%' are encoded so that they stay part of the
      // path instead of starting a query or a fragment or an escape.
      std::string encoded;
      Poco::URI::encode(part, "?#%", encoded);
      uri.resolve("./" + encoded);
    }
    return uri.toString();
  } catch (const Poco::Exception& e) {
    throw std::invalid_argument(e.displayText());
  }
}

}  // namespace velmo
