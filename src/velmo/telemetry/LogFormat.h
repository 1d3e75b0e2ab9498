#pragma once

// Names and line prefixes of the work-log files. Both use UTC so that they do
// not depend on the machine's time zone.

#include <chrono>
#include <string>

namespace velmo {

// "Log.%Y.%m.%d.%H.%M.%S.txt" for `counter` 0; with a counter n > 0 the name
// gets ".n" appended after the whole name ("Log.2014.05.02.18.03.07.txt.1").
std::string LogFileName(std::chrono::system_clock::time_point when, unsigned counter);

// "[%Y-%m-%d %H:%M:%S] ": 22 characters in front of every record.
std::string LogLinePrefix(std::chrono::system_clock::time_point when);

}  // namespace velmo
