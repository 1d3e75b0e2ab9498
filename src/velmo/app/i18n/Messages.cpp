#include "velmo/app/i18n/Messages.h"

#include "velmo/platform/BuildValues.h"

namespace velmo::messages {

std::string SupportSentence(const std::string& supportHost) {
  return "Please visit " + supportHost + " for further assistance.";
}

std::string UnexpectedError(const std::string& supportHost) {
  return "An unexpected error occurred. " + SupportSentence(supportHost);
}

std::string LaunchFailed(const std::string& supportHost) {
  return "The {1} Downloader could not be launched. " + SupportSentence(supportHost);
}

std::string SupportSentence() { return SupportSentence(build::kSupportHost); }
std::string UnexpectedError() { return UnexpectedError(build::kSupportHost); }
std::string LaunchFailed() { return LaunchFailed(build::kSupportHost); }

}  // namespace velmo::messages
