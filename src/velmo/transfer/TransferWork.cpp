#include "velmo/transfer/TransferWork.h"

#include <boost/property_tree/ptree.hpp>

namespace velmo {

void TransferWork::DescribeTransfer(boost::property_tree::ptree& out, bool brief) const {
  if (brief) {
    out.put("transferId", workInterface_->GetParamsRef().transferId);
    return;
  }
  const TransferParams params = workInterface_->GetParams();
  params.Describe(out);
}

}  // namespace velmo
