#include "velmo/transfer/works/TransferSharedFileData.h"

#include <boost/property_tree/ptree.hpp>

namespace velmo {

void TransferSharedFileData::Describe(boost::property_tree::ptree& out) const {
  out.put("filePath", filePath);
  out.put("fileSize", fileSize);
}

}  // namespace velmo
