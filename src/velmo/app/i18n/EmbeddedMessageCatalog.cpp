#include "velmo/app/i18n/EmbeddedMessageCatalog.h"

#include <cstdint>
#include <utility>

namespace velmo {

EmbeddedMessageCatalog::EmbeddedMessageCatalog(std::string domain,
                                               const catalogs::Catalog* catalogs)
    : domain_(std::move(domain)), table_(catalogs) {}

std::string EmbeddedMessageCatalog::GetRoot() const { return std::string(); }

std::string EmbeddedMessageCatalog::GetDomain() const { return domain_; }

void EmbeddedMessageCatalog::AddLanguage(const std::string& code,
                                         const std::string& catalogLanguage) {
  const std::string path = GetRoot() + "/" + code + "/LC_MESSAGES/" + domain_ + ".mo";
  catalogs_.emplace(path, catalogLanguage);  // emplace keeps an existing entry
}

std::string EmbeddedMessageCatalog::CatalogFor(const std::string& path) const {
  auto it = catalogs_.find(path);
  return it == catalogs_.end() ? std::string() : it->second;
}

std::vector<char> EmbeddedMessageCatalog::Load(const std::string& path,
                                               const std::string& /*encoding*/) const {
  auto it = catalogs_.find(path);
  if (it == catalogs_.end() || !table_) return {};
  for (const catalogs::Catalog* c = table_; c->language; ++c) {
    if (it->second != c->language) continue;
    if (!c->data || !IsWellFormedMo(c->data, c->size)) return {};
    return std::vector<char>(reinterpret_cast<const char*>(c->data),
                             reinterpret_cast<const char*>(c->data) + c->size);
  }
  return {};
}

namespace {

class MoReader {
 public:
  MoReader(const unsigned char* data, std::size_t size, bool bigEndian)
      : data_(data), size_(size), bigEndian_(bigEndian) {}

  bool Word(std::uint64_t offset, std::uint32_t* value) const {
    if (offset > size_ || size_ - offset < 4) return false;
    const unsigned char* p = data_ + offset;
    *value = bigEndian_ ? (std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
                           std::uint32_t{p[2]} << 8 | p[3])
                        : (std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 |
                           std::uint32_t{p[1]} << 8 | p[0]);
    return true;
  }

  // A table of `count` (length, offset) pairs at `tableOffset`, each string
  // inside the data and followed by a NUL.
  bool StringTable(std::uint32_t tableOffset, std::uint32_t count) const {
    for (std::uint64_t i = 0; i < count; ++i) {
      std::uint32_t length = 0;
      std::uint32_t offset = 0;
      if (!Word(tableOffset + 8 * i, &length) || !Word(tableOffset + 8 * i + 4, &offset)) {
        return false;
      }
      const std::uint64_t end = std::uint64_t{offset} + length;
      if (end >= size_ || data_[end] != 0) return false;
    }
    return true;
  }

 private:
  const unsigned char* data_;
  std::size_t size_;
  bool bigEndian_;
};

}  // namespace

bool IsWellFormedMo(const unsigned char* data, std::size_t size) {
  if (!data || size < 28) return false;
  const std::uint32_t le = std::uint32_t{data[3]} << 24 | std::uint32_t{data[2]} << 16 |
                           std::uint32_t{data[1]} << 8 | data[0];
  bool bigEndian = false;
  if (le == 0xde120495u) {
    bigEndian = true;
  } else if (le != 0x950412deu) {
    return false;
  }
  const MoReader reader(data, size, bigEndian);
  std::uint32_t count = 0;
  std::uint32_t keys = 0;
  std::uint32_t values = 0;
  std::uint32_t hashSize = 0;
  std::uint32_t hashOffset = 0;
  if (!reader.Word(8, &count) || !reader.Word(12, &keys) || !reader.Word(16, &values) ||
      !reader.Word(20, &hashSize) || !reader.Word(24, &hashOffset)) {
    return false;
  }
  if (!reader.StringTable(keys, count) || !reader.StringTable(values, count)) return false;
  // The hash table holds indexes (plus one) into the string tables.
  for (std::uint64_t i = 0; i < hashSize; ++i) {
    std::uint32_t index = 0;
    if (!reader.Word(hashOffset + 4 * i, &index) || index > count) return false;
  }
  return true;
}

}  // namespace velmo
