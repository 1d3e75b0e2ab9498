#pragma once

#include <string>

namespace velmo {

// Number of online processors, taken as 1 when the system reports 0 or 1.
unsigned ProcessorCount();

// The user's own temporary folder: $TMPDIR when set and a directory, else
// $XDG_CACHE_HOME, else $HOME/.cache. Never the shared /tmp directly, because
// downloaded programs are started from below this folder. Returns an empty
// string when none of them can be determined.
std::string UserTempFolder();

// Joins two path parts: the leading '/' characters of `second` are removed and
// one '/' is put between the parts unless `first` is empty or already ends in one.
std::string JoinPath(const std::string& first, const std::string& second);

// Absolute path of the running program: argv0 made absolute against the
// current folder when it names a path, else the link /proc/self/exe.
std::string ProgramPath(const char* argv0);

}  // namespace velmo
