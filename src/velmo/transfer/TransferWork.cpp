#include "velmo/transfer/TransferWork.h"

#include <boost/property_tree/ptree.hpp>

namespace velmo {

void TransferWork::DescribeTransfer(boost::property_tree::ptree& out, bool brief) const {
  if (brief) {
    out.put("transferId", workInterface->GetParamsRef().transferId);
    return;
  }
  const TransferParams params = workInterface->GetParams();
  params.Describe(out);
}

}  // namespace velmo
