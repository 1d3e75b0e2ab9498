#pragma once

#include <boost/property_tree/ptree_fwd.hpp>
#include <memory>

#include "velmo/transfer/TransferWorkInterface.h"

namespace velmo {

// The base every concrete transfer work puts before its Work base: the works of
// a transfer reach it only through this interface.
class TransferWork {
 public:
  explicit TransferWork(std::shared_ptr<TransferWorkInterface> workInterface)
      : workInterface_(std::move(workInterface)) {}
  virtual ~TransferWork() = default;
  TransferWork(const TransferWork&) = delete;
  TransferWork& operator=(const TransferWork&) = delete;

  // Brief: the transfer id only (read without the transfer's lock); full: every
  // parameter, copied under the lock.
  void DescribeTransfer(boost::property_tree::ptree& out, bool brief) const;

 protected:
  std::shared_ptr<TransferWorkInterface> workInterface_;
};

}  // namespace velmo
