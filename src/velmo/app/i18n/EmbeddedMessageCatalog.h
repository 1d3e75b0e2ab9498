#pragma once

#include <map>
#include <string>
#include <vector>

#include "velmo/app/i18n/EmbeddedCatalogs.h"
#include "velmo/app/i18n/MessageCatalog.h"

namespace velmo {

// Serves the catalogs compiled into the program. Each language code the
// program knows is mapped to one embedded catalog, so that several codes
// ("es_MX", "es_AR", ...) share one translation.
//
// Built on the main thread before the locale exists; afterwards only read, so
// Load may be called from any thread.
class EmbeddedMessageCatalog final : public MessageCatalog {
 public:
  // `catalogs` is a table terminated by {nullptr, nullptr, 0}; the default is
  // the program's own (none when it was built without catalogs).
  explicit EmbeddedMessageCatalog(std::string domain,
                                  const catalogs::Catalog* catalogs = catalogs::EmbeddedCatalogs());

  std::string GetRoot() const override;
  std::string GetDomain() const override;
  // The bytes of the embedded catalog mapped to `path`; empty when the path is
  // unknown, the catalog is missing from the program or it is not a
  // well-formed MO file. `encoding` is not used: every catalog is UTF-8.
  std::vector<char> Load(const std::string& path, const std::string& encoding) const override;

  // Maps the path of language `code` (<root>/<code>/LC_MESSAGES/<domain>.mo)
  // to the embedded catalog `catalogLanguage`. A path already mapped keeps
  // its first catalog.
  void AddLanguage(const std::string& code, const std::string& catalogLanguage);

  // The catalog language mapped to `path`, or an empty string.
  std::string CatalogFor(const std::string& path) const;

 private:
  std::string domain_;
  const catalogs::Catalog* table_;
  std::map<std::string, std::string> catalogs_;  // path -> catalog language
};

// True when `data` is a GNU MO file whose every string lies inside it and is
// NUL-terminated, so a parser that trusts the offsets cannot read past it.
bool IsWellFormedMo(const unsigned char* data, std::size_t size);

}  // namespace velmo
