#include "velmo/manifest/ManifestTrust.h"

#include <chrono>
#include <cstdio>

#include "velmo/manifest/Base64.h"
#include "velmo/manifest/Ed25519.h"
#include "velmo/manifest/FileManifest.h"
#include "velmo/manifest/ManifestExceptions.h"
#include "velmo/manifest/PackageManifest.h"

namespace velmo {

namespace {

std::int64_t SystemSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Days from 1970-01-01 to the given proleptic Gregorian date (Howard
// Hinnant's algorithm): no time zone and no locale take part.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

bool IsLeapYear(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(std::int64_t y, unsigned m) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// The digits text[from, from + count) as a number, or -1 when any is not a digit.
int Digits(const std::string& text, std::size_t from, std::size_t count) {
  int value = 0;
  for (std::size_t i = from; i < from + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

ManifestTrust::ManifestTrust(const std::vector<std::string>& base64Keys, Clock clock)
    : configured_(base64Keys.size()), clock_(clock ? std::move(clock) : Clock(SystemSeconds)) {
  for (const std::string& text : base64Keys) {
    auto key = DecodeBase64(text);
    if (key && key->size() == kEd25519KeySize) keys_.push_back(std::move(*key));
  }
}

void ManifestTrust::VerifySignature(const std::string& document,
                                    const std::string& signatureText) const {
  std::string text = signatureText;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty() && text.back() == '\r') text.pop_back();
  const auto signature = DecodeBase64(text);
  if (!signature || signature->size() != kEd25519SignatureSize) {
    throw ManifestSignatureException(
        "signature is malformed: expected one line of base64 of 64 bytes");
  }
  for (const std::string& key : keys_) {
    if (VerifyEd25519(key, document, *signature)) return;
  }
  throw ManifestSignatureException("signature does not match any trusted key");
}

void ManifestTrust::CheckExpiry(const boost::property_tree::ptree& root) const {
  const auto text = root.get_optional<std::string>("<xmlattr>.expires");
  if (!text) {
    throw ManifestSignatureException("signed document carries no expiry time");
  }
  const auto expires = ParseExpiryTime(*text);
  if (!expires) {
    throw ManifestSignatureException("expiry time is malformed: " + *text);
  }
  if (clock_() >= *expires) {
    throw ManifestSignatureException("signed document expired at " + *text);
  }
}

void ManifestTrust::CheckStrongHashes(const PackageManifest& package) const {
  for (const auto& file : package.GetFiles()) {
    if (!file->HasStrongHashes()) {
      throw ManifestSignatureException("file has no SHA-256 per chunk: " + file->GetPath());
    }
  }
}

bool IsEncodedPublicKey(const std::string& text) {
  const auto key = DecodeBase64(text);
  return key && key->size() == kEd25519KeySize;
}

std::vector<std::string> SplitKeyList(const std::string& text) {
  std::vector<std::string> keys;
  std::string current;
  for (char c : text) {
    if (c == ',' || c == ';' || c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (!current.empty()) keys.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) keys.push_back(std::move(current));
  return keys;
}

std::optional<std::int64_t> ParseExpiryTime(const std::string& text) {
  // 0123456789012345678 9
  // YYYY-MM-DDTHH:MM:SS Z
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z') {
    return std::nullopt;
  }
  const int year = Digits(text, 0, 4);
  const int month = Digits(text, 5, 2);
  const int day = Digits(text, 8, 2);
  const int hour = Digits(text, 11, 2);
  const int minute = Digits(text, 14, 2);
  const int second = Digits(text, 17, 2);
  if (year < 1970 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 59) {
    return std::nullopt;
  }
  if (static_cast<unsigned>(day) > DaysInMonth(year, static_cast<unsigned>(month))) {
    return std::nullopt;
  }
  return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
         std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 + second;
}

std::string FormatExpiryTime(std::int64_t secondsSinceEpoch) {
  std::int64_t days = secondsSinceEpoch / 86400;
  std::int64_t rest = secondsSinceEpoch % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromDays(days, year, month, day);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ",
                static_cast<long long>(year), month, day, static_cast<long long>(rest / 3600),
                static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
  return text;
}

}  // namespace velmo
