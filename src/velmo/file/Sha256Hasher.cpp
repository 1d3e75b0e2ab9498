#include "velmo/file/Sha256Hasher.h"

#include <openssl/evp.h>

#include <new>
#include <stdexcept>

namespace velmo {
namespace {

// EVP fails only when out of memory or with a broken library; either way no
// digest can be trusted, so the caller gets an exception, never a zero hash.
void Check(int ok, const char* what) {
  if (ok != 1) throw std::runtime_error(std::string("SHA-256: ") + what + " failed");
}

EVP_MD_CTX* NewContext() {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  if (context == nullptr) throw std::bad_alloc();
  return context;
}

}  // namespace

Sha256Hasher::Sha256Hasher() : context_(NewContext()) {
  try {
    Reset();
  } catch (...) {
    EVP_MD_CTX_free(context_);
    throw;
  }
}

Sha256Hasher::Sha256Hasher(const Sha256Hasher& other) : context_(NewContext()) {
  if (EVP_MD_CTX_copy_ex(context_, other.context_) != 1) {
    EVP_MD_CTX_free(context_);
    throw std::runtime_error("SHA-256: copying the state failed");
  }
}

Sha256Hasher& Sha256Hasher::operator=(const Sha256Hasher& other) {
  if (this != &other) Check(EVP_MD_CTX_copy_ex(context_, other.context_), "copying the state");
  return *this;
}

Sha256Hasher::~Sha256Hasher() { EVP_MD_CTX_free(context_); }

void Sha256Hasher::Update(const void* data, std::size_t size) {
  if (size != 0) Check(EVP_DigestUpdate(context_, data, size), "update");
}

Sha256Digest Sha256Hasher::Digest() const { return DigestWith(nullptr, 0); }

Sha256Digest Sha256Hasher::DigestWith(const void* tail, std::size_t size) const {
  // Finishing consumes a context, so a copy is finished instead.
  Sha256Hasher copy(*this);
  copy.Update(tail, size);
  Sha256Digest digest{};
  unsigned int length = 0;
  Check(EVP_DigestFinal_ex(copy.context_, digest.data(), &length), "final");
  if (length != digest.size()) throw std::runtime_error("SHA-256: unexpected digest length");
  return digest;
}

void Sha256Hasher::Reset() {
  Check(EVP_DigestInit_ex(context_, EVP_sha256(), nullptr), "initialization");
}

Sha256Digest Sha256Of(const void* data, std::size_t size) {
  Sha256Hasher hasher;
  hasher.Update(data, size);
  return hasher.Digest();
}

std::string Sha256Hex(const Sha256Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(digest.size() * 2);
  for (std::uint8_t byte : digest) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0f]);
  }
  return text;
}

}  // namespace velmo
