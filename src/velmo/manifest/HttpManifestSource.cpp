#include "velmo/manifest/HttpManifestSource.h"

#include <new>
#include <sstream>

#include "velmo/http/HttpRequest.h"
#include "velmo/http/HttpRequestFactory.h"
#include "velmo/http/HttpRequestParams.h"
#include "velmo/http/HttpWriteCallback.h"
#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/manifest/ManifestTrust.h"

namespace velmo {

namespace {

// Appends the body to the caller's stream, like the string stream writer,
// until the document would pass the cap; then refuses the block, which ends
// the request with a write error.
class CappedStreamWriter : public HttpWriteCallback {
 public:
  CappedStreamWriter(std::ostream& stream, std::size_t cap) : stream_(stream), cap_(cap) {}

  HttpRequestStatus Write(const char* data, std::size_t size) override {
    if (size == 0) {
      return HttpRequestStatus(HttpRequestResult::Success, 0);
    }
    if (size > cap_ - written_) {
      exceeded_ = true;
      HttpRequestStatus status(HttpRequestResult::WriteError, 0);
      status.errorMessage = "manifest document exceeds " + std::to_string(cap_) + " bytes";
      return status;
    }
    stream_.write(data, static_cast<std::streamsize>(size));
    if (!stream_) {
      return HttpRequestStatus(HttpRequestResult::WriteError, 0);
    }
    written_ += size;
    return HttpRequestStatus(HttpRequestResult::Success, size);
  }

  bool Exceeded() const { return exceeded_; }

 private:
  std::ostream& stream_;
  std::size_t cap_;
  std::size_t written_ = 0;
  bool exceeded_ = false;
};

}  // namespace

HttpManifestSource::HttpManifestSource(std::string url, HttpRequestFactory* requestFactory,
                                       std::shared_ptr<HttpSession> session,
                                       std::int32_t connectTimeout, std::int32_t timeout,
                                       std::size_t maxDocumentSize)
    : url_(std::move(url)),
      requestFactory_(requestFactory),
      session_(std::move(session)),
      connectTimeout_(connectTimeout),
      timeout_(timeout),
      maxDocumentSize_(maxDocumentSize) {}

void HttpManifestSource::Fetch(const std::string& /*key*/, std::ostream& stream) {
  FetchUrl(url_, stream, maxDocumentSize_);
}

void HttpManifestSource::ReadTrusted(const std::string& key, InputManifest& manifest,
                                     const ManifestTrust& trust, const std::string& rootElement) {
  if (!trust.IsEnabled()) {
    Read(key, manifest);
    return;
  }
  std::ostringstream document;
  FetchUrl(url_, document, maxDocumentSize_);
  std::ostringstream signature;
  const std::string signatureUrl = url_ + ".sig";
  try {
    FetchUrl(signatureUrl, signature, kMaxSignatureSize);
  } catch (const ManifestLocatorException& e) {
    throw ManifestSignatureException("no signature at " + signatureUrl + ": " + e.what());
  } catch (const ManifestParseException&) {
    throw ManifestSignatureException("signature at " + signatureUrl + " exceeds " +
                                     std::to_string(kMaxSignatureSize) + " bytes");
  }
  std::string bytes = document.str();
  document.str(std::string());
  trust.VerifySignature(bytes, signature.str());

  std::istringstream stream(bytes);
  std::string().swap(bytes);
  boost::property_tree::ptree tree;
  ParseFor(stream, tree, manifest);
  const auto root = tree.find(rootElement);
  if (root == tree.not_found()) {
    throw ManifestParseException("document has no " + rootElement + " element");
  }
  trust.CheckExpiry(root->second);
  manifest.Parse(tree);
}

void HttpManifestSource::FetchUrl(const std::string& url, std::ostream& stream, std::size_t cap) {
  CappedStreamWriter writer(stream, cap);
  HttpRequestParams params(url, &writer);
  params.connectTimeout = connectTimeout_;
  params.timeout = timeout_;
  const auto request = requestFactory_->Create(params, session_);
  const HttpRequestStatus status = request->Execute();

  if (writer.Exceeded()) {
    throw ManifestParseException(status.errorMessage);
  }
  switch (status.result) {
    case HttpRequestResult::Success:
      if (stream.good()) {
        return;
      }
      throw ManifestStreamException(status.errorMessage);
    case HttpRequestResult::OutOfMemory:
      throw std::bad_alloc();
    case HttpRequestResult::ClientError:
      // Too many requests: the document is there, the host wants a pause.
      if (status.responseCode == 429) {
        throw ManifestStreamException(status.errorMessage, status.retryAfter);
      }
      throw ManifestLocatorException(status.errorMessage);
    case HttpRequestResult::InvalidRequest:
      throw ManifestLocatorException(status.errorMessage);
    default:
      throw ManifestStreamException(status.errorMessage, status.retryAfter);
  }
}

}  // namespace velmo
