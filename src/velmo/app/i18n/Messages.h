#pragma once

#include <string>

namespace velmo::messages {

// The message ids of every text the bootstrapper shows. English is the ids
// themselves; the embedded catalogs translate them. "{1}" and "{2}" are
// filled in after translation.
inline constexpr char kTitle[] = "{1} Downloader";
inline constexpr char kErrorCaption[] = "{1} Downloader Error";
inline constexpr char kLaunching[] = "Launching {1} Downloader";
inline constexpr char kCalculating[] = "Calculating time remaining";

inline constexpr char kOneHour[] = "1 hour remaining";
inline constexpr char kOneHourOneMinute[] = "1 hour, 1 minute remaining";
inline constexpr char kOneHourMinutes[] = "1 hour, {1} minutes remaining";
inline constexpr char kHours[] = "{1} hours remaining";
inline constexpr char kHoursOneMinute[] = "{1} hours, 1 minute remaining";
inline constexpr char kHoursMinutes[] = "{1} hours, {2} minutes remaining";
inline constexpr char kOneMinute[] = "1 minute remaining";
inline constexpr char kMinutes[] = "{1} minutes remaining";
inline constexpr char kOneSecond[] = "1 second remaining";
inline constexpr char kSeconds[] = "{1} seconds remaining";

inline constexpr char kConnectionError[] =
    "We couldn't establish a connection. Could you please check your connection and try again?";
inline constexpr char kOutOfMemory[] =
    "The system is out of memory; are you running too many programs? Free up some memory and "
    "try again.";
inline constexpr char kDiskFull[] =
    "It looks like your system disk is out of space. Free some space and give it another try.";
inline constexpr char kDiskWrite[] =
    "We're having some trouble writing to your disk. Can you make sure your user account has "
    "sufficient permissions and try again?";

// Two error texts end in a sentence naming the support site, whose host name
// is a build value. The catalogs cannot know it, so they hold these ids with
// kSupportHostToken in its place; the locale swaps the host for the token
// before the lookup and back after it.
inline constexpr char kSupportHostToken[] = "{supportHost}";

// "Please visit <host> for further assistance."
std::string SupportSentence(const std::string& supportHost);
// "An unexpected error occurred. " followed by the support sentence.
std::string UnexpectedError(const std::string& supportHost);
// "The {1} Downloader could not be launched. " followed by the support sentence.
std::string LaunchFailed(const std::string& supportHost);

// The same three with the program's own support host.
std::string SupportSentence();
std::string UnexpectedError();
std::string LaunchFailed();

}  // namespace velmo::messages
