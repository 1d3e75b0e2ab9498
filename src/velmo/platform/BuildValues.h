#pragma once

// Values fixed when a Velmo program is built: the bootstrapper's string table
// and the hosts it talks to. They are generated from the branding file selected
// with the CMake cache variable VELMO_BRANDING.

#include <cstddef>

namespace velmo::build {

struct StringEntry {
  unsigned id;
  const char* text;  // UTF-8
};

// Sorted by id and terminated by {0, nullptr}.
extern const StringEntry kStrings[];
extern const std::size_t kStringCount;

// Default manifest server host (with an optional ":port").
extern const char* const kManifestHost;
// Host name of the support site quoted in two user-facing messages.
extern const char* const kSupportHost;
// Analytics endpoints; an empty URL disables sending.
extern const char* const kAnalyticsEventsUrl;
extern const char* const kAnalyticsTransfersUrl;
// Publisher public keys the bootstrapper trusts (base64, separated by commas,
// semicolons or spaces); empty: manifests are not authenticated.
extern const char* const kSigningKeys;

}  // namespace velmo::build
