// Keys, signatures and the checks a trusted manifest must pass: base64 in its
// one strict form, Ed25519 over exact bytes, expiry times, key rotation.
#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>
#include <sstream>

#include "velmo/manifest/Base64.h"
#include "velmo/manifest/Ed25519.h"
#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/manifest/ManifestTrust.h"
#include "velmo/manifest/StandardPackageManifest.h"
#include "velmo/manifest/XmlManifestReader.h"

namespace velmo {
namespace {

TEST(Base64Test, RoundTripsEveryLengthAndMatchesTheStandardAlphabet) {
  EXPECT_EQ(EncodeBase64(""), "");
  EXPECT_EQ(EncodeBase64("f"), "Zg==");
  EXPECT_EQ(EncodeBase64("fo"), "Zm8=");
  EXPECT_EQ(EncodeBase64("foo"), "Zm9v");
  EXPECT_EQ(EncodeBase64("foobar"), "Zm9vYmFy");
  EXPECT_EQ(EncodeBase64(std::string("\xfb\xff\xbf", 3)), "+/+/");
  std::string bytes;
  for (int i = 0; i < 300; ++i) {
    bytes.push_back(static_cast<char>(i * 37));
    const auto decoded = DecodeBase64(EncodeBase64(bytes));
    ASSERT_TRUE(decoded.has_value()) << i;
    EXPECT_EQ(*decoded, bytes) << i;
  }
}

TEST(Base64Test, RefusesEverythingButTheOneCanonicalForm) {
  for (const char* text : {"Zg", "Zg=", "Zg===", "Z===", "Zg==Zg==", "Zm9v\n", " Zm9v", "Zm9v YmFy",
                           "Zh==", "Zm9=", "Zm-v", "Zm_v", "Zm9v=", "=Zm9", "Z=9v"}) {
    EXPECT_FALSE(DecodeBase64(text).has_value()) << text;
  }
}

TEST(Ed25519Test, ASignatureCoversTheExactBytesAndOnlyItsKey) {
  const Ed25519KeyPair pair = GenerateEd25519KeyPair();
  ASSERT_EQ(pair.privateKey.size(), kEd25519KeySize);
  ASSERT_EQ(pair.publicKey.size(), kEd25519KeySize);
  EXPECT_EQ(Ed25519PublicKey(pair.privateKey), pair.publicKey);

  const std::string message = "<package>\n  <id>pkg</id>\n</package>\n";
  const std::string signature = SignEd25519(pair.privateKey, message);
  ASSERT_EQ(signature.size(), kEd25519SignatureSize);
  EXPECT_TRUE(VerifyEd25519(pair.publicKey, message, signature));

  // Every single changed byte of the message, and of the signature, fails.
  for (std::size_t i = 0; i < message.size(); ++i) {
    std::string tampered = message;
    tampered[i] = static_cast<char>(tampered[i] ^ 1);
    EXPECT_FALSE(VerifyEd25519(pair.publicKey, tampered, signature)) << i;
  }
  for (std::size_t i = 0; i < signature.size(); ++i) {
    std::string tampered = signature;
    tampered[i] = static_cast<char>(tampered[i] ^ 0x80);
    EXPECT_FALSE(VerifyEd25519(pair.publicKey, message, tampered)) << i;
  }
  EXPECT_FALSE(VerifyEd25519(pair.publicKey, message + " ", signature));
  EXPECT_FALSE(VerifyEd25519(GenerateEd25519KeyPair().publicKey, message, signature));
  // Sizes that cannot be a key or a signature are refused, never thrown.
  EXPECT_FALSE(VerifyEd25519(pair.publicKey.substr(1), message, signature));
  EXPECT_FALSE(VerifyEd25519(pair.publicKey, message, signature.substr(1)));
  EXPECT_FALSE(VerifyEd25519("", message, ""));
  EXPECT_THROW(SignEd25519("short", message), Ed25519Error);
  EXPECT_THROW(Ed25519PublicKey(std::string(33, 'k')), Ed25519Error);
}

TEST(ExpiryTimeTest, ParsesOnlyValidUtcTimesAndFormatsThemBack) {
  EXPECT_EQ(ParseExpiryTime("1970-01-01T00:00:00Z"), 0);
  EXPECT_EQ(ParseExpiryTime("2000-03-01T00:00:00Z"), 951868800);
  EXPECT_EQ(ParseExpiryTime("2024-02-29T23:59:59Z"), 1709251199);
  EXPECT_EQ(ParseExpiryTime("2038-01-19T03:14:08Z"), std::int64_t{1} << 31);
  for (const char* text :
       {"", "2024-02-30T00:00:00Z", "2023-02-29T00:00:00Z", "2100-02-29T00:00:00Z",
        "2024-13-01T00:00:00Z", "2024-00-01T00:00:00Z", "2024-01-01T24:00:00Z",
        "2024-01-01T00:60:00Z", "2024-01-01T00:00:60Z", "2024-01-01 00:00:00Z",
        "2024-01-01T00:00:00", "2024-01-01T00:00:00+00:00", "1969-12-31T23:59:59Z",
        "2024-1-01T00:00:00Z", "+024-01-01T00:00:00Z", "2024-01-01T00:00:00z"}) {
    EXPECT_FALSE(ParseExpiryTime(text).has_value()) << text;
  }
  for (std::int64_t t : {std::int64_t{0}, std::int64_t{951782400}, std::int64_t{1709251199},
                         std::int64_t{4102444800}, std::int64_t{253402300799}}) {
    EXPECT_EQ(ParseExpiryTime(FormatExpiryTime(t)), t) << FormatExpiryTime(t);
  }
  EXPECT_EQ(FormatExpiryTime(1709251199), "2024-02-29T23:59:59Z");
}

class ManifestTrustTest : public ::testing::Test {
 protected:
  static std::string Encoded(const Ed25519KeyPair& pair) { return EncodeBase64(pair.publicKey); }
  static std::string SignatureText(const Ed25519KeyPair& pair, const std::string& document) {
    return EncodeBase64(SignEd25519(pair.privateKey, document)) + "\n";
  }
  // The tree of the root element of an XML document.
  static boost::property_tree::ptree Root(const std::string& xml) {
    std::istringstream in(xml);
    boost::property_tree::ptree tree;
    ReadXmlManifest(in, tree);
    return tree.front().second;
  }

