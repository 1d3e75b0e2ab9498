#pragma once

// The analytics records. Each writes itself into a property tree, which the
// engine's JSON writer turns into the body the endpoints receive; every value is
// written as a string (counts, byte totals, seconds).

#include <boost/property_tree/ptree.hpp>
#include <cstdint>
#include <string>

#include "velmo/manifest/OutputManifest.h"

namespace velmo {

// The ids every event record starts with, then "metrics" and "dimensions".
class EventAnalyticsRequest : public OutputManifest {
 public:
  ~EventAnalyticsRequest() override = default;
  void Write(boost::property_tree::ptree& tree) const override;
  virtual void WriteMetrics(boost::property_tree::ptree& metrics) const = 0;
  virtual void WriteDimensions(boost::property_tree::ptree& dimensions) const = 0;

 protected:
  EventAnalyticsRequest(std::string pid, std::string pkgid, std::string vid);

 private:
  std::string pid_;
  std::string pkgid_;
  std::string vid_;
};

// A counter: metrics { counterKey: "1" }, dimensions {}.
class SimpleEventAnalyticsRequest : public EventAnalyticsRequest {
 public:
  SimpleEventAnalyticsRequest(std::string pid, std::string pkgid, std::string vid,
                              std::string counterKey);
  void WriteMetrics(boost::property_tree::ptree& metrics) const override;
  void WriteDimensions(boost::property_tree::ptree& dimensions) const override;

 private:
  std::string counterKey_;
};

// A counter with the error text as the "error" dimension ({} when empty).
class ErrorAnalyticsRequest : public SimpleEventAnalyticsRequest {
 public:
  ErrorAnalyticsRequest(std::string pid, std::string pkgid, std::string vid, std::string counterKey,
                        std::string error);
  void WriteDimensions(boost::property_tree::ptree& dimensions) const override;

 private:
  std::string error_;
};

// Bytes and request time of one download node since the last report:
// metrics { bytes, requestTime (seconds) }, dimensions { cdn: host }.
class OptimizerAnalyticsRequest : public EventAnalyticsRequest {
 public:
  OptimizerAnalyticsRequest(std::string pid, std::string pkgid, std::string vid,
                            std::uint64_t bytes, std::uint64_t requestTimeMs, std::string host);
  void WriteMetrics(boost::property_tree::ptree& metrics) const override;
  void WriteDimensions(boost::property_tree::ptree& dimensions) const override;

 private:
  std::uint64_t bytes_;
  std::uint64_t requestTimeMs_;
  std::string host_;
};

// The state, bytes and active time of a transfer, for the transfers endpoint.
// `state` is the numeric TransferState.
class TransferAnalyticsRequest : public OutputManifest {
 public:
  TransferAnalyticsRequest(std::string pid, std::string pkgid, std::string vid, std::string tid,
                           std::uint8_t state, std::uint64_t bytes, std::uint64_t durationMs);
  void Write(boost::property_tree::ptree& tree) const override;

  std::uint64_t GetBytes() const { return bytes_; }
  std::uint64_t GetDurationMs() const { return durationMs_; }

 private:
  std::string pid_;
  std::string pkgid_;
  std::string vid_;
  std::string tid_;
  std::uint8_t state_;
  std::uint64_t bytes_;
  std::uint64_t durationMs_;
};

// "suspended", "completed" or "canceled" for the states 6, 7 and 8; "active"
// for every other state.
const char* AnalyticsStatusText(std::uint8_t state);

// Milliseconds as seconds in the engine's double form: 1500 -> "1.5".
std::string AnalyticsSeconds(std::uint64_t milliseconds);

}  // namespace velmo
