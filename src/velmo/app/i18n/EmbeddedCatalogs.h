#pragma once

// The gettext catalogs compiled into the program: every .po source of
// app/i18n/po is compiled with msgfmt at build time and embedded under its
// file name, the catalog language ("de", "es_AR", "zh_TW", ...).

#include <cstddef>

namespace velmo::catalogs {

struct Catalog {
  const char* language;
  const unsigned char* data;
  std::size_t size;
};

#if defined(VELMO_HAVE_CATALOGS)
// Terminated by {nullptr, nullptr, 0}.
extern const Catalog kCatalogs[];
#endif

// The program's table, or nullptr when it was built without catalogs.
inline const Catalog* EmbeddedCatalogs() {
#if defined(VELMO_HAVE_CATALOGS)
  return kCatalogs;
#else
  return nullptr;
#endif
}

}  // namespace velmo::catalogs
