#pragma once

namespace velmo {

// How OpenFile treats an existing or missing file. Values are stable: they are
// passed around as plain integers by callers that store them.
enum class FileOpenMode : int {
  OpenOrCreate = 0,  // create when missing; parent folders are created
  CreateNew = 1,     // fail with FileInUseException when it exists; parents created
  OpenExisting = 2,  // fail with FileBadPathException when missing
};

}  // namespace velmo
