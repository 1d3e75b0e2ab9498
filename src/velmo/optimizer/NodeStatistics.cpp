#include "velmo/optimizer/NodeStatistics.h"

#include <algorithm>

namespace velmo {

void NodeStatistics::Write(boost::property_tree::ptree& tree) const {
  const std::uint64_t errors = GetErrors();
  const std::uint64_t requests = GetRequests();
  const std::uint32_t totalTimeMs = GetTotalTimeMs();
  std::uint64_t speed = 0;
  if (totalTimeMs != 0) {
    speed =
        static_cast<std::uint64_t>(static_cast<double>(GetSuccessBytes()) / (totalTimeMs / 1000.0));
  }
  tree.put("Requests", requests + errors);
  tree.put("Errors", errors);
  tree.put("Bytes", GetBytes());
  tree.put("Average Request Speed", speed);
}

void NodeStatistics::Record(std::uint64_t bytes, std::uint32_t timeMs, bool failed) {
  bytes_.Add(bytes);
  totalTimeMs_.Add(std::max<std::uint32_t>(timeMs, 1));
  if (failed) {
    errors_.Add(1);
  } else {
    requests_.Add(1);
    successBytes_.Add(bytes);
  }
}

void NodeStatistics::RecordChecksumFailure(std::uint64_t bytes) {
  requests_.Subtract(1);
  successBytes_.Subtract(bytes);
  errors_.Add(1);
}

}  // namespace velmo
