#include <gtest/gtest.h>

#include <random>

#include "ManifestTestSupport.h"
#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/manifest/StandardNodeListManifest.h"
#include "velmo/manifest/StandardPackageManifest.h"

namespace velmo {
namespace {

// Damages a valid document in small random ways (seeded, so failures repeat):
// a parser must either accept the result or refuse it with a manifest
// exception; anything else (a crash, another exception type) is a fault.
std::string Mutate(std::string text, std::mt19937& random) {
  static const std::string kPieces[] = {
      "<",    ">",   "/",       "\"",      "&", "&#0;", "..",  "-", "9999999999999999999999",
      "<!--", "]]>", "<files>", "</file>", "=", " ",    "\xff"};
  const int edits = 1 + static_cast<int>(random() % 4);
  for (int e = 0; e < edits && !text.empty(); ++e) {
    const std::size_t at = random() % text.size();
    switch (random() % 4) {
      case 0:
        text[at] = static_cast<char>(random() % 256);
        break;
      case 1:
        text.erase(at, 1 + random() % 16);
        break;
      case 2:
        text.insert(at, kPieces[random() % (sizeof(kPieces) / sizeof(kPieces[0]))]);
        break;
      default:
        text.resize(at);
        break;
    }
  }
  return text;
}

template <typename Manifest>
void SurvivesMutations(const std::string& original, std::uint32_t seed) {
  std::mt19937 random(seed);
  int accepted = 0;
  for (int i = 0; i < 3000; ++i) {
    const std::string damaged = Mutate(original, random);
    Manifest manifest;
    try {
      manifest.Parse(test::XmlTree(damaged));
      ++accepted;
    } catch (const ManifestException&) {
    } catch (const std::exception& e) {
      ADD_FAILURE() << "unexpected " << e.what() << " for: " << damaged;
      return;
    }
  }
  // Some damage (inside text, white space) leaves a valid document.
  EXPECT_GT(accepted, 0);
}

TEST(ManifestMutationTest, PackageParserOnlyThrowsManifestExceptions) {
  SurvivesMutations<StandardPackageManifest>(test::ManifestDataFile("package-attributes.xml"), 1);
  SurvivesMutations<StandardPackageManifest>(test::ManifestDataFile("package-elements.xml"), 2);
}

TEST(ManifestMutationTest, NodeListParserOnlyThrowsManifestExceptions) {
  SurvivesMutations<StandardNodeListManifest>(test::ManifestDataFile("nodes-namespaced.xml"), 3);
}

}  // namespace
}  // namespace velmo
