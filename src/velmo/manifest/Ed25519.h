#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace velmo {

// Ed25519 signing and verification over libcrypto. Keys and signatures are
// raw byte strings: a private key is the 32-byte seed, a public key the
// 32-byte encoded point, a signature 64 bytes. The message is signed as is
// (Ed25519 hashes internally), so a signature covers the exact bytes.

constexpr std::size_t kEd25519KeySize = 32;
constexpr std::size_t kEd25519SignatureSize = 64;

// A key of the wrong size, or a failure inside libcrypto.
class Ed25519Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Ed25519KeyPair {
  std::string privateKey;
  std::string publicKey;
};

// A fresh key pair from the system's random source.
Ed25519KeyPair GenerateEd25519KeyPair();

// The public key that belongs to a private key.
std::string Ed25519PublicKey(const std::string& privateKey);

// The 64-byte signature of `message`.
std::string SignEd25519(const std::string& privateKey, const std::string& message);

// True when `signature` is a valid signature of `message` by `publicKey`.
// Keys and signatures of the wrong size, and keys that are not points of the
// curve, are simply not valid: this never throws for bad input.
bool VerifyEd25519(const std::string& publicKey, const std::string& message,
                   const std::string& signature);

}  // namespace velmo
