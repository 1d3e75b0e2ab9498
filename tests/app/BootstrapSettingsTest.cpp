#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/MapStringTable.h"
#include "support/TempDir.h"
#include "velmo/app/BootstrapSettings.h"
#include "velmo/platform/BuildValues.h"

namespace velmo {
namespace {

using test::MapStringTable;

// Sets or clears environment variables for one test and restores them.
class ScopedEnv {
 public:
  void Set(const char* name, const char* value) {
    Save(name);
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }

 private:
  void Save(const char* name) {
    if (saved_.count(name)) return;
    const char* old = std::getenv(name);
    saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

// A build without a host, without languages: the identifiers and names only.
MapStringTable PlainTable() {
  return MapStringTable({{103, "0123456789abcdef01234567"},
                         {104, "0123456789abcdef89abcdef"},
                         {105, "89abcdef0123456789abcdef"},
                         {106, "fedcba9876543210fedcba98"},
                         {107, "76543210fedcba9876543210"},
                         {108, "Velmo Demo"},
                         {109, "Velmo Folder"}});
}

BootstrapSettings Build(const std::vector<std::string>& args,
                        const MapStringTable& table = PlainTable()) {
  return BootstrapSettings(table, args);
}

class BootstrapSettingsTest : public ::testing::Test {
 protected:
  test::TempDir temp_;  // the work folder lands below a folder of the test's own
};

TEST_F(BootstrapSettingsTest, PlainTableWithoutArgumentsKeepsEveryDefault) {
  const BootstrapSettings s = Build({"/opt/velmo/velmo-bootstrap"});
  EXPECT_EQ(s.GetProgramPath(), "/opt/velmo/velmo-bootstrap");
  EXPECT_EQ(s.GetHost(), "");
  EXPECT_EQ(s.GetDefaultLanguage(), "");
  EXPECT_TRUE(s.GetLanguages().empty());
  EXPECT_EQ(s.InitialLanguage(), "");
  EXPECT_EQ(s.GetSkinVersion(), "?");
  EXPECT_EQ(s.GetPackageVersion(), "?");
  EXPECT_EQ(s.GetLogMask(), -9);
  EXPECT_EQ(static_cast<std::uint32_t>(s.GetLogMask()), 0xFFFFFFF7u);
  EXPECT_EQ(s.GetDownloaderPartnerId(), "0123456789abcdef01234567");
  EXPECT_EQ(s.GetPartnerId(), "0123456789abcdef89abcdef");
  EXPECT_EQ(s.GetDownloaderPackageId(), "76543210fedcba9876543210");
  EXPECT_EQ(s.GetProductPackageId(""), "89abcdef0123456789abcdef");
  EXPECT_EQ(s.GetSkinPackageId(""), "fedcba9876543210fedcba98");
  EXPECT_EQ(s.GetDisplayName(""), "Velmo Demo");
  EXPECT_EQ(s.GetProductFolder(""), "Velmo Folder");
  EXPECT_EQ(s.GetServiceSubfolder(), "Orvanta/Pellaris");

  const EngineSettings engine = DeriveEngineSettings(s, EngineSettings(4));
  EXPECT_EQ(engine.manifestHost, build::kManifestHost);
  EXPECT_EQ(engine.logMask, -9);
}

TEST_F(BootstrapSettingsTest, WorkFolderIsBelowTheUsersTemporaryFolder) {
  const BootstrapSettings s = Build({"/opt/velmo/velmo-bootstrap"});
  EXPECT_EQ(s.GetWorkFolder(), temp_.path() + "/Orvanta/Pellaris");
  EXPECT_EQ(s.GetSkinDestination(""), temp_.path() + "/Orvanta/Pellaris/fedcba9876543210fedcba98");
}

TEST_F(BootstrapSettingsTest, WorkFolderIsRelativeWithoutATemporaryFolder) {
  ScopedEnv env;
  env.Set("TMPDIR", nullptr);
  env.Set("XDG_CACHE_HOME", nullptr);
  env.Set("HOME", nullptr);
  const BootstrapSettings s = Build({"/opt/velmo/velmo-bootstrap"});
  EXPECT_EQ(s.GetWorkFolder(), "Orvanta/Pellaris");
}

TEST_F(BootstrapSettingsTest, VersionAndMaskArgumentsApplyInEitherOrder) {
  for (const auto& args : {std::vector<std::string>{"prog", "log=5", "packageVersion=1.2"},
                           std::vector<std::string>{"prog", "packageVersion=1.2", "log=5"}}) {
    const BootstrapSettings s = Build(args);
    EXPECT_EQ(s.GetLogMask(), 5);
    EXPECT_EQ(s.GetPackageVersion(), "1.2");
    EXPECT_EQ(s.GetSkinVersion(), "?");
  }
  const BootstrapSettings skin = Build({"prog", "skinVersion=7.0.1", "packageVersion="});
  EXPECT_EQ(skin.GetSkinVersion(), "7.0.1");
  EXPECT_EQ(skin.GetPackageVersion(), "");  // given but empty is not "unspecified"
}

TEST_F(BootstrapSettingsTest, BadMaskStopsTheParsingAndKeepsEarlierValues) {
  const BootstrapSettings s = Build({"prog", "log=abc", "packageVersion=1.2"});
  EXPECT_EQ(s.GetPackageVersion(), "?");
  EXPECT_EQ(s.GetLogMask(), -9);

  const BootstrapSettings partial =
      Build({"prog", "skinVersion=3", "log=6", "log=4294967296", "skinVersion=4", "log=1"});
  EXPECT_EQ(partial.GetSkinVersion(), "3");
  EXPECT_EQ(partial.GetLogMask(), 6);

  const BootstrapSettings empty = Build({"prog", "log=", "packageVersion=9"});
  EXPECT_EQ(empty.GetPackageVersion(), "?");
}

TEST_F(BootstrapSettingsTest, MaskAcceptsWhatTheUnsignedConversionAccepts) {
  EXPECT_EQ(Build({"prog", "log=-9"}).GetLogMask(), -9);
  EXPECT_EQ(Build({"prog", "log= +12trailing"}).GetLogMask(), 12);
  EXPECT_EQ(Build({"prog", "log=4294967295"}).GetLogMask(), -1);
  EXPECT_EQ(Build({"prog", "log=0x10"}).GetLogMask(), 0);
}

TEST_F(BootstrapSettingsTest, LaterArgumentsOverrideAndNamesAreCaseSensitive) {
  EXPECT_EQ(Build({"prog", "packageVersion=1", "packageVersion=2"}).GetPackageVersion(), "2");
  EXPECT_EQ(Build({"prog", "PackageVersion=1"}).GetPackageVersion(), "?");
  EXPECT_EQ(Build({"prog", "LOG=1", "skinversion=2"}).GetLogMask(), -9);
  EXPECT_EQ(Build({"prog", " packageVersion=1"}).GetPackageVersion(), "?");
}

TEST_F(BootstrapSettingsTest, FirstElementIsExaminedToo) {
  const BootstrapSettings s = Build({"log=3"});
  EXPECT_EQ(s.GetLogMask(), 3);
}

TEST_F(BootstrapSettingsTest, ArgcArgvFormMatchesTheVectorForm) {
  const char* argv[] = {"/opt/velmo/velmo-bootstrap", "skinVersion=2", "log=1", nullptr};
  const BootstrapSettings s(PlainTable(), 3, argv);
  EXPECT_EQ(s.GetProgramPath(), "/opt/velmo/velmo-bootstrap");
  EXPECT_EQ(s.GetSkinVersion(), "2");
  EXPECT_EQ(s.GetLogMask(), 1);
}

TEST_F(BootstrapSettingsTest, MissingArgumentsStillGiveAnAbsoluteProgramPath) {
  const BootstrapSettings s(PlainTable(), 0, nullptr);
  EXPECT_FALSE(s.GetProgramPath().empty());
  EXPECT_EQ(s.GetProgramPath().front(), '/');
  EXPECT_EQ(s.GetPackageVersion(), "?");
}

TEST_F(BootstrapSettingsTest, RelativeProgramPathIsResolved) {
  const BootstrapSettings s = Build({"./bin/velmo-bootstrap"});
  ASSERT_FALSE(s.GetProgramPath().empty());
  EXPECT_EQ(s.GetProgramPath().front(), '/');
  EXPECT_NE(s.GetProgramPath().find("/bin/velmo-bootstrap"), std::string::npos);
}

TEST_F(BootstrapSettingsTest, LanguagesAndLocalizedValues) {
  MapStringTable table = PlainTable();
  table.Set(102, "manifests.example:8080");
  table.Set(108, "de=Spiel;fr=Jeu");
  table.Set(106, "de=aaaaaaaaaaaaaaaaaaaaaaaa;fr=bbbbbbbbbbbbbbbbbbbbbbbb");
  table.Set(129, "de=Deutsch;broken;;en=English;a=b=c");
  table.Set(130, "de");
  const BootstrapSettings s = Build({"prog"}, table);

  const KeyValueList languages = s.GetLanguages();
  ASSERT_EQ(languages.size(), 3u);
  EXPECT_EQ(languages[0].second, "Deutsch");
  EXPECT_EQ(languages[1].second, "English");
  EXPECT_EQ(languages[2].first, "a");
  EXPECT_EQ(languages[2].second, "b=c");
  EXPECT_EQ(s.InitialLanguage(), "de");

  EXPECT_EQ(s.GetDisplayName("fr"), "Jeu");
  EXPECT_EQ(s.GetDisplayName("es"), "");
  EXPECT_EQ(s.GetDisplayName(""), "de=Spiel;fr=Jeu");
  EXPECT_EQ(s.GetSkinDestination("fr"), s.GetWorkFolder() + "/bbbbbbbbbbbbbbbbbbbbbbbb");

  const EngineSettings engine = DeriveEngineSettings(s, EngineSettings(4));
  EXPECT_EQ(engine.manifestHost, "manifests.example:8080");
}

TEST_F(BootstrapSettingsTest, DefaultLanguageNeedsALanguageList) {
  MapStringTable table = PlainTable();
  table.Set(130, "de");
  const BootstrapSettings s = Build({"prog"}, table);
  EXPECT_EQ(s.GetDefaultLanguage(), "de");
  EXPECT_EQ(s.InitialLanguage(), "");
}

TEST_F(BootstrapSettingsTest, LongResourcesAreCutTo254Units) {
  MapStringTable table = PlainTable();
  table.Set(108, std::string(300, 'n'));
  table.Set(129, "de=" + std::string(297, 'x'));
  const BootstrapSettings s = Build({"prog"}, table);
  EXPECT_EQ(s.GetDisplayName(""), std::string(254, 'n'));
  ASSERT_EQ(s.GetLanguages().size(), 1u);
  EXPECT_EQ(s.GetLanguages()[0].second, std::string(251, 'x'));
}

TEST(StringToUInt32Test, ConvertsLikeA32BitStoul) {
  EXPECT_EQ(StringToUInt32("0"), 0u);
  EXPECT_EQ(StringToUInt32("5"), 5u);
  EXPECT_EQ(StringToUInt32("-9"), 0xFFFFFFF7u);
  EXPECT_EQ(StringToUInt32("-0"), 0u);
  EXPECT_EQ(StringToUInt32("-4294967295"), 1u);
  EXPECT_EQ(StringToUInt32(" \t\n+17"), 17u);
  EXPECT_EQ(StringToUInt32("42abc"), 42u);
  EXPECT_EQ(StringToUInt32("00000000000000000000042"), 42u);
  EXPECT_EQ(StringToUInt32("4294967295"), 0xFFFFFFFFu);
}

TEST(StringToUInt32Test, RejectsTextWithoutDigits) {
  for (const char* text : {"", " ", "abc", "-", "+", "- 5", "+-5", "x12"}) {
    try {
      StringToUInt32(text);
      ADD_FAILURE() << "no error for \"" << text << "\"";
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), "invalid stoul argument") << text;
    }
  }
}

TEST(StringToUInt32Test, RejectsValuesBeyond32Bits) {
  for (const char* text : {"4294967296", "-4294967296", "99999999999999999999999999"}) {
    try {
      StringToUInt32(text);
      ADD_FAILURE() << "no error for \"" << text << "\"";
    } catch (const std::out_of_range& e) {
      EXPECT_STREQ(e.what(), "stoul argument out of range") << text;
    }
  }
}

TEST(DeriveEngineSettingsTest, DoublesOnlyTheTransferThreads) {
  test::TempDir temp;
  const BootstrapSettings s = Build({"prog", "log=5"});
  const EngineSettings engine = DeriveEngineSettings(s, EngineSettings(4));
  EXPECT_EQ(engine.transferThreadCount, 12u);
  EXPECT_EQ(engine.workflowConcurrency, 6u);
  EXPECT_EQ(engine.parallelWorkCapacity, 6u);
  EXPECT_EQ(engine.logMask, 5);
  // Nothing else is touched.
  const EngineSettings defaults(4);
  EXPECT_EQ(engine.manifestRetryCount, defaults.manifestRetryCount);
  EXPECT_EQ(engine.transfersFolder, defaults.transfersFolder);
  EXPECT_EQ(engine.statisticsSmoothingFactor, defaults.statisticsSmoothingFactor);
}

}  // namespace
}  // namespace velmo
