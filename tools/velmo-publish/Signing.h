#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace velmo::publish {

// How published documents are signed: the raw 32-byte Ed25519 private key
// (empty: documents are published unsigned) and the expiry time written into
// each signed document, in seconds since the epoch.
struct SignOptions {
  std::string privateKey;
  std::int64_t expires = 0;

  bool Enabled() const { return !privateKey.empty(); }
};

// How long a signed document stays valid when --expires is not given.
constexpr std::int64_t kDefaultExpirySeconds = std::int64_t{30} * 24 * 3600;

// Writes a fresh key pair: the private key to `path` (mode 0600, one line of
// base64 of the 32-byte seed) and the public key to `path`.pub (one line of
// base64 of the 32-byte key). Refuses to replace an existing key. Returns the
// public key as written (without the line break).
std::string WriteKeyPair(const std::filesystem::path& path);

// Reads a private key written by WriteKeyPair; PublishError when the file
// cannot be read or does not hold one.
std::string ReadPrivateKey(const std::filesystem::path& path);

// The expiry time of --expires: "<N>d" or "<N>h" from `now`, or an absolute
// time "YYYY-MM-DDTHH:MM:SSZ". PublishError for anything else, and for a time
// not after `now`.
std::int64_t ParseExpiresOption(const std::string& text, std::int64_t now);

// The document with the expiry attribute on its root element `root`
// (`<root` must open the element, as our documents write it).
std::string WithExpiry(const std::string& document, const std::string& root, std::int64_t expires);
// The document with the root element's expiry attribute removed, so that two
// publications of the same content compare equal whatever their expiry.
std::string WithoutExpiry(const std::string& document, const std::string& root);

// Writes `document` to `path` and, when signing, its detached signature to
// `path`.sig; unsigned, a stale `path`.sig is removed so that it cannot
// contradict the new document. The signature goes last: a reader that sees
// the new signature sees the new document.
void WriteSigned(const std::filesystem::path& path, const std::string& document,
                 const SignOptions& sign);

}  // namespace velmo::publish
