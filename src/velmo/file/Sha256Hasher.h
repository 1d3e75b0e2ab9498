#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace velmo {

using Sha256Digest = std::array<std::uint8_t, 32>;

// SHA-256 over bytes fed in pieces, through libcrypto's EVP interface (which
// picks the CPU's SHA extensions where the processor has them). Digest()
// leaves the state as it is, so more bytes may follow and the digest of each
// prefix can be taken. Copyable: a copy carries on from the same state. Used
// by one thread at a time.
class Sha256Hasher {
 public:
  Sha256Hasher();
  Sha256Hasher(const Sha256Hasher& other);
  Sha256Hasher& operator=(const Sha256Hasher& other);
  ~Sha256Hasher();

  void Update(const void* data, std::size_t size);
  // The digest of every byte given since construction or Reset.
  Sha256Digest Digest() const;
  // The digest of the bytes given so far followed by `tail`, without taking
  // `tail` into the state.
  Sha256Digest DigestWith(const void* tail, std::size_t size) const;
  void Reset();

 private:
  EVP_MD_CTX* context_;
};

// The digest of one buffer.
Sha256Digest Sha256Of(const void* data, std::size_t size);

// 64 lowercase hexadecimal digits.
std::string Sha256Hex(const Sha256Digest& digest);

}  // namespace velmo
