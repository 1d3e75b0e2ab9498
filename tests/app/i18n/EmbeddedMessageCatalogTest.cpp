#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "velmo/app/i18n/CustomBoostLocale.h"
#include "velmo/app/i18n/EmbeddedMessageCatalog.h"
#include "velmo/app/i18n/LanguageTable.h"
#include "velmo/app/i18n/Messages.h"

namespace velmo {
namespace {

const catalogs::Catalog* FindEmbedded(const std::string& language) {
  for (const catalogs::Catalog* c = catalogs::EmbeddedCatalogs(); c && c->language; ++c) {
    if (language == c->language) return c;
  }
  return nullptr;
}

std::uint32_t ReadWord(const std::vector<unsigned char>& data, std::size_t at) {
  std::uint32_t v = 0;
  std::memcpy(&v, data.data() + at, 4);  // msgfmt writes the machine's byte order
  return v;
}

void WriteWord(std::vector<unsigned char>& data, std::size_t at, std::uint32_t v) {
  std::memcpy(data.data() + at, &v, 4);
}

TEST(EmbeddedMessageCatalogTest, ServesMappedPathsOnly) {
  const catalogs::Catalog* german = FindEmbedded("de");
  ASSERT_NE(german, nullptr);
  EmbeddedMessageCatalog catalog("updater");
  EXPECT_EQ(catalog.GetRoot(), "");
  EXPECT_EQ(catalog.GetDomain(), "updater");
  catalog.AddLanguage("de", "de");
  catalog.AddLanguage("de", "fr");  // the first mapping stays
  catalog.AddLanguage("xx", "no-such-catalog");

  EXPECT_EQ(catalog.CatalogFor("/de/LC_MESSAGES/updater.mo"), "de");
  const std::vector<char> bytes = catalog.Load("/de/LC_MESSAGES/updater.mo", "UTF-8");
  ASSERT_EQ(bytes.size(), german->size);
  EXPECT_EQ(std::memcmp(bytes.data(), german->data, german->size), 0);

  EXPECT_TRUE(catalog.Load("/fr/LC_MESSAGES/updater.mo", "UTF-8").empty());
  EXPECT_TRUE(catalog.Load("/de/LC_MESSAGES/other.mo", "UTF-8").empty());
  EXPECT_TRUE(catalog.Load("de", "UTF-8").empty());
  EXPECT_TRUE(catalog.Load("/xx/LC_MESSAGES/updater.mo", "UTF-8").empty());
}

TEST(EmbeddedMessageCatalogTest, LanguageTableAndEmbeddedCatalogsMatch) {
  std::set<std::string> embedded;
  for (const catalogs::Catalog* c = catalogs::EmbeddedCatalogs(); c && c->language; ++c) {
    EXPECT_TRUE(IsWellFormedMo(c->data, c->size)) << c->language;
    embedded.insert(c->language);
  }
  std::set<std::string> used;
  std::set<std::string> codes;
  for (std::size_t i = 0; i < kLanguageTableSize; ++i) {
    const LanguageEntry& e = kLanguageTable[i];
    EXPECT_TRUE(codes.insert(e.code).second) << "duplicate code " << e.code;
    EXPECT_TRUE(embedded.count(e.catalogLanguage)) << e.code << " -> " << e.catalogLanguage;
    EXPECT_GE(e.catalogId, 111);
    EXPECT_LE(e.catalogId, 128);
    used.insert(e.catalogLanguage);
  }
  EXPECT_EQ(used, embedded);
  EXPECT_EQ(kLanguageTableSize, 40u);

  // Every code leads to its own catalog once registered (a shifted row would
  // serve one language another's texts).
  EmbeddedMessageCatalog catalog("updater");
  AddLanguageTable(catalog);
  for (std::size_t i = 0; i < kLanguageTableSize; ++i) {
    const LanguageEntry& e = kLanguageTable[i];
    const std::string path =
        catalog.GetRoot() + "/" + e.code + "/LC_MESSAGES/" + catalog.GetDomain() + ".mo";
    EXPECT_EQ(catalog.CatalogFor(path), e.catalogLanguage) << e.code;
  }
}

class DamagedCatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const catalogs::Catalog* german = FindEmbedded("de");
    ASSERT_NE(german, nullptr);
    bytes_.assign(german->data, german->data + german->size);
  }

  // A locale whose only catalog ("de") holds `data`.
  std::string TranslateWith(const std::vector<unsigned char>& data) {
    const catalogs::Catalog table[] = {{"de", data.data(), data.size()}, {nullptr, nullptr, 0}};
    EmbeddedMessageCatalog catalog("updater", table);
    catalog.AddLanguage("de", "de");
    CustomBoostLocale locale(catalog, "de");
    return locale.Translate(messages::kCalculating);
  }

  std::vector<unsigned char> bytes_;
};

TEST_F(DamagedCatalogTest, IntactCopyTranslates) {
  EXPECT_EQ(TranslateWith(bytes_), "Berechne verbleibende Zeit");
}

TEST_F(DamagedCatalogTest, DamagedCatalogsLeaveTextsInEnglish) {
  std::vector<std::vector<unsigned char>> damaged;
  damaged.push_back({});
  damaged.emplace_back(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(
                                                            bytes_.size() / 2));  // truncated
  damaged.emplace_back(bytes_.begin(), bytes_.begin() + 20);                      // header cut
  auto magic = bytes_;
  magic[0] ^= 0xFF;
  damaged.push_back(magic);
  auto keyOffset = bytes_;  // first original string points far outside
  WriteWord(keyOffset, ReadWord(keyOffset, 12) + 4, 0x7FFFFFF0u);
  damaged.push_back(keyOffset);
  auto valueLength = bytes_;  // first translation runs past the end
  WriteWord(valueLength, ReadWord(valueLength, 16), 0xFFFFFFF0u);
  damaged.push_back(valueLength);
  auto count = bytes_;  // more strings than the tables hold
  WriteWord(count, 8, 0x10000000u);
  damaged.push_back(count);
  auto hash = bytes_;  // a hash slot naming a string that does not exist
  if (ReadWord(hash, 20) > 0) {
    WriteWord(hash, ReadWord(hash, 24), 0x00FFFFFFu);
    damaged.push_back(hash);
  }
  for (std::size_t i = 0; i < damaged.size(); ++i) {
    EXPECT_FALSE(IsWellFormedMo(damaged[i].data(), damaged[i].size())) << i;
    EXPECT_EQ(TranslateWith(damaged[i]), "Calculating time remaining") << i;
  }
}

}  // namespace
}  // namespace velmo
