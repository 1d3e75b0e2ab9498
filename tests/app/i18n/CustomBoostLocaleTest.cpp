#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "support/ScopedEnv.h"
#include "velmo/app/i18n/CustomBoostLocale.h"
#include "velmo/app/i18n/EmbeddedMessageCatalog.h"
#include "velmo/app/i18n/LanguageTable.h"
#include "velmo/app/i18n/Messages.h"
#include "velmo/platform/BuildValues.h"

namespace velmo {
namespace {

// Forwards to the program's catalog and remembers which paths Boost.Locale
// asked for and which of them were served.
class SpyCatalog final : public MessageCatalog {
 public:
  SpyCatalog() : inner_("updater") { AddLanguageTable(inner_); }

  std::string GetRoot() const override { return inner_.GetRoot(); }
  std::string GetDomain() const override { return inner_.GetDomain(); }
  std::vector<char> Load(const std::string& path, const std::string& encoding) const override {
    std::vector<char> bytes = inner_.Load(path, encoding);
    requested.push_back(path);
    if (!bytes.empty()) served.push_back(path);
    return bytes;
  }

  // The embedded catalog that supplied the translations, or "" for none.
  std::string ServedCatalog() const {
    return served.empty() ? std::string() : inner_.CatalogFor(served.front());
  }

  mutable std::vector<std::string> requested;
  mutable std::vector<std::string> served;

