#pragma once

#include <cstddef>

namespace velmo {

class EmbeddedMessageCatalog;

// One language code the program translates into, and the catalog that serves
// it. `catalogId` is the catalog's number (shared by every code it serves,
// 111 to 128); `catalogLanguage` names the embedded catalog (the
// file name of its .po source).
struct LanguageEntry {
  const char* code;
  int catalogId;
  const char* catalogLanguage;
};

// Every language code the program knows, in the order they are registered.
// English has no entry: its texts are the message ids themselves.
extern const LanguageEntry kLanguageTable[];
extern const std::size_t kLanguageTableSize;

// Registers every entry of kLanguageTable with `catalog`, in table order.
void AddLanguageTable(EmbeddedMessageCatalog& catalog);

}  // namespace velmo
