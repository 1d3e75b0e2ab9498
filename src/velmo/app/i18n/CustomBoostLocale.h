#pragma once

#include <string>

#include "velmo/app/i18n/BoostLocale.h"
#include "velmo/platform/BuildValues.h"

namespace velmo {

class MessageCatalog;

// A BoostLocale whose translations come from a MessageCatalog, so that the
// catalogs embedded in the program are used instead of files on disk.
//
// Locales are generated with Boost.Locale's "std" back end and always in
// UTF-8: that back end is part of every Boost.Locale build and works without
// any generated system locale (it falls back to the C locale with Boost's own
// UTF-8 handling), and translations do not depend on the back end at all.
class CustomBoostLocale final : public BoostLocale {
 public:
  // `catalog` must outlive the locale. An empty `code` selects the user's
  // language from the environment (LC_ALL, LC_MESSAGES, LANG).
  CustomBoostLocale(const MessageCatalog& catalog, const std::string& code,
                    std::string supportHost = build::kSupportHost);

  // Makes `code` the current language. Boost.Locale then asks the catalog
  // for <root>/<name>/LC_MESSAGES/<domain>.mo with the name taken from the
  // language with country and variant, then with country, then alone
  // ("es_MX" before "es"); a language without a catalog translates nothing.
  void SetLanguage(const std::string& code) override;
};

// The locale name generated for a language code: its language, country and
// variant in UTF-8 ("de_AT" gives "de_AT.UTF-8", "sr_RS.ISO-8859-5@latin"
// gives "sr_RS.UTF-8@latin"). An empty code takes the first non-empty of
// LC_ALL, LC_MESSAGES and LANG; without any, or for "C" and "POSIX", the
// result is "C.UTF-8".
std::string LocaleNameForLanguage(const std::string& code);

}  // namespace velmo