 private:
  EmbeddedMessageCatalog inner_;
};

std::vector<std::string> AllMessageIds(const std::string& supportHost) {
  using namespace messages;
  return {kTitle,
          kErrorCaption,
          kLaunching,
          kCalculating,
          kOneHour,
          kOneHourOneMinute,
          kOneHourMinutes,
          kHours,
          kHoursOneMinute,
          kHoursMinutes,
          kOneMinute,
          kMinutes,
          kOneSecond,
          kSeconds,
          kConnectionError,
          kOutOfMemory,
          kDiskFull,
          kDiskWrite,
          UnexpectedError(supportHost),
          LaunchFailed(supportHost)};
}

// The "{digits}" placeholders of a text, with repetitions.
std::multiset<std::string> Placeholders(const std::string& text) {
  std::multiset<std::string> found;
  for (std::size_t open = text.find('{'); open != std::string::npos;
       open = text.find('{', open + 1)) {
    std::size_t end = open + 1;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    if (end > open + 1 && end < text.size() && text[end] == '}') {
      found.insert(text.substr(open, end - open + 1));
    }
  }
  return found;
}

TEST(CustomBoostLocaleTest, CatalogIsChosenByCountryThenLanguage) {
  struct Case {
    const char* code;
    const char* catalog;      // embedded catalog expected to serve it
    const char* calculating;  // its "Calculating time remaining"
  };
  const Case cases[] = {
      {"es_MX", "es_AR", "Calculando tiempo restante"},
      {"es", "es", "Calculando el tiempo restante"},
      {"es_ES", "es", "Calculando el tiempo restante"},
      {"zh_HK", "zh_TW", "正在計算剩餘時間"},
      {"zh_SG", "zh_CN", "正在计算剩余时间"},
      {"de_AT", "de", "Berechne verbleibende Zeit"},
      {"en", "", "Calculating time remaining"},
  };
  for (const Case& c : cases) {
    SpyCatalog spy;
    CustomBoostLocale locale(spy, c.code);
    EXPECT_EQ(locale.GetLanguage(), c.code);
    EXPECT_EQ(spy.ServedCatalog(), c.catalog) << c.code;
    EXPECT_EQ(locale.Translate(messages::kCalculating), c.calculating) << c.code;
  }
}

TEST(CustomBoostLocaleTest, CountryCatalogIsAskedForBeforeTheLanguageOne) {
  SpyCatalog spy;
  CustomBoostLocale locale(spy, "de_AT");
  ASSERT_GE(spy.requested.size(), 2u);
  EXPECT_EQ(spy.requested.front(), "/de_AT/LC_MESSAGES/updater.mo");
  ASSERT_EQ(spy.served.size(), 1u);
  EXPECT_EQ(spy.served.front(), "/de/LC_MESSAGES/updater.mo");
}

TEST(CustomBoostLocaleTest, SetLanguageSwitchesTranslations) {
  SpyCatalog spy;
  CustomBoostLocale locale(spy, "fr");
  EXPECT_EQ(locale.Translate(messages::kCalculating), "Calcul du temps restant");
  locale.SetLanguage("it");
  EXPECT_EQ(locale.GetLanguage(), "it");
  EXPECT_EQ(locale.Translate(messages::kCalculating), "Calcolo del tempo rimanente");
  locale.SetLanguage("xx_YY");
  EXPECT_EQ(locale.Translate(messages::kCalculating), "Calculating time remaining");
  locale.SetLanguage("not a locale name@@..");
  EXPECT_EQ(locale.Translate(messages::kCalculating), "Calculating time remaining");
}

TEST(CustomBoostLocaleTest, EveryCatalogTranslatesEveryMessageAndKeepsPlaceholders) {
  EmbeddedMessageCatalog catalog("updater");
  AddLanguageTable(catalog);
  const std::vector<std::string> ids = AllMessageIds(build::kSupportHost);
  int languages = 0;
  for (const catalogs::Catalog* c = catalogs::EmbeddedCatalogs(); c && c->language; ++c) {
    ++languages;
    CustomBoostLocale locale(catalog, c->language);
    for (const std::string& id : ids) {
      const std::string text = locale.Translate(id);
      EXPECT_NE(text, id) << c->language << ": untranslated \"" << id << "\"";
      EXPECT_EQ(Placeholders(text), Placeholders(id)) << c->language << ": " << text;
    }
  }
  EXPECT_EQ(languages, 18);
}

TEST(CustomBoostLocaleTest, GivenExamplesAreUsedAsTheyStand) {
  EmbeddedMessageCatalog catalog("updater");
  AddLanguageTable(catalog);
  CustomBoostLocale german(catalog, "de");
  EXPECT_EQ(german.Translate("Calculating time remaining"), "Berechne verbleibende Zeit");
  EXPECT_EQ(german.Translate("{1} hours, {2} minutes remaining"),
            "{1} Stunden, {2} Minuten verbleibend");
  CustomBoostLocale czech(catalog, "cs");
  EXPECT_EQ(czech.Translate("{1} Downloader"), "Stahovač {1}");
}

TEST(CustomBoostLocaleTest, SupportTextsCarryTheBuildsHostInEveryLanguage) {
  EmbeddedMessageCatalog catalog("updater");
  AddLanguageTable(catalog);
  const std::string host = "help.example.org";
  CustomBoostLocale german(catalog, "de", host);
  EXPECT_EQ(german.Translate(messages::UnexpectedError(host)),
            "Ein unerwarteter Fehler ist aufgetreten. Weitere Hilfe erhalten Sie unter "
            "help.example.org.");
  EXPECT_EQ(german.Format(messages::LaunchFailed(host), "Velmo"),
            "Der Velmo-Downloader konnte nicht gestartet werden. Weitere Hilfe erhalten Sie "
            "unter help.example.org.");
  // A host other than the build's is not a known message: English, host kept.
  const std::string other = messages::UnexpectedError("elsewhere.example");
  EXPECT_EQ(german.Translate(other), other);

  CustomBoostLocale english(catalog, "en", host);
  EXPECT_EQ(english.Translate(messages::UnexpectedError(host)),
            "An unexpected error occurred. Please visit help.example.org for further "
            "assistance.");

  CustomBoostLocale program(catalog, "ja");
  const std::string text = program.Translate(messages::UnexpectedError());
  EXPECT_NE(text.find(build::kSupportHost), std::string::npos) << text;
  EXPECT_EQ(text.find(messages::kSupportHostToken), std::string::npos) << text;
}

TEST(CustomBoostLocaleTest, FormatFillsTranslatedOrPlainArguments) {
  EmbeddedMessageCatalog catalog("updater");
  AddLanguageTable(catalog);
  CustomBoostLocale locale(catalog, "de");
  EXPECT_EQ(locale.Format(messages::kTitle, "Velmo Demo"), "Velmo Demo-Downloader");
  EXPECT_EQ(locale.Format("{1} or {1}", "Velmo"), "Velmo or Velmo");
  // An empty name (a language missing from a localized value) must not pull
  // in the catalog's header entry, whose id is the empty string.
  EXPECT_EQ(locale.Translate(""), "");
  EXPECT_EQ(locale.Format(messages::kTitle, ""), "-Downloader");
  // Format translates its argument, FormatPlain does not.
  EXPECT_EQ(locale.Format("[{1}]", messages::kCalculating), "[Berechne verbleibende Zeit]");
  EXPECT_EQ(locale.FormatPlain("[{1}]", messages::kCalculating), "[Calculating time remaining]");
  // The second argument is inserted last, so a "{1}" in it stays as it is.
  EXPECT_EQ(locale.Format2(messages::kHoursMinutes, "3", "{1}"),
            "3 Stunden, {1} Minuten verbleibend");
}

TEST(CustomBoostLocaleTest, NumbersAndSizesAreTheSameInEveryLanguage) {
  EmbeddedMessageCatalog catalog("updater");
  AddLanguageTable(catalog);
  for (const char* code : {"en", "de", "fr", "ru"}) {
    CustomBoostLocale locale(catalog, code);
    EXPECT_EQ(locale.FormatSize(0), "0 KB") << code;
    EXPECT_EQ(locale.FormatSize(1536), "2 KB") << code;
    EXPECT_EQ(locale.FormatSize(1048575), "1024 KB") << code;
    EXPECT_EQ(locale.FormatSize(1048576), "1.00 MB") << code;
    EXPECT_EQ(locale.FormatSize(1572864), "1.50 MB") << code;
    EXPECT_EQ(locale.FormatSize(1073741823), "1024.00 MB") << code;
    EXPECT_EQ(locale.FormatSize(1073741824), "1.00 GB") << code;
    EXPECT_EQ(locale.FormatSize(5497558138880ull), "5120.00 GB") << code;
    EXPECT_EQ(locale.FormatSize(std::numeric_limits<std::uint64_t>::max()), "17179869184.00 GB");
    EXPECT_EQ(locale.FormatNumber(1234567.25, 2), "1234567.25") << code;
    EXPECT_EQ(locale.FormatNumber(-1.5, 1), "-1.5") << code;
    EXPECT_EQ(locale.FormatNumber(2.75, -3), "3") << code;
    EXPECT_EQ(locale.FormatPercent(0.256, 1), "25.6%") << code;
    EXPECT_EQ(locale.FormatPercent(1.0, 0), "100%") << code;
  }
}

TEST(CustomBoostLocaleTest, EmptyLanguageFollowsTheEnvironment) {
  EmbeddedMessageCatalog catalog("updater");
  AddLanguageTable(catalog);
  test::ScopedEnv env;
  env.Set("LC_ALL", "");
  env.Set("LC_MESSAGES", "de_DE.ISO-8859-1");
  env.Set("LANG", "fr_FR.UTF-8");
  {
    CustomBoostLocale locale(catalog, "");
    EXPECT_EQ(locale.GetLanguage(), "");
    // Messages come out in UTF-8 whatever encoding the environment names.
    EXPECT_EQ(locale.Translate(messages::kConnectionError).find("überprüfen") != std::string::npos,
              true);
  }
  env.Set("LC_ALL", "ja_JP");
  EXPECT_EQ(CustomBoostLocale(catalog, "").Translate(messages::kCalculating),
            "残り時間を計算しています");
  env.Set("LC_ALL", nullptr);
  env.Set("LC_MESSAGES", nullptr);
  EXPECT_EQ(CustomBoostLocale(catalog, "").Translate(messages::kCalculating),
            "Calcul du temps restant");
  env.Set("LANG", "C");
  EXPECT_EQ(CustomBoostLocale(catalog, "").Translate(messages::kCalculating),
            "Calculating time remaining");
  env.Set("LANG", nullptr);
  EXPECT_EQ(CustomBoostLocale(catalog, "").Translate(messages::kCalculating),
            "Calculating time remaining");
}

TEST(LocaleNameForLanguageTest, AlwaysUtf8AndKeepsTheVariant) {
  EXPECT_EQ(LocaleNameForLanguage("de_AT"), "de_AT.UTF-8");
  EXPECT_EQ(LocaleNameForLanguage("es"), "es.UTF-8");
  EXPECT_EQ(LocaleNameForLanguage("sr_RS.ISO-8859-5@latin"), "sr_RS.UTF-8@latin");
  EXPECT_EQ(LocaleNameForLanguage("POSIX"), "C.UTF-8");
  test::ScopedEnv env;
  env.Set("LC_ALL", nullptr);
  env.Set("LC_MESSAGES", nullptr);
  env.Set("LANG", "pt_BR.utf8");
  EXPECT_EQ(LocaleNameForLanguage(""), "pt_BR.UTF-8");
  env.Set("LANG", nullptr);
  EXPECT_EQ(LocaleNameForLanguage(""), "C.UTF-8");
}

}  // namespace
}  // namespace velmo
