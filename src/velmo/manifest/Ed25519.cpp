#include "velmo/manifest/Ed25519.h"

#include <openssl/evp.h>

#include <memory>

namespace velmo {

namespace {

struct KeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct KeyContextDeleter {
  void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using Context = std::unique_ptr<EVP_MD_CTX, ContextDeleter>;

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

Key PrivateKey(const std::string& privateKey) {
  if (privateKey.size() != kEd25519KeySize) {
    throw Ed25519Error("an Ed25519 private key has 32 bytes, not " +
                       std::to_string(privateKey.size()));
  }
  Key key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, Bytes(privateKey),
                                       privateKey.size()));
  if (!key) throw Ed25519Error("libcrypto refused the Ed25519 private key");
  return key;
}

}  // namespace

Ed25519KeyPair GenerateEd25519KeyPair() {
  std::unique_ptr<EVP_PKEY_CTX, KeyContextDeleter> context(
      EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr));
  EVP_PKEY* raw = nullptr;
  if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
      EVP_PKEY_keygen(context.get(), &raw) != 1) {
    throw Ed25519Error("libcrypto could not generate an Ed25519 key");
  }
  Key key(raw);
  Ed25519KeyPair pair;
  pair.privateKey.resize(kEd25519KeySize);
  pair.publicKey.resize(kEd25519KeySize);
  std::size_t privateSize = pair.privateKey.size();
  std::size_t publicSize = pair.publicKey.size();
  if (EVP_PKEY_get_raw_private_key(key.get(), reinterpret_cast<unsigned char*>(&pair.privateKey[0]),
                                   &privateSize) != 1 ||
      EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char*>(&pair.publicKey[0]),
                                  &publicSize) != 1 ||
      privateSize != kEd25519KeySize || publicSize != kEd25519KeySize) {
    throw Ed25519Error("libcrypto could not export the Ed25519 key");
  }
  return pair;
}

std::string Ed25519PublicKey(const std::string& privateKey) {
  const Key key = PrivateKey(privateKey);
  std::string publicKey(kEd25519KeySize, '\0');
  std::size_t size = publicKey.size();
  if (EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char*>(&publicKey[0]),
                                  &size) != 1 ||
      size != kEd25519KeySize) {
    throw Ed25519Error("libcrypto could not derive the Ed25519 public key");
  }
  return publicKey;
}

std::string SignEd25519(const std::string& privateKey, const std::string& message) {
  const Key key = PrivateKey(privateKey);
  Context context(EVP_MD_CTX_new());
  std::string signature(kEd25519SignatureSize, '\0');
  std::size_t size = signature.size();
  // Ed25519 takes no separate digest: the message goes in whole, in one call.
  if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
      EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(&signature[0]), &size,
                     Bytes(message), message.size()) != 1 ||
      size != kEd25519SignatureSize) {
    throw Ed25519Error("libcrypto could not sign with the Ed25519 key");
  }
  return signature;
}

bool VerifyEd25519(const std::string& publicKey, const std::string& message,
                   const std::string& signature) {
  if (publicKey.size() != kEd25519KeySize || signature.size() != kEd25519SignatureSize) {
    return false;
  }
  Key key(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, Bytes(publicKey), publicKey.size()));
  Context context(EVP_MD_CTX_new());
  if (!key || !context ||
      EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
    return false;
  }
  return EVP_DigestVerify(context.get(), Bytes(signature), signature.size(), Bytes(message),
                          message.size()) == 1;
}

}  // namespace velmo
