#pragma once

#include <exception>
#include <string>

namespace velmo {

// Failures of the file layer. The type carries the classification: callers
// turn each kind into its own transfer error. The system's error number, when
// a system call failed, is kept for the message people read.
class FileException : public std::exception {
 public:
  explicit FileException(int systemError = 0) : systemError_(systemError) {}
  const char* what() const noexcept override { return "FileException"; }
  // The errno value behind the failure; 0 when no system call failed.
  int SystemError() const { return systemError_; }

 private:
  int systemError_;
};

// The path cannot name a file in the folder (missing folder, bad name, escape).
class FileBadPathException : public FileException {
 public:
  using FileException::FileException;
  const char* what() const noexcept override { return "FileBadPathException"; }
};

// The path no longer names the file written to it: deleted, moved, or
// replaced by another file, a folder or a link while the transfer ran.
class FileReplacedException : public FileBadPathException {
 public:
  using FileBadPathException::FileBadPathException;
  const char* what() const noexcept override { return "FileReplacedException"; }
};

// The system refused access (permissions, read-only file system).
class FileInaccessibleException : public FileException {
 public:
  using FileException::FileException;
  const char* what() const noexcept override { return "FileInaccessibleException"; }
};

// The disk, a quota or a file-size limit has no room left.
class FileInsufficientSpaceException : public FileException {
 public:
  using FileException::FileException;
  const char* what() const noexcept override { return "FileInsufficientSpaceException"; }
};

// A mapping could not be made or its pages can no longer be reached.
class FileInvalidMapException : public FileException {
 public:
  using FileException::FileException;
  const char* what() const noexcept override { return "FileInvalidMapException"; }
};

// A byte range lies outside the region an object may touch.
class FileOutOfBoundsException : public FileException {
 public:
  using FileException::FileException;
  const char* what() const noexcept override { return "FileOutOfBoundsException"; }
};

// Another user holds the file, or it exists where a new one was asked for.
class FileInUseException : public FileException {
 public:
  using FileException::FileException;
  const char* what() const noexcept override { return "FileInUseException"; }
};

// Anything the other kinds do not describe.
class FileUnknownException : public FileException {
 public:
  using FileException::FileException;
  const char* what() const noexcept override { return "FileUnknownException"; }
};

// Throws the exception that stands for the errno value `error`. The one place
// where system errors of the file layer are classified.
[[noreturn]] void ThrowFileError(int error);

// In words: the system's message when there is an error number, else what the
// kind of failure means ("not a valid path", "file in use").
std::string DescribeFileException(const FileException& exception);

}  // namespace velmo
