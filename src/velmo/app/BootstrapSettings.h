#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "velmo/app/KeyValueList.h"
#include "velmo/engine/EngineSettings.h"

namespace velmo {

class StringTable;

// What the bootstrapper itself needs: the identifiers of the two packages it
// downloads, the values it hands on to the program it launches, its display
// name, its language list and its work folder. Built once from the string
// table and the command line; building never fails, a missing source simply
// leaves its default. Immutable afterwards, so copies may be read from any
// thread.
class BootstrapSettings {
 public:
  // String-table numbers of the values read from the table.
  enum StringId : unsigned {
    kHostId = 102,
    kDownloaderPartnerIdId = 103,
    kPartnerIdId = 104,
    kProductPackageIdId = 105,
    kSkinPackageIdId = 106,
    kDownloaderPackageIdId = 107,
    kDisplayNameId = 108,
    kProductFolderId = 109,
    kLanguagesId = 129,
    kDefaultLanguageId = 130,
  };

  // `args` is the command line, the program's own path first. Every element,
  // the first included, may be one of "packageVersion=", "skinVersion=" or
  // "log=" (case-sensitive; a later one overrides an earlier one). A "log="
  // value that does not convert ends the parsing and keeps what was set
  // before it. With an empty `args` nothing is parsed.
  BootstrapSettings(const StringTable& table, const std::vector<std::string>& args);
  BootstrapSettings(const StringTable& table, int argc, const char* const* argv);

  // Absolute path of the running program (for the shortcut that leads back to it).
  std::string GetProgramPath() const { return programPath_; }
  // Manifest server host; empty when the build keeps the engine's default.
  std::string GetHost() const { return host_; }
  std::string GetDownloaderPartnerId() const { return downloaderPartnerId_; }
  std::string GetPartnerId() const { return partnerId_; }
  std::string GetServiceSubfolder() const { return serviceSubfolder_; }
  std::string GetDownloaderPackageId() const { return downloaderPackageId_; }
  // The user's temporary folder joined with the service subfolder.
  std::string GetWorkFolder() const { return workFolder_; }
  std::string GetSkinVersion() const { return skinVersion_; }
  std::string GetPackageVersion() const { return packageVersion_; }
  std::string GetDefaultLanguage() const { return defaultLanguage_; }
  std::int32_t GetLogMask() const { return logMask_; }
  // (code, name) pairs offered in the language choice, in table order.
  KeyValueList GetLanguages() const { return languages_; }

  // Localizable values, read for `language` (empty: no language chosen).
  std::string GetDisplayName(const std::string& language) const;
  std::string GetProductFolder(const std::string& language) const;
  std::string GetSkinPackageId(const std::string& language) const;
  std::string GetProductPackageId(const std::string& language) const;
  // The folder that receives the skin package: work folder / skin package id.
  std::string GetSkinDestination(const std::string& language) const;

  // The language selected at start: the default language when the build
  // offers a choice, else none.
  std::string InitialLanguage() const;

  static constexpr const char* kServiceSubfolder = "Orvanta/Pellaris";

 private:
  void ParseArguments(const std::vector<std::string>& args);

  std::string programPath_;
  std::string host_;
  std::string downloaderPartnerId_;
  std::string partnerId_;
  std::string serviceSubfolder_ = kServiceSubfolder;
  std::string downloaderPackageId_;
  std::string workFolder_;
  std::string displayName_;
  std::string productFolder_;
  std::string skinPackageId_;
  std::string skinVersion_;
  std::string productPackageId_;
  std::string packageVersion_;
  std::string defaultLanguage_;
  std::int32_t logMask_ = -9;
  KeyValueList languages_;
};

// Converts `text` the way the C library's unsigned conversion does for a
// 32-bit unsigned long: leading white space and one sign are accepted,
// characters after the digits are ignored, and a leading '-' negates modulo
// 2^32 ("-9" gives 0xFFFFFFF7). Throws std::invalid_argument("invalid stoul
// argument") when there are no digits and std::out_of_range("stoul argument
// out of range") when the magnitude does not fit into 32 bits.
std::uint32_t StringToUInt32(const std::string& text);

// The engine settings the bootstrapper runs with: `defaults` with the host of
// the string table (when it names one), the branding's signing keys as the
// trusted keys, the command line's log mask, and
// twice the default transfer thread count. Nothing else can be changed from
// outside the program.
EngineSettings DeriveEngineSettings(const BootstrapSettings& bootstrap,
                                    EngineSettings defaults = EngineSettings());

}  // namespace velmo
