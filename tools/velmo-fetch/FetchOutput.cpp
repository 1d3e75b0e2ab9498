#include "FetchOutput.h"

#include <cstdio>

namespace velmo::fetch {

std::string FormatBytes(std::uint64_t bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024.0;
  std::size_t unit = 0;
  // 1023.95 and up would print as "1024.0": move to the next unit instead.
  while (value >= 1023.95 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string FormatDuration(std::int32_t seconds) {
  if (seconds < 0) return "unknown";
  char text[32];
  if (seconds < 60) {
    std::snprintf(text, sizeof text, "%d s", seconds);
  } else if (seconds < 3600) {
    std::snprintf(text, sizeof text, "%d min %02d s", seconds / 60, seconds % 60);
  } else {
    std::snprintf(text, sizeof text, "%d h %02d min", seconds / 3600, seconds / 60 % 60);
  }
  return text;
}

std::string ProgressLine(const TransferStatus& status) {
  const std::uint64_t total = status.totalBytes;
  const std::uint64_t done = status.progressBytes > total ? total : status.progressBytes;
  const int percent = total == 0 ? 0 : static_cast<int>(done * 100 / total);
  std::string line = std::to_string(percent) + "% " + FormatBytes(done) + " of " +
                     FormatBytes(total) + ", " + FormatBytes(status.speed) + "/s, ";
  if (status.secondsRemaining < 0) return line + "time left unknown";
  return line + FormatDuration(status.secondsRemaining) + " left";
}

std::string ErrorLine(const TransferStatus& status) {
  std::string line = ErrorName(status.error);
  if (!status.errorCause.empty()) line += ": " + status.errorCause;
  return line;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", byte);
          out += escape;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

void JsonObject::Key(const std::string& key) {
  if (!members_.empty()) members_ += ",";
  members_ += JsonString(key) + ":";
}

JsonObject& JsonObject::String(const std::string& key, const std::string& value) {
  Key(key);
  members_ += JsonString(value);
  return *this;
}

JsonObject& JsonObject::Number(const std::string& key, std::uint64_t value) {
  Key(key);
  members_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::SignedNumber(const std::string& key, std::int64_t value) {
  Key(key);
  members_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Null(const std::string& key) {
  Key(key);
  members_ += "null";
  return *this;
}

JsonObject& JsonObject::Raw(const std::string& key, const std::string& json) {
  Key(key);
  members_ += json;
  return *this;
}

std::string StartEvent(const TransferStatus& status, const std::string& versionId, bool known,
                       std::uint64_t files) {
  JsonObject event;
  event.String("event", "start")
      .String("transferId", status.transferId)
      .String("partner", status.partnerId)
      .String("package", status.packageId)
      .String("version", versionId);
  if (known) {
    event.Number("files", files).Number("totalBytes", status.totalBytes);
  } else {
    event.Null("files").Null("totalBytes");
  }
  return event.Text();
}

std::string ProgressEvent(const TransferStatus& status) {
  return JsonObject()
      .String("event", "progress")
      .String("state", StateName(status.state))
      .Number("bytes", status.progressBytes)
      .Number("verifiedBytes", status.completedBytes)
      .Number("totalBytes", status.totalBytes)
      .Number("bytesPerSecond", status.speed)
      .SignedNumber("secondsLeft", status.secondsRemaining)
      .Text();
}

std::string NodesEvent(const std::vector<NodeCounters>& nodes) {
  std::string array = "[";
  for (const NodeCounters& node : nodes) {
    if (array.size() > 1) array += ",";
    array += JsonObject()
                 .String("id", node.nodeId)
                 .String("host", node.host)
                 .Number("bytes", node.bytes)
                 .Number("requests", node.requests)
                 .Number("failures", node.failures)
                 .Number("checksumFailures", node.checksumFailures)
                 .Text();
  }
  array += "]";
  return JsonObject().String("event", "nodes").Raw("nodes", array).Text();
}

std::string EndEvent(const std::string& transferId, const std::string& state, TransferError error,
                     const std::string& cause) {
  JsonObject event;
  event.String("event", "end").String("transferId", transferId).String("state", state);
  if (error == TransferError::None) {
    event.Null("error");
  } else {
    event.Raw("error", JsonObject().String("name", ErrorName(error)).String("cause", cause).Text());
  }
  return event.Text();
}

}  // namespace velmo::fetch
