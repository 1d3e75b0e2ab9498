#include "velmo/transfer/TransferEvent.h"

#include "velmo/manifest/NodeListManifest.h"
#include "velmo/manifest/OutputManifest.h"
#include "velmo/optimizer/NodeStatistics.h"
#include "velmo/telemetry/AnalyticsRequests.h"
#include "velmo/telemetry/EventManager.h"
#include "velmo/telemetry/LogLevel.h"
#include "velmo/telemetry/TrackEventWork.h"
#include "velmo/telemetry/WorkLogManager.h"

namespace velmo {

using boost::property_tree::ptree;

TransferEvent::TransferEvent(const TransferEventContext& context, std::string name)
    : params_(context.params),
      behavior_(context.behavior),
      nodeList_(context.nodeList),
      name_(std::move(name)) {}

void TransferEvent::Dispatch() {
  ReportAnalytics();
  Log();
}

void TransferEvent::Track(std::int32_t category, const OutputManifest& request) {
  EventManager* analytics = behavior_.analytics;
  if (analytics == nullptr) return;
  std::shared_ptr<TrackEventWork> work = analytics->CreateEvent(category);
  request.Write(work->GetTree());
  analytics->Submit(std::move(work));
}

void TransferEvent::TrackWithNodeMetrics(const OutputManifest* request) {
  EventManager* analytics = behavior_.analytics;
  if (analytics == nullptr) return;
  std::shared_ptr<TrackEventWork> work = analytics->CreateEvent(kEventsCategory);
  if (request != nullptr) {
    ptree& entry = work->GetTree().push_back(ptree::value_type(std::string(), ptree()))->second;
    request->Write(entry);
  }
  AppendNodeMetrics(*work);
  analytics->Submit(std::move(work));
}

void TransferEvent::AppendNodeMetrics(TrackEventWork& work) {
  if (!nodeList_) return;
  for (const std::shared_ptr<NodeManifest>& node : nodeList_->GetNodes()) {
    if (!node) continue;
    std::shared_ptr<NodeStatistics> statistics = node->GetStatistics();
    std::uint64_t requestTimeMs = 0;
    std::uint64_t bytes = 0;
    if (statistics) {
      requestTimeMs = statistics->TakeTotalTimeMsDelta();
      bytes = statistics->TakeBytesDelta();
    }
    OptimizerAnalyticsRequest request(params_.partnerId, params_.packageId, params_.versionId,
                                      bytes, requestTimeMs, node->GetHost());
    ptree& entry = work.GetTree().push_back(ptree::value_type(std::string(), ptree()))->second;
    request.Write(entry);
  }
}

void TransferEvent::Log() {
  WorkLogManager* log = behavior_.workLog;
  if (log == nullptr) return;
  std::shared_ptr<TrackEventWork> work = log->CreateEvent(kLogTransferEvent);
  ptree& tree = work->GetTree();
  tree.put(ptree::path_type("event", '\0'), name_);
  ptree params;
  params_.Describe(params);
  tree.put_child(ptree::path_type("params", '\0'), params);
  DescribeLog(tree);
  log->Submit(std::move(work));
}

}  // namespace velmo
