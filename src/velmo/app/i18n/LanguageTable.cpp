#include "velmo/app/i18n/LanguageTable.h"

#include "velmo/app/i18n/EmbeddedMessageCatalog.h"

namespace velmo {

const LanguageEntry kLanguageTable[] = {
    {"cs", 111, "cs"},
    {"de", 112, "de"},
    {"el", 113, "el"},
    {"es", 115, "es"},
    // Latin American Spanish: one catalog for every country that uses it.
    {"es_AR", 114, "es_AR"},
    {"es_BO", 114, "es_AR"},
    {"es_CL", 114, "es_AR"},
    {"es_CO", 114, "es_AR"},
    {"es_CR", 114, "es_AR"},
    {"es_DO", 114, "es_AR"},
    {"es_EC", 114, "es_AR"},
    {"es_SV", 114, "es_AR"},
    {"es_GT", 114, "es_AR"},
    {"es_HN", 114, "es_AR"},
    {"es_MX", 114, "es_AR"},
    {"es_NI", 114, "es_AR"},
    {"es_PA", 114, "es_AR"},
    {"es_PY", 114, "es_AR"},
    {"es_PE", 114, "es_AR"},
    {"es_PR", 114, "es_AR"},
    {"es_UY", 114, "es_AR"},
    {"es_VE", 114, "es_AR"},
    {"es_ES", 115, "es"},
    {"fr", 116, "fr"},
    {"it", 117, "it"},
    {"ja", 118, "ja"},
    {"ko", 119, "ko"},
    {"nl", 120, "nl"},
    {"pl", 121, "pl"},
    {"pt", 122, "pt"},
    {"ro", 123, "ro"},
    {"ru", 124, "ru"},
    {"th", 125, "th"},
    {"tr", 126, "tr"},
    {"zh", 127, "zh_CN"},
    {"zh_CN", 127, "zh_CN"},
    {"zh_SG", 127, "zh_CN"},
    {"zh_TW", 128, "zh_TW"},
    {"zh_HK", 128, "zh_TW"},
    {"zh_MO", 128, "zh_TW"},
};

const std::size_t kLanguageTableSize = sizeof kLanguageTable / sizeof kLanguageTable[0];

void AddLanguageTable(EmbeddedMessageCatalog& catalog) {
  for (const LanguageEntry& entry : kLanguageTable) {
    catalog.AddLanguage(entry.code, entry.catalogLanguage);
  }
}

}  // namespace velmo
