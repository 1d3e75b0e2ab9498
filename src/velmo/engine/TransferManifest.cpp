#include "velmo/engine/TransferManifest.h"

#include <new>

#include "velmo/manifest/ManifestExceptions.h"

namespace velmo {

using boost::property_tree::ptree;

namespace {

std::string ReadMember(const ptree& tree, const char* key) {
  const auto found = tree.find(key);
  if (found == tree.not_found()) {
    throw ManifestParseException(std::string("TransferManifest: missing \"") + key + "\"");
  }
  // A nested object or array in place of the string would otherwise read as
  // an empty string and restore a transfer with no id or no folder.
  if (!found->second.empty()) {
    throw ManifestParseException(std::string("TransferManifest: \"") + key + "\" is not a string");
  }
  return found->second.data();
}

}  // namespace

void TransferManifest::Parse(const ptree& tree) {
  params = TransferParams();
  try {
    params.transferId = ReadMember(tree, "transferId");
    params.partnerId = ReadMember(tree, "partnerId");
    params.packageId = ReadMember(tree, "packageId");
    params.versionId = ReadMember(tree, "versionId");
    params.destPath = ReadMember(tree, "destPath");
  } catch (const ManifestParseException&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;  // out of memory stays itself, not a damaged document
  } catch (const std::exception& e) {
    throw ManifestParseException(std::string("TransferManifest: ") + e.what());
  }
}

void TransferManifest::Write(ptree& tree) const {
  try {
    params.Describe(tree);
  } catch (const std::bad_alloc&) {
    throw;  // out of memory stays itself, not a damaged document
  } catch (const std::exception& e) {
    throw ManifestParseException(std::string("TransferManifest: ") + e.what());
  }
}

}  // namespace velmo
