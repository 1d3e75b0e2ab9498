#include "velmo/telemetry/AnalyticsRequests.h"

#include "velmo/telemetry/JsonWriter.h"

namespace velmo {

using boost::property_tree::ptree;

namespace {

// Keys are set (writing twice leaves one value per key) with a separator that
// cannot occur in them, so a key with a dot stays one key instead of a path.
ptree::path_type Key(const std::string& key) { return ptree::path_type(key, '\0'); }

void PutKey(ptree& tree, const std::string& key, const std::string& value) {
  tree.put(Key(key), value);
}

}  // namespace

EventAnalyticsRequest::EventAnalyticsRequest(std::string pid, std::string pkgid, std::string vid)
    : pid_(std::move(pid)), pkgid_(std::move(pkgid)), vid_(std::move(vid)) {}

void EventAnalyticsRequest::Write(ptree& tree) const {
  PutKey(tree, "pid", pid_);
  PutKey(tree, "pkgid", pkgid_);
  PutKey(tree, "vid", vid_);
  ptree metrics;
  WriteMetrics(metrics);
  tree.put_child(Key("metrics"), metrics);
  ptree dimensions;
  WriteDimensions(dimensions);
  tree.put_child(Key("dimensions"), dimensions);
}

SimpleEventAnalyticsRequest::SimpleEventAnalyticsRequest(std::string pid, std::string pkgid,
                                                         std::string vid, std::string counterKey)
    : EventAnalyticsRequest(std::move(pid), std::move(pkgid), std::move(vid)),
      counterKey_(std::move(counterKey)) {}

void SimpleEventAnalyticsRequest::WriteMetrics(ptree& metrics) const {
  PutKey(metrics, counterKey_, "1");
}

void SimpleEventAnalyticsRequest::WriteDimensions(ptree& dimensions) const {
  dimensions.data() = kJsonEmptyObject;
}

ErrorAnalyticsRequest::ErrorAnalyticsRequest(std::string pid, std::string pkgid, std::string vid,
                                             std::string counterKey, std::string error)
    : SimpleEventAnalyticsRequest(std::move(pid), std::move(pkgid), std::move(vid),
                                  std::move(counterKey)),
      error_(std::move(error)) {}

void ErrorAnalyticsRequest::WriteDimensions(ptree& dimensions) const {
  if (error_.empty()) {
    dimensions.data() = kJsonEmptyObject;
  } else {
    PutKey(dimensions, "error", error_);
  }
}

OptimizerAnalyticsRequest::OptimizerAnalyticsRequest(std::string pid, std::string pkgid,
                                                     std::string vid, std::uint64_t bytes,
                                                     std::uint64_t requestTimeMs, std::string host)
    : EventAnalyticsRequest(std::move(pid), std::move(pkgid), std::move(vid)),
      bytes_(bytes),
      requestTimeMs_(requestTimeMs),
      host_(std::move(host)) {}

void OptimizerAnalyticsRequest::WriteMetrics(ptree& metrics) const {
  PutKey(metrics, "bytes", std::to_string(bytes_));
  PutKey(metrics, "requestTime", AnalyticsSeconds(requestTimeMs_));
}

void OptimizerAnalyticsRequest::WriteDimensions(ptree& dimensions) const {
  PutKey(dimensions, "cdn", host_);
}

TransferAnalyticsRequest::TransferAnalyticsRequest(std::string pid, std::string pkgid,
                                                   std::string vid, std::string tid,
                                                   std::uint8_t state, std::uint64_t bytes,
                                                   std::uint64_t durationMs)
    : pid_(std::move(pid)),
      pkgid_(std::move(pkgid)),
      vid_(std::move(vid)),
      tid_(std::move(tid)),
      state_(state),
      bytes_(bytes),
      durationMs_(durationMs) {}

void TransferAnalyticsRequest::Write(ptree& tree) const {
  PutKey(tree, "pid", pid_);
  PutKey(tree, "pkgid", pkgid_);
  PutKey(tree, "vid", vid_);
  PutKey(tree, "tid", tid_);
  PutKey(tree, "status", AnalyticsStatusText(state_));
  PutKey(tree, "transferBytes", std::to_string(bytes_));
  PutKey(tree, "duration", AnalyticsSeconds(durationMs_));
}

const char* AnalyticsStatusText(std::uint8_t state) {
  switch (state) {
    case 6:
      return "suspended";
    case 7:
      return "completed";
    case 8:
      return "canceled";
    default:
      return "active";
  }
}

std::string AnalyticsSeconds(std::uint64_t milliseconds) {
  return FormatJsonDouble(static_cast<double>(milliseconds) / 1000.0);
}

}  // namespace velmo
