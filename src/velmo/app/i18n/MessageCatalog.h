#pragma once

#include <string>
#include <vector>

namespace velmo {

// A source of gettext catalogs for Boost.Locale's loader: it asks for files
// named <root>/<language>/LC_MESSAGES/<domain>.mo and gets their bytes.
class MessageCatalog {
 public:
  virtual ~MessageCatalog();

  // The root of the catalog paths.
  virtual std::string GetRoot() const = 0;
  // The gettext domain (the file name of the catalogs without ".mo").
  virtual std::string GetDomain() const = 0;
  // The content of the catalog file at `path`, or an empty vector when there
  // is none. Never throws for an unknown path.
  virtual std::vector<char> Load(const std::string& path, const std::string& encoding) const = 0;
};

}  // namespace velmo
