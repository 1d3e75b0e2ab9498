#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "velmo/manifest/ManifestSource.h"

namespace velmo {

class HttpRequestFactory;
class HttpSession;
class ManifestTrust;

// Fetches a manifest document with one HTTP GET of a fixed URL (the key given
// to Fetch is not used) and maps the outcome onto the manifest exceptions:
// InvalidRequest and ClientError mean the document cannot be located
// (ManifestLocatorException), OutOfMemory is std::bad_alloc, and every other
// failure is a ManifestStreamException; the status's error message goes with
// them. Nothing is retried here.
//
// The document is held in memory as it arrives, so a body beyond the size cap
// (kMaxDocumentSize unless given) ends the request and is reported as an
// invalid document (ManifestParseException): a broken or hostile server must
// not be able to exhaust memory, and a retry would fetch the same document.
//
// Under a trust with keys, ReadTrusted also fetches the detached signature
// at "<url>.sig" and verifies it over the exact bytes before anything is
// parsed, then checks the expiry of the document's root element.
//
// A source is made for one read and used by one thread; the request factory
// and the session it shares lock for themselves.
class HttpManifestSource : public ManifestSource {
 public:
  static constexpr std::size_t kMaxDocumentSize = std::size_t{64} << 20;

  HttpManifestSource(std::string url, HttpRequestFactory* requestFactory,
                     std::shared_ptr<HttpSession> session, std::int32_t connectTimeout,
                     std::int32_t timeout, std::size_t maxDocumentSize = kMaxDocumentSize);

  static constexpr std::size_t kMaxSignatureSize = 1024;

  void Fetch(const std::string& key, std::ostream& stream) override;

  // Read, checked under `trust` when it has keys: the document and its
  // signature are fetched, the signature verified, the document parsed, the
  // expiry of `rootElement` checked, and only then the manifest's own Parse
  // runs. A signature the server does not have (a locator failure) or that
  // is too large is a ManifestSignatureException; transport failures keep
  // their usual exceptions so that they are retried.
  void ReadTrusted(const std::string& key, InputManifest& manifest, const ManifestTrust& trust,
                   const std::string& rootElement);

  const std::string& GetUrl() const { return url_; }

 private:
  void FetchUrl(const std::string& url, std::ostream& stream, std::size_t cap);

  std::string url_;
  HttpRequestFactory* requestFactory_;
  std::shared_ptr<HttpSession> session_;
  std::int32_t connectTimeout_;
  std::int32_t timeout_;
  std::size_t maxDocumentSize_;
};

}  // namespace velmo
