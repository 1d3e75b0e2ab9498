#pragma once

#include <sys/types.h>

#include <stdexcept>
#include <string>

namespace velmo {

// A folder that is not safe to keep our files in: someone else could swap
// what we write there (a program we are about to start, a stored transfer)
// before we read it back.
class UnsafeFolderError : public std::runtime_error {
 public:
  UnsafeFolderError(const std::string& folder, const std::string& reason)
      : std::runtime_error(folder + ": " + reason), folder_(folder) {}
  const std::string& Folder() const { return folder_; }

 private:
  std::string folder_;
};

// Makes the folders of `relative` below `base` (missing ones with mode 0700)
// and checks each of them, new or old, as ssh checks its folder: a real folder
// (a symbolic link in its place is refused), owned by `owner`, not writable by
// group or others. `base` itself is not checked (it may be a shared
// temporary folder such as /tmp); it is made with its parents when missing.
// Components are walked with openat, so no link is followed below `base`.
// Throws UnsafeFolderError naming the first folder that fails, also when one
// cannot be made.
void MakePrivateFolders(const std::string& base, const std::string& relative, uid_t owner);
// The same for the current user.
void MakePrivateFolders(const std::string& base, const std::string& relative);

// `folder` made as above when it lies below the user's temporary folder (the
// part below it is checked); elsewhere (a folder the user chose) its missing
// components are made with mode 0700 and nothing is checked.
void MakePrivateFolderPath(const std::string& folder);

// Makes `folder` and its missing parents with mode 0700 (what mkdir -p -m 700
// would do for each one it makes). Returns 0 or the errno of the failure.
int MakeFoldersWithParents(const std::string& folder);

}  // namespace velmo
