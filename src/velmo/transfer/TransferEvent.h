#pragma once

// A step of a transfer's life as telemetry sees it. The state machine makes one
// event per step and calls Dispatch once on the thread that changed the state;
// Dispatch only creates record works and submits them to the analytics sender
// and the work log, whose own threads send and write them. The works own copies
// of everything they need, so an event may be destroyed right after Dispatch.
// An event with no analytics sender or no work log in its behavior skips that
// side.

#include <boost/property_tree/ptree_fwd.hpp>
#include <cstdint>
#include <memory>
#include <string>

#include "velmo/engine/TransferBehavior.h"
#include "velmo/engine/TransferParams.h"

namespace velmo {

class NodeListManifest;
class OutputManifest;
class TrackEventWork;

// What an event copies from its transfer when it is made.
struct TransferEventContext {
  TransferParams params;
  TransferBehavior behavior;
  std::shared_ptr<NodeListManifest> nodeList;  // empty before the node list is known
};

class TransferEvent {
 public:
  // Analytics categories: the events endpoint and the transfers endpoint.
  static constexpr std::int32_t kEventsCategory = 1;
  static constexpr std::int32_t kTransfersCategory = 32;

  virtual ~TransferEvent() = default;
  TransferEvent(const TransferEvent&) = delete;
  TransferEvent& operator=(const TransferEvent&) = delete;

  // ReportAnalytics, then Log.
  virtual void Dispatch();
  virtual void ReportAnalytics() = 0;
  // One record of `category` holding `request`'s object.
  virtual void Track(std::int32_t category, const OutputManifest& request);
  // One work-log record: "event" = the name, "params" = the five identifiers,
  // then what DescribeLog adds.
  virtual void Log();

  // One object per download node, in list order, with the bytes and request
  // time each node gained since its previous report; each appended as an
  // empty-key child of `work`'s tree. Nothing without a node list.
  void AppendNodeMetrics(TrackEventWork& work);

  const std::string& GetName() const { return name_; }

 protected:
  TransferEvent(const TransferEventContext& context, std::string name);

  // The category-1 array record of end, error and periodic events: `request`'s
  // object first when given, then the node metrics.
  void TrackWithNodeMetrics(const OutputManifest* request);

  // Extra members of the work-log record; none by default.
  virtual void DescribeLog(boost::property_tree::ptree& /*record*/) const {}

  const TransferParams params_;
  const TransferBehavior behavior_;
  const std::shared_ptr<NodeListManifest> nodeList_;
  const std::string name_;
};

}  // namespace velmo
