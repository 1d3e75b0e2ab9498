#pragma once

#include <locale>
#include <string>

#include "velmo/app/i18n/SimpleLocale.h"

namespace velmo {

class MessageCatalog;

// A SimpleLocale over a std::locale that carries Boost.Locale facets and a
// gettext messages facet. How the locale is made is left to the derived
// class (SetLanguage).
class BoostLocale : public SimpleLocale {
 public:
  std::string GetLanguage() const override;
  // Boost.Locale's translation in the current locale; the id itself when the
  // catalog has no entry or there is no catalog. An id that names the support
  // host is looked up under the host-free form the catalogs hold.
  std::string Translate(const std::string& messageId) const override;
  // Chooses the sentence by the hours, minutes and seconds and fills it with
  // Boost.Locale's formatter, the figures written as plain integers.
  std::string RemainingTimeWords(std::int32_t hours, std::int32_t minutes,
                                 std::int32_t seconds) const override;

 protected:
  BoostLocale(std::string domain, std::string root, std::string language,
              const MessageCatalog* catalog, std::string supportHost);

  std::string domain_;
  std::string root_;
  std::string language_;
  std::locale locale_;
  const MessageCatalog* catalog_;  // not owned; outlives this locale
  std::string supportHost_;        // build value quoted in two message ids
};

}  // namespace velmo
