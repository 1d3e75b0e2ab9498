#pragma once

namespace velmo {

// The version value that means "no particular version". Every version field
// starts with it; a manifest request made for it asks the server for the
// current version, and it is never passed on to a launched program.
inline constexpr char UnspecifiedVersion[] = "?";

}  // namespace velmo
