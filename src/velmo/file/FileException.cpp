#include "velmo/file/FileException.h"

#include <cerrno>
#include <new>
#include <system_error>

namespace velmo {

void ThrowFileError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL:
    case EISDIR:
      throw FileBadPathException(error);
    case EACCES:
    case EPERM:
    case EROFS:
      throw FileInaccessibleException(error);
    case ENOMEM:
      throw std::bad_alloc();
    case EEXIST:
    case EBUSY:
    case ETXTBSY:
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
      throw FileInUseException(error);
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      throw FileInsufficientSpaceException(error);
    case EIO:
      throw FileInvalidMapException(error);
    default:
      throw FileUnknownException(error);
  }
}

std::string DescribeFileException(const FileException& exception) {
  if (exception.SystemError() != 0) {
    return std::system_category().message(exception.SystemError());
  }
  if (dynamic_cast<const FileReplacedException*>(&exception)) {
    return "the path no longer names the file written (deleted, moved or replaced)";
  }
  if (dynamic_cast<const FileBadPathException*>(&exception)) return "not a valid path";
  if (dynamic_cast<const FileInaccessibleException*>(&exception)) return "access denied";
  if (dynamic_cast<const FileInsufficientSpaceException*>(&exception)) return "no space left";
  if (dynamic_cast<const FileInvalidMapException*>(&exception)) {
    return "the file's mapping failed or its pages are gone";
  }
  if (dynamic_cast<const FileOutOfBoundsException*>(&exception)) {
    return "access outside the file's bounds";
  }
  if (dynamic_cast<const FileInUseException*>(&exception)) return "file in use";
  return "file error";
}

}  // namespace velmo
