#pragma once

// What velmo-fetch writes for people and for scripts: sizes and times in
// words, the progress line, the error line and the JSON-lines events.

#include <cstdint>
#include <string>
#include <vector>

#include "velmo/transfer/TransferStatus.h"

namespace velmo::fetch {

// Binary units with one decimal: "512 B", "1.5 KiB", "123.4 MiB", "1.0 GiB".
std::string FormatBytes(std::uint64_t bytes);

// "20 s", "3 min 05 s", "2 h 07 min"; "unknown" for a negative count.
std::string FormatDuration(std::int32_t seconds);

// "12% 123.4 MiB of 1.0 GiB, 45.6 MiB/s, 20 s left"; the time reads "time
// left unknown" while the engine has no estimate.
std::string ProgressLine(const TransferStatus& status);

// "<error name>: <cause>" (the name alone without a cause).
std::string ErrorLine(const TransferStatus& status);

// `text` as a JSON string, quotes included. UTF-8 passes through unchanged;
// quote, backslash and control characters are escaped.
std::string JsonString(const std::string& text);

// One JSON object on one line, members in the order they are added.
class JsonObject {
 public:
  JsonObject& String(const std::string& key, const std::string& value);
  JsonObject& Number(const std::string& key, std::uint64_t value);
  JsonObject& SignedNumber(const std::string& key, std::int64_t value);
  JsonObject& Null(const std::string& key);
  // `json` must already be valid JSON (an object or an array).
  JsonObject& Raw(const std::string& key, const std::string& json);
  std::string Text() const { return "{" + members_ + "}"; }

 private:
  void Key(const std::string& key);
  std::string members_;
};

// The counters of one download node, for the "nodes" event.
struct NodeCounters {
  std::string nodeId;
  std::string host;
  std::uint64_t bytes = 0;
  std::uint64_t requests = 0;  // successful and failed
  std::uint64_t failures = 0;
  std::uint64_t checksumFailures = 0;
};

// The events of `velmo-fetch --json`, one line each (no line feed); the
// schema is in docs/velmo-fetch-json.md.
std::string StartEvent(const TransferStatus& status, const std::string& versionId, bool known,
                       std::uint64_t files);
std::string ProgressEvent(const TransferStatus& status);
std::string NodesEvent(const std::vector<NodeCounters>& nodes);
// `state` is the transfer's state name, or "Interrupted" for a run stopped
// with Ctrl-C; `error` None gives "error": null.
std::string EndEvent(const std::string& transferId, const std::string& state, TransferError error,
                     const std::string& cause);

}  // namespace velmo::fetch
