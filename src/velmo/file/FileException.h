#pragma once

#include <exception>

namespace velmo {

// Failures of the file layer. The type alone carries the information: callers
// turn each kind into its own transfer error, so none holds a message.
class FileException : public std::exception {
 public:
  const char* what() const noexcept override { return "FileException"; }
};

// The path cannot name a file in the folder (missing folder, bad name, escape).
class FileBadPathException : public FileException {
 public:
  const char* what() const noexcept override { return "FileBadPathException"; }
};

// The system refused access (permissions, read-only file system).
class FileInaccessibleException : public FileException {
 public:
  const char* what() const noexcept override { return "FileInaccessibleException"; }
};

// The disk, a quota or a file-size limit has no room left.
class FileInsufficientSpaceException : public FileException {
 public:
  const char* what() const noexcept override { return "FileInsufficientSpaceException"; }
};

// A mapping could not be made or its pages can no longer be reached.
class FileInvalidMapException : public FileException {
 public:
  const char* what() const noexcept override { return "FileInvalidMapException"; }
};

// A byte range lies outside the region an object may touch.
class FileOutOfBoundsException : public FileException {
 public:
  const char* what() const noexcept override { return "FileOutOfBoundsException"; }
};

// Another user holds the file, or it exists where a new one was asked for.
class FileInUseException : public FileException {
 public:
  const char* what() const noexcept override { return "FileInUseException"; }
};

// Anything the other kinds do not describe.
class FileUnknownException : public FileException {
 public:
  const char* what() const noexcept override { return "FileUnknownException"; }
};

// Throws the exception that stands for the errno value `error`. The one place
// where system errors of the file layer are classified.
[[noreturn]] void ThrowFileError(int error);

}  // namespace velmo
