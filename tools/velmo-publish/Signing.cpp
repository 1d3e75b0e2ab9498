#include "Signing.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <system_error>

#include "Publisher.h"
#include "velmo/manifest/Base64.h"
#include "velmo/manifest/Ed25519.h"
#include "velmo/manifest/ManifestTrust.h"

namespace velmo::publish {

namespace fs = std::filesystem;

namespace {

// Creates `path` with `mode` and writes `text`; refuses an existing file.
void WriteNewFile(const fs::path& path, const std::string& text, mode_t mode) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    const int error = errno;
    if (error == EEXIST) {
      throw PublishError(path.string() + ": already exists; a key is never replaced");
    }
    throw PublishError(path.string() + ": cannot create: " + std::strerror(error));
  }
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      throw PublishError(path.string() + ": cannot write: " + std::strerror(errno));
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) {
    throw PublishError(path.string() + ": cannot write: " + std::strerror(errno));
  }
}

// The root element's opening tag, from "<root" to the first '>' after it.
std::pair<std::size_t, std::size_t> RootTag(const std::string& document, const std::string& root) {
  const std::string open = "<" + root;
  std::size_t at = document.find(open);
  while (at != std::string::npos) {
    const char next = at + open.size() < document.size() ? document[at + open.size()] : '\0';
    if (next == '>' || next == ' ' || next == '/') break;
    at = document.find(open, at + 1);
  }
  if (at == std::string::npos) {
    throw PublishError("document has no <" + root + "> element");
  }
  const std::size_t end = document.find('>', at);
  if (end == std::string::npos) throw PublishError("document's <" + root + "> is not closed");
  return {at, end};
}

const char kExpiresAttribute[] = " expires=\"";

}  // namespace

std::string WriteKeyPair(const fs::path& path) {
  if (path.empty()) throw PublishError("--out: must be given");
  const Ed25519KeyPair pair = GenerateEd25519KeyPair();
  fs::path publicPath = path;
  publicPath += ".pub";
  std::error_code ec;
  if (fs::exists(fs::symlink_status(publicPath, ec))) {
    throw PublishError(publicPath.string() + ": already exists; a key is never replaced");
  }
  WriteNewFile(path, EncodeBase64(pair.privateKey) + "\n", 0600);
  std::string publicKey = EncodeBase64(pair.publicKey);
  WriteNewFile(publicPath, publicKey + "\n", 0644);
  return publicKey;
}

std::string ReadPrivateKey(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PublishError(path.string() + ": cannot read the signing key");
  std::string text;
  std::getline(in, text);
  if (!text.empty() && text.back() == '\r') text.pop_back();
  const auto key = DecodeBase64(text);
  if (!key || key->size() != kEd25519KeySize) {
    throw PublishError(path.string() +
                       ": is not a signing key (one line of base64 of 32 bytes, as written "
                       "by 'velmo-publish keygen')");
  }
  return *key;
}

std::int64_t ParseExpiresOption(const std::string& text, std::int64_t now) {
  std::int64_t expires = 0;
  if (const auto absolute = ParseExpiryTime(text)) {
    expires = *absolute;
  } else {
    const char unit = text.empty() ? '\0' : text.back();
    const std::string digits = text.substr(0, text.empty() ? 0 : text.size() - 1);
    const bool numeric = !digits.empty() && digits.size() <= 6 &&
                         digits.find_first_not_of("0123456789") == std::string::npos;
    if (!numeric || (unit != 'd' && unit != 'h')) {
      throw PublishError("--expires: '" + text +
                         "' is not <N>d, <N>h or a time YYYY-MM-DDTHH:MM:SSZ");
    }
    expires = now + std::stoll(digits) * (unit == 'd' ? 86400 : 3600);
  }
  if (expires <= now) throw PublishError("--expires: '" + text + "' is not in the future");
  return expires;
}

std::string WithExpiry(const std::string& document, const std::string& root, std::int64_t expires) {
  const std::string plain = WithoutExpiry(document, root);
  const auto tag = RootTag(plain, root);
  return plain.substr(0, tag.first + 1 + root.size()) + kExpiresAttribute +
         FormatExpiryTime(expires) + "\"" + plain.substr(tag.first + 1 + root.size());
}

std::string WithoutExpiry(const std::string& document, const std::string& root) {
  const auto tag = RootTag(document, root);
  const std::size_t at = document.find(kExpiresAttribute, tag.first);
  if (at == std::string::npos || at > tag.second) return document;
  const std::size_t close = document.find('"', at + std::strlen(kExpiresAttribute));
  if (close == std::string::npos || close > tag.second) return document;
  return document.substr(0, at) + document.substr(close + 1);
}

void WriteSigned(const fs::path& path, const std::string& document, const SignOptions& sign) {
  fs::path signaturePath = path;
  signaturePath += ".sig";
  WriteAtomically(path, document);
  if (sign.Enabled()) {
    WriteAtomically(signaturePath, EncodeBase64(SignEd25519(sign.privateKey, document)) + "\n");
  } else {
    std::error_code ec;
    fs::remove(signaturePath, ec);
  }
}

}  // namespace velmo::publish
