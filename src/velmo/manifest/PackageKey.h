#pragma once

#include <string>
#include <utility>

namespace velmo {

// The package key names one package manifest on the manifest server: the
// package id alone (the server's current version), or id + "/" + version id.

// packageId when versionId is empty, else packageId + "/" + versionId.
std::string MakePackageKey(const std::string& packageId, const std::string& versionId);

// Splits at the first "/": (package id, version id). The version id may itself
// hold "/"; with no "/" the version id is empty.
std::pair<std::string, std::string> SplitPackageKey(const std::string& key);

}  // namespace velmo
