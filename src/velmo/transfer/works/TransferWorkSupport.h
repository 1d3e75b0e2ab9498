#pragma once

#include <boost/property_tree/ptree.hpp>

#include "velmo/telemetry/WorkLogManager.h"
#include "velmo/transfer/TransferWork.h"
#include "velmo/transfer/TransferWorkInterface.h"
#include "velmo/work/SimpleWork.h"

namespace velmo {

// Every transfer work reports its completions to the work log; the works that
// retry in place report their retries too.
inline void ObserveByWorkLog(Work& work, TransferWorkInterface& workInterface) {
  if (WorkLogManager* log = workInterface.GetBehavior().workLog) work.AddCompleteCallback(log);
}

inline void ObserveRetriesByWorkLog(SimpleWork& work, TransferWorkInterface& workInterface) {
  if (WorkLogManager* log = workInterface.GetBehavior().workLog) work.AddRetryCallback(log);
}

// "name", then "important" when set, then the transfer's id or parameters.
inline void DescribeTransferWork(boost::property_tree::ptree& out, const char* name, bool important,
                                 const TransferWork& work, bool brief) {
  out.put("name", name);
  if (important) out.put("important", true);
  work.DescribeTransfer(out, brief);
}

}  // namespace velmo
