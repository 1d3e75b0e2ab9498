// The stored-transfer loader: any file found in the transfers folder ends in
// a restored transfer's identifiers or a ManifestException.
#include <cstdint>
#include <new>
#include <sstream>
#include <string>

#include "velmo/engine/JsonTempFileManifestStoreImpl.h"
#include "velmo/engine/TransferManifest.h"
#include "velmo/manifest/ManifestExceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static velmo::JsonTempFileManifestStoreImpl store("transfers", nullptr);
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    std::istringstream in(text);
    boost::property_tree::ptree tree;
    store.Parse(in, tree);
    velmo::TransferManifest manifest;
    manifest.Parse(tree);
    // What loads is written back the same way, and reads back the same.
    std::ostringstream out;
    store.Serialize(tree, out);
    std::istringstream again(out.str());
    boost::property_tree::ptree reread;
    store.Parse(again, reread);
    velmo::TransferManifest second;
    second.Parse(reread);
    if (second.params.transferId != manifest.params.transferId ||
        second.params.destPath != manifest.params.destPath) {
      __builtin_trap();
    }
  } catch (const velmo::ManifestException&) {
  } catch (const std::bad_alloc&) {
  }
  return 0;
}
