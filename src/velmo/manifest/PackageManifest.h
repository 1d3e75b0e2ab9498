#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "velmo/manifest/FileManifest.h"
#include "velmo/manifest/InputManifest.h"

namespace velmo {

using FileManifestList = std::vector<std::shared_ptr<const FileManifest>>;

// The description of one package: its identity, its files and the file to
// start after the download. Filled once by Parse, then shared read-only.
class PackageManifest : public InputManifest {
 public:
  ~PackageManifest() override = default;
  void Parse(const boost::property_tree::ptree& tree) override = 0;
  virtual std::string GetId() const = 0;
  virtual std::string GetName() const = 0;
  virtual std::string GetPartnerId() const = 0;
  virtual std::string GetVersionId() const = 0;
  // All files, in document order.
  virtual FileManifestList GetFiles() const = 0;
  // Every file whose path equals the run path (zero or one in practice).
  virtual FileManifestList GetRunFiles() const = 0;
  // All other files, in document order.
  virtual FileManifestList GetOtherFiles() const = 0;
  // The run path, empty when the package names none.
  virtual std::string GetRun() const = 0;
  virtual std::shared_ptr<const FileManifest> GetRunFile() const = 0;

  // Sum of the sizes of all files.
  std::uint64_t GetTotalSize() const;
};

}  // namespace velmo
