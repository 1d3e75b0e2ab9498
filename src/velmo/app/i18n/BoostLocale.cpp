#include "velmo/app/i18n/BoostLocale.h"

#include <boost/locale/format.hpp>
#include <boost/locale/message.hpp>
#include <utility>

#include "velmo/app/i18n/Messages.h"

namespace velmo {

BoostLocale::BoostLocale(std::string domain, std::string root, std::string language,
                         const MessageCatalog* catalog, std::string supportHost)
    : domain_(std::move(domain)),
      root_(std::move(root)),
      language_(std::move(language)),
      catalog_(catalog),
      supportHost_(std::move(supportHost)) {}

std::string BoostLocale::GetLanguage() const { return language_; }

std::string BoostLocale::Translate(const std::string& messageId) const {
  if (supportHost_.empty() || messageId.find(supportHost_) == std::string::npos) {
    return boost::locale::translate(messageId).str(locale_);
  }
  const std::string key = ReplaceAll(messageId, supportHost_, messages::kSupportHostToken);
  const std::string text = boost::locale::translate(key).str(locale_);
  // An id the catalogs do not know comes back as the key: undo the swap.
  return ReplaceAll(text, messages::kSupportHostToken, supportHost_);
}

std::string BoostLocale::RemainingTimeWords(std::int32_t hours, std::int32_t minutes,
                                            std::int32_t seconds) const {
  const char* id = nullptr;
  std::int32_t first = 0;
  std::int32_t second = 0;
  if (hours >= 2) {
    first = hours;
    if (minutes >= 2) {
      id = messages::kHoursMinutes;
      second = minutes;
    } else {
      id = minutes == 1 ? messages::kHoursOneMinute : messages::kHours;
    }
  } else if (hours == 1) {
    first = minutes;
    id = minutes >= 2 ? messages::kOneHourMinutes
                      : (minutes == 1 ? messages::kOneHourOneMinute : messages::kOneHour);
  } else if (minutes >= 2) {
    id = messages::kMinutes;
    first = minutes;
  } else if (minutes == 1) {
    id = messages::kOneMinute;
  } else if (seconds == 1) {
    id = messages::kOneSecond;
  } else {
    id = messages::kSeconds;
    first = seconds >= 2 ? seconds : 0;
  }
  // The classic locale keeps the figures plain (no grouping) even where the
  // language's own number format would add separators.
  boost::locale::format format(Translate(id));
  format % first % second;
  return format.str(std::locale::classic());
}

}  // namespace velmo
