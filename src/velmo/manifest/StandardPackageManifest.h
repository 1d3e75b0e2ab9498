#pragma once

#include <set>
#include <string>
#include <vector>

#include "velmo/manifest/PackageManifest.h"

namespace velmo {

// The XML package manifest: root element `package` with id, name, partnerId,
// versionId, an optional run path and a `files` element holding one `file`
// element per file (see StandardFileManifest).
class StandardPackageManifest : public PackageManifest {
 public:
  StandardPackageManifest() = default;

  // Throws ManifestParseException when the document is invalid: a missing or
  // empty identity field, a child of `files` that is not a `file` (comments and
  // attributes of `files` included), an invalid file, or a run path that no
  // file has. The object is changed only when the whole document is valid.
  void Parse(const boost::property_tree::ptree& tree) override;
  // The `file` elements, one at a time as the document is read: a package of
  // a million files never becomes a tree of a million. Parse takes them with
  // the rest of the document and starts the next document afresh.
  std::vector<std::string> StreamedPath() const override { return {"package", "files", "file"}; }
  void ParseStreamed(const boost::property_tree::ptree& element) override;

  std::string GetId() const override { return id_; }
  std::string GetName() const override { return name_; }
  std::string GetPartnerId() const override { return partnerId_; }
  std::string GetVersionId() const override { return versionId_; }
  FileManifestList GetFiles() const override { return files_; }
  FileManifestList GetRunFiles() const override { return runFiles_; }
  FileManifestList GetOtherFiles() const override { return otherFiles_; }
  std::string GetRun() const override { return run_; }
  std::shared_ptr<const FileManifest> GetRunFile() const override { return runFile_; }

 private:
  std::string id_;
  std::string name_;
  std::string partnerId_;
  std::string versionId_;
  std::string run_;
  std::shared_ptr<const FileManifest> runFile_;
  FileManifestList files_;
  FileManifestList runFiles_;
  FileManifestList otherFiles_;
  // Files read so far of the document being read, and their canonical paths.
  FileManifestList streamed_;
  std::set<std::string> streamedPaths_;
};

}  // namespace velmo
