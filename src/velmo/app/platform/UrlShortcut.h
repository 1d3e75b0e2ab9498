#pragma once

#include <string>

#include "velmo/app/platform/SimpleShortcut.h"

namespace velmo {

class SharedFileFactory;

// An Internet shortcut ("<name>.url"): UTF-16LE text with a byte-order mark
// and CRLF line ends, four lines naming the target's file:// URL as both the
// link and the icon source. Desktop environments and browsers understand it.
class UrlShortcut : public SimpleShortcut {
 public:
  UrlShortcut(const std::string& name, std::string folder, SharedFileFactory* files);

  bool Create(const std::string& target) override;
  bool CopyTo(const std::string& folder, const std::string& newName) override;
  bool Remove(const std::string& folder, const std::string& name) override;

  // The shortcut file's bytes for `target`; throws std::invalid_argument
  // "Cannot convert path to URL" for a path that has no file URL.
  static std::string Contents(const std::string& target);
  // RFC 3986 file:// URL of an absolute path (unreserved bytes and '/' kept,
  // every other byte percent-encoded).
  static std::string FileUrl(const std::string& path);

 private:
  std::string fileName_;
  std::string folder_;
  SharedFileFactory* files_;
};

}  // namespace velmo
