#pragma once

#include <string>
#include <vector>

namespace velmo {

// Where the manifest server publishes its documents. Keys go into the path as
// they are; only the bytes that cannot stand in a URL path are percent-encoded.
// Every function throws ManifestLocatorException when no valid URL can be
// formed (an empty host, a host with characters that would change the URL's
// structure, or a port that is not a decimal number from 1 to 65535).

// "/manifests/" + key + "/current.xml" for a key without "/",
// "/manifests/" + key + ".xml" otherwise.
std::string PackageManifestPath(const std::string& packageKey);

// "/nodes/" + partnerId + ".xml".
std::string NodeListPath(const std::string& partnerId);

// Percent-encodes a URL path: bytes <= 32 or >= 127 and % < > { } | \ " ^ `
// ? # become "%" and two uppercase hexadecimal digits; everything else,
// the slash included, stays.
std::string EncodeManifestPath(const std::string& path);

// A host as configured for the manifest server or a node: "HOST[:PORT]" means
// plain HTTP; "http://HOST[:PORT]" and "https://HOST[:PORT]" (the scheme in
// any case, one trailing "/" allowed) say which. Anything else is taken as an
// authority of its own, for the caller to accept or refuse.
struct HostAddress {
  std::string scheme;  // "http" or "https"
  std::string authority;
};
HostAddress SplitHostScheme(const std::string& host);

// scheme + "://" + authority + encoded path, for a host as SplitHostScheme
// reads it; the authority is composed by the URI library (so the host is
// lower-cased and the scheme's default port is left out).
std::string ComposeManifestUrl(const std::string& host, const std::string& path);

// The URL of a file on a node: the node's host (as SplitHostScheme reads it)
// and path, then each of `parts` resolved in turn as a relative reference,
// with '?', '#' and '%' in a part kept as path characters. Throws
// std::invalid_argument when the host or path cannot make a URL. The node
// list reader keeps only nodes this accepts, and requests are addressed
// through it, so a node the list keeps never fails when it is drawn.
std::string ComposeNodeFileUrl(const std::string& host, const std::string& nodePath,
                               const std::vector<std::string>& parts);

inline std::string PackageManifestUrl(const std::string& host, const std::string& packageKey) {
  return ComposeManifestUrl(host, PackageManifestPath(packageKey));
}

inline std::string NodeListUrl(const std::string& host, const std::string& partnerId) {
  return ComposeManifestUrl(host, NodeListPath(partnerId));
}

}  // namespace velmo
