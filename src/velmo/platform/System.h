#pragma once

#include <optional>
#include <string>

namespace velmo {

// The value of an environment variable, or nothing when it is not set. Every
// read of the environment goes through here: the programs never change their
// own environment once threads run, so reading it from any thread is safe,
// which a checker cannot see at each getenv call.
std::optional<std::string> EnvironmentValue(const char* name);

// The system's text for an errno value. Thread-safe (strerror is not: it may
// share one buffer between threads).
std::string ErrnoText(int error);

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