  Ed25519KeyPair current_ = GenerateEd25519KeyPair();
  Ed25519KeyPair next_ = GenerateEd25519KeyPair();
  std::string document_ = "<nodes expires=\"2030-01-01T00:00:00Z\"/>\n";
};

TEST_F(ManifestTrustTest, AcceptsASignatureOfAnyTrustedKeyForRotation) {
  const ManifestTrust trust({Encoded(current_), Encoded(next_)});
  EXPECT_TRUE(trust.IsEnabled());
  EXPECT_NO_THROW(trust.VerifySignature(document_, SignatureText(current_, document_)));
  EXPECT_NO_THROW(trust.VerifySignature(document_, SignatureText(next_, document_)));
  // Without the line break, and with a CR LF one, the line reads the same.
  std::string bare = SignatureText(next_, document_);
  bare.pop_back();
  EXPECT_NO_THROW(trust.VerifySignature(document_, bare));
  EXPECT_NO_THROW(trust.VerifySignature(document_, bare + "\r\n"));

  const ManifestTrust oldOnly({Encoded(current_)});
  EXPECT_THROW(oldOnly.VerifySignature(document_, SignatureText(next_, document_)),
               ManifestSignatureException);
}

TEST_F(ManifestTrustTest, RefusesTamperedMissingAndMalformedSignatures) {
  const ManifestTrust trust({Encoded(current_)});
  const std::string good = SignatureText(current_, document_);
  std::string tampered = document_;
  tampered[10] = 'X';
  EXPECT_THROW(trust.VerifySignature(tampered, good), ManifestSignatureException);
  EXPECT_THROW(trust.VerifySignature(document_, ""), ManifestSignatureException);
  EXPECT_THROW(trust.VerifySignature(document_, "not base64!\n"), ManifestSignatureException);
  EXPECT_THROW(trust.VerifySignature(document_, EncodeBase64(std::string(63, 'x'))),
               ManifestSignatureException);
  EXPECT_THROW(trust.VerifySignature(document_, good + good), ManifestSignatureException);
  EXPECT_THROW(trust.VerifySignature(document_, " " + good), ManifestSignatureException);
}

TEST_F(ManifestTrustTest, AMistypedKeyKeepsCheckingOnButNeverMatches) {
  const ManifestTrust typo({"AAAA"});
  EXPECT_TRUE(typo.IsEnabled());
  EXPECT_THROW(typo.VerifySignature(document_, SignatureText(current_, document_)),
               ManifestSignatureException);
  EXPECT_FALSE(ManifestTrust().IsEnabled());
  EXPECT_TRUE(IsEncodedPublicKey(Encoded(current_)));
  EXPECT_FALSE(IsEncodedPublicKey("AAAA"));
  EXPECT_FALSE(IsEncodedPublicKey(Encoded(current_) + "\n"));
  EXPECT_EQ(SplitKeyList(" a,b;;c\td \n"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_TRUE(SplitKeyList(" ,; ").empty());
}

TEST_F(ManifestTrustTest, ExpiryIsRequiredAndComparedWithTheInjectedClock) {
  const std::int64_t expires = *ParseExpiryTime("2030-01-01T00:00:00Z");
  std::int64_t now = expires - 1;
  const ManifestTrust trust({Encoded(current_)}, [&] { return now; });
  EXPECT_NO_THROW(trust.CheckExpiry(Root(document_)));
  now = expires;
  EXPECT_THROW(trust.CheckExpiry(Root(document_)), ManifestSignatureException);
  now = expires + 86400;
  EXPECT_THROW(trust.CheckExpiry(Root(document_)), ManifestSignatureException);
  now = 0;
  EXPECT_THROW(trust.CheckExpiry(Root("<nodes/>")), ManifestSignatureException);
  EXPECT_THROW(trust.CheckExpiry(Root("<nodes expires=\"soon\"/>")), ManifestSignatureException);
  // Only the attribute counts: a child element of that name does not.
  EXPECT_THROW(trust.CheckExpiry(Root("<nodes><expires>2030-01-01T00:00:00Z</expires></nodes>")),
               ManifestSignatureException);
}

TEST_F(ManifestTrustTest, APackageMustPinEveryChunkWithSha256) {
  auto parse = [](const std::string& sha) {
    std::istringstream in(
        "<package><id>p</id><name>P</name><partnerId>x</partnerId><versionId>1</versionId>"
        "<files><file" +
        sha +
        "><path>a</path><chunksize>4</chunksize><size>6</size>"
        "<checksums>0000000000000000</checksums></file>"
        "<file><path>b</path><chunksize>4</chunksize><size>0</size><checksums></checksums>"
        "</file></files></package>");
    boost::property_tree::ptree tree;
    ReadXmlManifest(in, tree);
    StandardPackageManifest manifest;
    manifest.Parse(tree);
    return manifest;
  };
  const ManifestTrust trust({Encoded(current_)});
  const std::string two(128, 'a');
  StandardPackageManifest withHashes = parse(" sha256=\"" + two + "\"");
  // The empty file has no chunks, and so nothing to pin.
  EXPECT_TRUE(withHashes.GetFiles()[1]->HasStrongHashes());
  // No hashes: the manifest parses, but a trusted download refuses it.
  const StandardPackageManifest unpinned = parse("");
  EXPECT_FALSE(unpinned.GetFiles()[0]->HasStrongHashes());
  EXPECT_THROW(trust.CheckStrongHashes(unpinned), ManifestSignatureException);
  // Hashes of the wrong length or with other digits do not even parse.
  for (const std::string& sha : {" sha256=\"" + two.substr(1) + "\"", " sha256=\"" + two + "a\"",
                                 " sha256=\"" + std::string(127, 'a') + "g\""}) {
    EXPECT_THROW(parse(sha), ManifestParseException) << sha;
  }
  EXPECT_TRUE(withHashes.GetFiles()[0]->HasStrongHashes());
  EXPECT_NO_THROW(trust.CheckStrongHashes(withHashes));
}

}  // namespace
}  // namespace velmo
