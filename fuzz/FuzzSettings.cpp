// The bootstrapper's own parsers: the command line and the string table's
// texts (key=value lists, localizable values, UTF-16 length limits).
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "velmo/app/BootstrapSettings.h"
#include "velmo/app/KeyValueList.h"
#include "velmo/app/StringTable.h"

namespace {

class FuzzStringTable : public velmo::StringTable {
 public:
  std::map<unsigned, std::string> entries;
  std::string Load(unsigned id) const override {
    const auto found = entries.find(id);
    return found == entries.end() ? std::string() : found->second;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velmo::fuzz::FuzzInput input(data, size);
  FuzzStringTable table;
  for (unsigned id :
       {velmo::BootstrapSettings::kHostId, velmo::BootstrapSettings::kPartnerIdId,
        velmo::BootstrapSettings::kProductPackageIdId, velmo::BootstrapSettings::kSkinPackageIdId,
        velmo::BootstrapSettings::kDisplayNameId, velmo::BootstrapSettings::kProductFolderId,
        velmo::BootstrapSettings::kLanguagesId, velmo::BootstrapSettings::kDefaultLanguageId}) {
    table.entries[id] = input.Text();
  }
  std::vector<std::string> args;
  // The program's own path stays a plain name: resolving it reads the disk.
  args.push_back("velmo-bootstrap");
  while (!input.Empty() && args.size() < 16) args.push_back(input.Text());

  const velmo::BootstrapSettings settings(table, args);
  for (const auto& [code, name] : settings.GetLanguages()) {
    if (code.find(';') != std::string::npos || name.find(';') != std::string::npos) {
      __builtin_trap();
    }
    // Table texts are cut to the unit limit, 4 bytes per unit at most.
    if (settings.GetDisplayName(code).size() > 4 * velmo::kMaxStringUnits) __builtin_trap();
    settings.GetSkinDestination(code);
    settings.GetProductPackageId(code);
  }
  settings.GetProductFolder(settings.InitialLanguage());

  const std::string text = input.Rest();
  const std::string limited = velmo::LimitUtf16Units(text, 7);
  if (text.compare(0, limited.size(), limited) != 0 || limited.size() > 4 * 7) __builtin_trap();
  for (const auto& [key, value] : velmo::ParseKeyValueList(text)) {
    if (key.find(';') != std::string::npos || key.find('=') != std::string::npos) __builtin_trap();
    velmo::Localized(text, key);
  }
  return 0;
}
