#pragma once

#include <boost/property_tree/ptree.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velmo {

class PackageManifest;

// The publisher keys a program trusts, and the checks a manifest document
// must pass under them. With no key configured nothing is checked (unsigned
// trees keep working). With at least one, every document must come with a
// detached signature (`<document>.sig`: one line of base64 of the 64-byte
// Ed25519 signature over the document's exact bytes) made by one of the keys,
// must carry an expiry time in the future on its root element
// (`expires="YYYY-MM-DDTHH:MM:SSZ"`), and a package must pin every chunk with
// a SHA-256. Each failure is a ManifestSignatureException naming the reason.
//
// A key that does not decode to 32 bytes still counts as configured but never
// matches: a typo in a key must not silently turn checking off.
//
// Immutable after construction, so one trust is shared by every thread.
class ManifestTrust {
 public:
  // Seconds since 1970-01-01T00:00:00Z.
  using Clock = std::function<std::int64_t()>;

  ManifestTrust() : ManifestTrust(std::vector<std::string>()) {}
  // `base64Keys`: public keys as written in a .pub file; `clock` defaults to
  // the system's real-time clock.
  explicit ManifestTrust(const std::vector<std::string>& base64Keys, Clock clock = Clock());

  bool IsEnabled() const { return configured_ > 0; }

  // Checks the signature file's text (one base64 line; a final line break is
  // allowed) against the document. Returns when a trusted key made it.
  void VerifySignature(const std::string& document, const std::string& signatureText) const;
  // Checks the expiry attribute of the document's root element (the tree of
  // that element, as the XML reader produced it).
  void CheckExpiry(const boost::property_tree::ptree& root) const;
  // Checks that every file of the package pins its chunks with SHA-256.
  void CheckStrongHashes(const PackageManifest& package) const;

 private:
  std::vector<std::string> keys_;  // raw 32-byte keys that decoded
  std::size_t configured_ = 0;
  Clock clock_;
};

// True when `text` is base64 of a 32-byte key (the form of a .pub file
// without its line break).
bool IsEncodedPublicKey(const std::string& text);

// Splits a list of keys written with commas, semicolons or white space
// between them; empty items are dropped.
std::vector<std::string> SplitKeyList(const std::string& text);

// The expiry time form: "YYYY-MM-DDTHH:MM:SSZ", UTC, years 1970 to 9999.
// Parsing is strict (every digit present, fields in range); nullopt otherwise.
std::optional<std::int64_t> ParseExpiryTime(const std::string& text);
std::string FormatExpiryTime(std::int64_t secondsSinceEpoch);

}  // namespace velmo
