#include "velmo/manifest/StandardPackageManifest.h"

#include <set>

#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/manifest/ManifestFields.h"
#include "velmo/manifest/StandardFileManifest.h"

namespace velmo {

namespace {

// The path with empty and "." components dropped: "a//b" and "./a/b" name
// the same file as "a/b".
std::string CanonicalPath(const std::string& path) {
  std::string canonical;
  std::string::size_type start = 0;
  while (start <= path.size()) {
    auto end = path.find('/', start);
    if (end == std::string::npos) {
      end = path.size();
    }
    const auto component = path.substr(start, end - start);
    if (!component.empty() && component != ".") {
      if (!canonical.empty()) {
        canonical.push_back('/');
      }
      canonical += component;
    }
    start = end + 1;
  }
  return canonical;
}

// Two entries naming one file would have two writers fill it with different
// sizes and checksums, so a package must name each file once.
std::shared_ptr<StandardFileManifest> ParseFile(const boost::property_tree::ptree& element,
                                                std::set<std::string>& seenPaths) {
  auto file = std::make_shared<StandardFileManifest>();
  file->Parse(element);
  if (!seenPaths.insert(CanonicalPath(file->GetPath())).second) {
    throw ManifestParseException("two files name the same path: " + file->GetPath());
  }
  return file;
}

}  // namespace

void StandardPackageManifest::ParseStreamed(const boost::property_tree::ptree& element) {
  streamed_.push_back(ParseFile(element, streamedPaths_));
}

void StandardPackageManifest::Parse(const boost::property_tree::ptree& tree) {
  // Whatever happens below, the next document starts without this one's files.
  FileManifestList streamed;
  streamed.swap(streamed_);
  std::set<std::string> seenPaths;
  seenPaths.swap(streamedPaths_);

  const auto packageNode = tree.find("package");
  if (packageNode == tree.not_found()) {
    throw ManifestParseException("document has no package element");
  }
  const auto& package = packageNode->second;
  StandardPackageManifest parsed;
  parsed.id_ = RequiredField(package, "id");
  parsed.name_ = RequiredField(package, "name");
  parsed.partnerId_ = RequiredField(package, "partnerId");
  parsed.versionId_ = RequiredField(package, "versionId");
  parsed.run_ = OptionalField(package, "run").value_or(std::string());

  const auto filesNode = package.find("files");
  if (filesNode == package.not_found()) {
    throw ManifestParseException("package has no files element");
  }
  parsed.files_ = std::move(streamed);
  for (const auto& child : filesNode->second) {
    if (child.first != "file") {
      throw ManifestParseException("files holds a child that is not a file: " + child.first);
    }
    parsed.files_.push_back(ParseFile(child.second, seenPaths));
  }

  if (parsed.id_.empty() || parsed.name_.empty() || parsed.partnerId_.empty() ||
      parsed.versionId_.empty()) {
    throw ManifestParseException("package identity field is empty");
  }
  for (const auto& file : parsed.files_) {
    if (file->GetPath() == parsed.run_) {
      parsed.runFile_ = file;
      parsed.runFiles_.push_back(file);
    } else {
      parsed.otherFiles_.push_back(file);
    }
  }
  if (!parsed.run_.empty() && !parsed.runFile_) {
    throw ManifestParseException("run names a path that no file has");
  }
  *this = std::move(parsed);
}

}  // namespace velmo
