#include "velmo/app/BootstrapSettings.h"

#include <stdexcept>

#include "velmo/app/StringTable.h"
#include "velmo/engine/UnspecifiedVersion.h"
#include "velmo/manifest/ManifestTrust.h"
#include "velmo/platform/BuildValues.h"
#include "velmo/platform/System.h"

namespace velmo {

namespace {

std::string Read(const StringTable& table, unsigned id) {
  // The cut is the reader's rule, so it holds for every table.
  return LimitUtf16Units(table.Load(id), kMaxStringUnits);
}

bool StartsWith(const std::string& text, const char* prefix, std::string* rest) {
  const std::string p(prefix);
  if (text.compare(0, p.size(), p) != 0) return false;
  *rest = text.substr(p.size());
  return true;
}

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::vector<std::string> ToVector(int argc, const char* const* argv) {
  std::vector<std::string> args;
  for (int i = 0; argv && i < argc && argv[i]; ++i) args.emplace_back(argv[i]);
  return args;
}

}  // namespace

std::uint32_t StringToUInt32(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size() || text[i] < '0' || text[i] > '9') {
    throw std::invalid_argument("invalid stoul argument");
  }
  std::uint64_t magnitude = 0;
  bool overflow = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + static_cast<std::uint64_t>(text[i] - '0');
    // Keep scanning after an overflow (the digits still belong to the number)
    // but never let the accumulator itself wrap.
    if (magnitude > 0xFFFFFFFFull) {
      overflow = true;
      magnitude = 0x100000000ull;
    }
  }
  if (overflow) throw std::out_of_range("stoul argument out of range");
  const auto value = static_cast<std::uint32_t>(magnitude);
  return negative ? static_cast<std::uint32_t>(0u - value) : value;
}

BootstrapSettings::BootstrapSettings(const StringTable& table, int argc, const char* const* argv)
    : BootstrapSettings(table, ToVector(argc, argv)) {}

BootstrapSettings::BootstrapSettings(const StringTable& table, const std::vector<std::string>& args)
    : skinVersion_(UnspecifiedVersion), packageVersion_(UnspecifiedVersion) {
  host_ = Read(table, kHostId);
  downloaderPartnerId_ = Read(table, kDownloaderPartnerIdId);
  partnerId_ = Read(table, kPartnerIdId);
  displayName_ = Read(table, kDisplayNameId);
  productFolder_ = Read(table, kProductFolderId);
  downloaderPackageId_ = Read(table, kDownloaderPackageIdId);
  // Without a usable temporary folder the work folder stays relative; the
  // dialog's folder check reports that, not this constructor.
  workFolder_ = JoinPath(UserTempFolder(), serviceSubfolder_);
  skinPackageId_ = Read(table, kSkinPackageIdId);
  productPackageId_ = Read(table, kProductPackageIdId);
  defaultLanguage_ = Read(table, kDefaultLanguageId);
  ParseArguments(args);
  languages_ = ParseKeyValueList(Read(table, kLanguagesId));
}

void BootstrapSettings::ParseArguments(const std::vector<std::string>& args) {
  // The shortcut needs a path it can start again; the kernel's argv[0] may be
  // relative or a bare name found through PATH, so it is resolved.
  programPath_ = velmo::ProgramPath(args.empty() ? nullptr : args.front().c_str());
  for (const std::string& arg : args) {
    std::string rest;
    if (StartsWith(arg, "packageVersion=", &rest)) {
      packageVersion_ = rest;
    } else if (StartsWith(arg, "skinVersion=", &rest)) {
      skinVersion_ = rest;
    } else if (StartsWith(arg, "log=", &rest)) {
      try {
        logMask_ = static_cast<std::int32_t>(StringToUInt32(rest));
      } catch (const std::logic_error&) {
        return;  // a bad mask ends the parsing; earlier values stay
      }
    }
  }
}

std::string BootstrapSettings::GetDisplayName(const std::string& language) const {
  return Localized(displayName_, language);
}

std::string BootstrapSettings::GetProductFolder(const std::string& language) const {
  return Localized(productFolder_, language);
}

std::string BootstrapSettings::GetSkinPackageId(const std::string& language) const {
  return Localized(skinPackageId_, language);
}

std::string BootstrapSettings::GetProductPackageId(const std::string& language) const {
  return Localized(productPackageId_, language);
}

std::string BootstrapSettings::GetSkinDestination(const std::string& language) const {
  return JoinPath(workFolder_, GetSkinPackageId(language));
}

std::string BootstrapSettings::InitialLanguage() const {
  return languages_.empty() ? std::string() : defaultLanguage_;
}

EngineSettings DeriveEngineSettings(const BootstrapSettings& bootstrap, EngineSettings defaults) {
  if (!bootstrap.GetHost().empty()) defaults.manifestHost = bootstrap.GetHost();
  // The branding's keys are the only source of trust: nothing on the command
  // line or in a stored transfer can add or remove one.
  defaults.trustedKeys = SplitKeyList(build::kSigningKeys);
  defaults.logMask = bootstrap.GetLogMask();
  // Only the pool is doubled: the bootstrapper runs two transfers at once,
  // while each workflow and lazy parallel work keeps its own P + 2 limit.
  defaults.transferThreadCount = 2 * defaults.transferThreadCount;
  return defaults;
}

}  // namespace velmo
