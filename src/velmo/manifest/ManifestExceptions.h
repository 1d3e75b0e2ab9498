#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace velmo {

// The manifest failures. Callers that fetch manifests tell a transport problem
// (ManifestStreamException, worth a retry as a connection error) from every
// other member of the family (a manifest error).
class ManifestException : public std::runtime_error {
 public:
  explicit ManifestException(const std::string& message = std::string())
      : std::runtime_error(message) {}
};

// The document cannot be located: no URL can be formed, the server says it is
// not there, or what arrived describes another package or version.
class ManifestLocatorException : public ManifestException {
 public:
  using ManifestException::ManifestException;
};

// The document could not be transferred or written to its stream.
class ManifestStreamException : public ManifestException {
 public:
  using ManifestException::ManifestException;
  // A busy server (429, 503) that said when to ask again: `retryAfter`
  // seconds from its answer (negative: it did not say).
  ManifestStreamException(const std::string& message, std::int32_t retryAfter)
      : ManifestException(message), retryAfter_(retryAfter) {}
  std::int32_t RetryAfter() const { return retryAfter_; }

 private:
  std::int32_t retryAfter_ = -1;
};

// The document is not well-formed XML, or its content is not acceptable.
class ManifestParseException : public ManifestException {
 public:
  using ManifestException::ManifestException;
};

// A trusted key is configured and the document's signature is missing,
// malformed or made by no trusted key, or the signed document has expired or
// lacks what trust requires (strong chunk hashes). Never worth a retry.
class ManifestSignatureException : public ManifestException {
 public:
  using ManifestException::ManifestException;
};

// A file's size and chunk size give more chunks than fit in 32 bits.
class ManifestOverflowException : public ManifestException {
 public:
  using ManifestException::ManifestException;
};

}  // namespace velmo
